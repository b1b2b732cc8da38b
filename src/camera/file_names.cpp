#include "camera/file_names.h"

#include <cstdio>

#include "camera/image_file.h"

namespace camera {
namespace {

// Composes candidate counter of a series into name. False, with the error
// line printed, when it does not fit savedFileName: a cut name could name
// some other, existing file.
using Compose = int (*)(const char* base, const char* extension, std::uint32_t counter,
                        char (&name)[FILE_NAME_BUFFER]);

int composeImage(const char* base, const char* extension, std::uint32_t counter,
                 char (&name)[FILE_NAME_BUFFER]) {
  if (counter == 0) return std::snprintf(name, sizeof name, "%.127s%s", base, extension);
  return std::snprintf(name, sizeof name, "%.127s-%03u%s", base, static_cast<unsigned>(counter),
                       extension);
}

int composeRaw(const char* stem, const char*, std::uint32_t counter,
               char (&name)[FILE_NAME_BUFFER]) {
  return std::snprintf(name, sizeof name, "%s%03u.raw", stem, static_cast<unsigned>(counter));
}

SaveResult saveInSeries(Compose compose, const char* base, const char* extension,
                        std::uint32_t firstCounter, bool reportRenaming, const unsigned char* data,
                        std::size_t size, char (&name)[FILE_NAME_BUFFER]) {
  char first[FILE_NAME_BUFFER];
  compose(base, extension, firstCounter, first);
  for (std::uint32_t counter = firstCounter; counter <= LAST_NAME_COUNTER; ++counter) {
    const int length = compose(base, extension, counter, name);
    if (length < 0 || length > MAX_SAVED_NAME) {
      std::fprintf(stderr, "ERROR: File name too long [%s].\n", name);
      return SaveResult::TOO_LONG;
    }
    if (reportRenaming && counter != firstCounter)
      std::fprintf(stderr, "ERROR: Trying to write to existing file... renaming [%s].\n", name);
    if (imageFileExists(name)) continue;
    switch (writeImageFile(name, data, size)) {
      case WriteResult::WRITTEN:
        return SaveResult::SAVED;
      case WriteResult::NAME_TAKEN:
        continue;  // it appeared since the check: the next name
      case WriteResult::CANNOT_OPEN:
        return SaveResult::CANNOT_OPEN;
      case WriteResult::CANNOT_WRITE:
        return SaveResult::CANNOT_WRITE;
    }
  }
  std::fprintf(stderr, "ERROR: No free file name left for [%s].\n", first);
  return SaveResult::EXHAUSTED;
}

}  // namespace

const char* extensionForFileDataType(std::uint32_t fileDataType) {
  switch (fileDataType) {
    case 1:
      return ".jpg";
    case 2:
      return ".tif";
    case 4:
      return ".nef";
    case 0x101:
      return ".ndf";
    default:
      return ".dat";
  }
}

SaveResult saveImageFile(const char* base, const char* extension, const unsigned char* data,
                         std::size_t size, char (&name)[FILE_NAME_BUFFER]) {
  return saveInSeries(composeImage, base, extension, 0, true, data, size, name);
}

SaveResult saveRawFile(const char* stem, const unsigned char* data, std::size_t size,
                       char (&name)[FILE_NAME_BUFFER]) {
  return saveInSeries(composeRaw, stem, "", 1, false, data, size, name);
}

}  // namespace camera
