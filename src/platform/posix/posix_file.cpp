#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/file.h"

namespace platform {

NewFile::~NewFile() { close(); }

NewFile::NewFile(NewFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

bool NewFile::write(const void* data, std::size_t size) {
  if (handle_ == kNone) return false;
  const int fd = static_cast<int>(handle_);
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;  // no progress: a full disk
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool NewFile::close() {
  if (handle_ == kNone) return false;
  const int fd = static_cast<int>(handle_);
  handle_ = kNone;
  // Not retried on EINTR: on Linux the descriptor is gone either way.
  return ::close(fd) == 0;
}

CreateResult createNewFile(const char* name, NewFile* file) {
  file->close();
  // O_EXCL also refuses a dangling symbolic link, so a save never writes
  // through a link either.
  const int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::EXISTS : CreateResult::FAILED;
  file->handle_ = fd;
  return CreateResult::CREATED;
}

bool removeFile(const char* name) { return std::remove(name) == 0; }

}  // namespace platform
