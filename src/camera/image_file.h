// Writing one gathered image to disk, whole or not at all, and telling
// whether a name is taken. The file operations go through a table that tests
// replace to inject a short write or a failed close.
#pragma once

#include <cstddef>
#include <cstdio>

namespace camera {

enum class WriteResult {
  WRITTEN,       // every byte written and the file closed
  CANNOT_OPEN,   // nothing was created
  CANNOT_WRITE,  // a short write or a failed close; the partial file was removed
};

// True when anything (file, folder, link, even a dangling one) has this
// name, so that a save never overwrites it or writes through a link. A name
// whose status cannot be read counts as free; opening it then fails.
bool imageFileExists(const char* name);

// Creates name (binary) and writes size bytes in one write, then closes it.
WriteResult writeImageFile(const char* name, const unsigned char* data, std::size_t size);

// The operations used above. Camera worker thread only, like their callers.
struct ImageFileOps {
  bool (*exists)(const char* name);
  std::FILE* (*open)(const char* name);  // for writing, binary
  std::size_t (*write)(const unsigned char* data, std::size_t size, std::FILE* file);
  int (*close)(std::FILE* file);  // 0 on success
};
extern ImageFileOps imageFileOps;
const ImageFileOps& defaultImageFileOps();

}  // namespace camera
