// Saving a gathered object under the first free name of a numbered series,
// never over an existing file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/image_names.h"

namespace camera {

// Room for a composed name; a name is only used when it fits savedFileName.
constexpr int FILE_NAME_BUFFER = kSavedFileNameSize;
constexpr int MAX_SAVED_NAME = kSavedFileNameSize - 1;

// The last renaming counter tried; the 16-bit counter never wraps back.
constexpr std::uint32_t LAST_NAME_COUNTER = 65535;

enum class SaveResult {
  SAVED,         // name holds the name written, of at most MAX_SAVED_NAME characters
  TOO_LONG,      // a candidate would not fit; an error line was printed
  EXHAUSTED,     // every candidate up to LAST_NAME_COUNTER is taken; an error line was printed
  CANNOT_OPEN,   // the candidate in name could not be created; nothing printed
  CANNOT_WRITE,  // the candidate in name could not be written whole; nothing left of it
};

// ".jpg", ".tif", ".nef", ".ndf", or ".dat" for any other file data type.
const char* extensionForFileDataType(std::uint32_t fileDataType);

// Writes data under base + extension, else base-001 + extension, base-002 +
// extension and so on (four or more digits from 1000 on), printing "ERROR:
// Trying to write to existing file... renaming [%s].\n" on standard error
// for each candidate after the first. A candidate is taken only by creating
// it exclusively: one that appears after the check moves the series on.
// base is read up to its zero byte or MAX_SAVED_NAME characters.
SaveResult saveImageFile(const char* base, const char* extension, const unsigned char* data,
                         std::size_t size, char (&name)[FILE_NAME_BUFFER]);

// The same for stem001.raw, stem002.raw and so on in the working directory,
// silently.
SaveResult saveRawFile(const char* stem, const unsigned char* data, std::size_t size,
                       char (&name)[FILE_NAME_BUFFER]);

}  // namespace camera
