#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/file.h"

namespace platform {
namespace {

HANDLE asHandle(long long value) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

}  // namespace

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
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    // WriteFile takes a 32-bit count: large images go in pieces.
    const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_), next, piece, &written, nullptr) || written == 0) return false;
    next += written;
    size -= written;
  }
  return true;
}

bool NewFile::close() {
  if (handle_ == kNone) return false;
  const HANDLE handle = asHandle(handle_);
  handle_ = kNone;
  return CloseHandle(handle) != 0;
}

CreateResult createNewFile(const char* name, NewFile* file) {
  file->close();
  // CREATE_NEW fails when the name exists, in one step with the creation.
  const HANDLE handle =
      CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::EXISTS
                                                                       : CreateResult::FAILED;
  }
  file->handle_ = static_cast<long long>(reinterpret_cast<std::intptr_t>(handle));
  return CreateResult::CREATED;
}

bool removeFile(const char* name) { return std::remove(name) == 0; }

}  // namespace platform
