#include "rig/control_fifo.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace rig {

ControlFifo::~ControlFifo() { close(); }

bool ControlFifo::open(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISFIFO(info.st_mode)) {
      std::fprintf(stderr, "skerrow-rig: %s exists and is not a FIFO; not replaced\n",
                   path.c_str());
      return false;
    }
  } else if (::mkfifo(path.c_str(), 0600) != 0) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot make the FIFO %s: %s\n", path.c_str(),
                 std::strerror(error));
    return false;
  }
  path_ = path;
  // Non-blocking, so that the open does not wait for a writer.
  reader_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (reader_ >= 0) writer_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (reader_ < 0 || writer_ < 0) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot open the FIFO %s: %s\n", path.c_str(),
                 std::strerror(error));
    close();
    return false;
  }
  return true;
}

bool ControlFifo::readLine(std::string* line, int timeoutMs) {
  for (;;) {
    const std::size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      *line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    if (buffer_.size() >= kMaxLine) {
      // Handed on cut; what follows up to its line end is dropped.
      *line = buffer_.substr(0, kMaxLine);
      buffer_.clear();
      skipping_ = true;
      return true;
    }
    if (reader_ < 0) return false;
    pollfd watched{reader_, POLLIN, 0};
    if (::poll(&watched, 1, timeoutMs) <= 0) return false;
    char bytes[128];
    const ssize_t n = ::read(reader_, bytes, sizeof bytes);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (skipping_) {
        skipping_ = bytes[i] != '\n';
        continue;
      }
      buffer_.push_back(bytes[i]);
    }
  }
}

void ControlFifo::close() {
  if (reader_ >= 0) ::close(reader_);
  if (writer_ >= 0) ::close(writer_);
  reader_ = writer_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

}  // namespace rig
