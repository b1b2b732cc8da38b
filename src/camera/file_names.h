// Picking the name under which a gathered object is saved: the first free
// name of a numbered series, never an existing one.
#pragma once

#include <cstdint>

#include "core/image_names.h"

namespace camera {

// Room for a composed name; a name is only used when it fits savedFileName.
constexpr int FILE_NAME_BUFFER = kSavedFileNameSize;
constexpr int MAX_SAVED_NAME = kSavedFileNameSize - 1;

// The last renaming counter tried; the 16-bit counter never wraps back.
constexpr std::uint32_t LAST_NAME_COUNTER = 65535;

enum class NameResult {
  FOUND,      // name holds a free name of at most MAX_SAVED_NAME characters
  TOO_LONG,   // the candidate would not fit; an error line was printed
  EXHAUSTED,  // every candidate up to LAST_NAME_COUNTER exists; an error line was printed
};

// ".jpg", ".tif", ".nef", ".ndf", or ".dat" for any other file data type.
const char* extensionForFileDataType(std::uint32_t fileDataType);

// base + extension, else base-001 + extension, base-002 + extension and so
// on (four or more digits from 1000 on), printing "ERROR: Trying to write to
// existing file... renaming [%s].\n" on standard error for each candidate
// after the first. base is read up to its zero byte or MAX_SAVED_NAME
// characters.
NameResult chooseImageFileName(const char* base, const char* extension,
                               char (&name)[FILE_NAME_BUFFER]);

// stem001.raw, stem002.raw and so on in the working directory, silently.
NameResult chooseRawFileName(const char* stem, char (&name)[FILE_NAME_BUFFER]);

}  // namespace camera
