// Creating a new file that must not replace anything: the check for a free
// name and the creation are one step, so a file that appears meanwhile is
// never overwritten.
#pragma once

#include <cstddef>

namespace platform {

enum class CreateResult {
  CREATED,  // the file did not exist and now does, empty and open for writing
  EXISTS,   // something already has that name; nothing was changed
  FAILED,   // the file could not be created (missing folder, no rights, ...)
};

// Owns one file opened for writing by createNewFile; closes it (ignoring
// the result) when destroyed. Move-only.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&& other) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool isOpen() const { return handle_ != kNone; }

  // Writes all size bytes, however many calls the system needs. False when
  // a write fails or the file is not open.
  bool write(const void* data, std::size_t size);

  // Closes the file. False when it was not open or the close failed (data
  // that could not be flushed counts as a failed close).
  bool close();

 private:
  friend CreateResult createNewFile(const char* name, NewFile* file);
  // A file descriptor on POSIX, a HANDLE on Windows, held as an integer.
  static constexpr long long kNone = -1;
  long long handle_ = kNone;
};

// Creates name exclusively (O_EXCL on POSIX, CREATE_NEW on Windows) for
// binary writing. On CREATED, *file owns the open file; otherwise *file is
// left closed.
CreateResult createNewFile(const char* name, NewFile* file);

// Removes the file name; false when it cannot be removed.
bool removeFile(const char* name);

}  // namespace platform
