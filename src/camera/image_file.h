// Writing one gathered image to disk, whole or not at all, under a name that
// nothing had: the file is created exclusively, so a file that appears
// between the check for a free name and the creation is never replaced. The
// file operations go through a table that tests replace to inject a short
// write, a failed close or a name taken at the last moment.
#pragma once

#include <cstddef>

#include "platform/file.h"

namespace camera {

enum class WriteResult {
  WRITTEN,       // every byte written and the file closed
  NAME_TAKEN,    // something has the name (it appeared after the check); nothing changed
  CANNOT_OPEN,   // nothing was created
  CANNOT_WRITE,  // a short write or a failed close; the partial file was removed
};

// True when anything (file, folder, link, even a dangling one) has this
// name. A name whose status cannot be read counts as free; the exclusive
// creation then decides.
bool imageFileExists(const char* name);

// Creates name exclusively and writes size bytes, then closes it.
WriteResult writeImageFile(const char* name, const unsigned char* data, std::size_t size);

// The operations used above. Camera worker thread only, like their callers.
struct ImageFileOps {
  bool (*exists)(const char* name);
  platform::CreateResult (*create)(const char* name, platform::NewFile* file);
  bool (*write)(platform::NewFile& file, const unsigned char* data, std::size_t size);
  bool (*close)(platform::NewFile& file);
};
extern ImageFileOps imageFileOps;
const ImageFileOps& defaultImageFileOps();

}  // namespace camera
