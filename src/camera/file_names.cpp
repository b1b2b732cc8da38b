#include "camera/file_names.h"

#include <cstdio>

#include "camera/image_file.h"

namespace camera {
namespace {

// False, with the error line printed, when the composed name does not fit
// savedFileName: a cut name could name some other, existing file.
bool fits(const char (&name)[FILE_NAME_BUFFER], int length) {
  if (length >= 0 && length <= MAX_SAVED_NAME) return true;
  std::fprintf(stderr, "ERROR: File name too long [%s].\n", name);
  return false;
}

NameResult exhausted(const char* firstCandidate) {
  std::fprintf(stderr, "ERROR: No free file name left for [%s].\n", firstCandidate);
  return NameResult::EXHAUSTED;
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

NameResult chooseImageFileName(const char* base, const char* extension,
                               char (&name)[FILE_NAME_BUFFER]) {
  char first[FILE_NAME_BUFFER];
  int length = std::snprintf(first, sizeof first, "%.127s%s", base, extension);
  std::snprintf(name, sizeof name, "%s", first);
  if (!fits(name, length)) return NameResult::TOO_LONG;
  for (std::uint32_t counter = 1; imageFileExists(name); ++counter) {
    if (counter > LAST_NAME_COUNTER) return exhausted(first);
    length = std::snprintf(name, sizeof name, "%.127s-%03u%s", base, static_cast<unsigned>(counter),
                           extension);
    if (!fits(name, length)) return NameResult::TOO_LONG;
    std::fprintf(stderr, "ERROR: Trying to write to existing file... renaming [%s].\n", name);
  }
  return NameResult::FOUND;
}

NameResult chooseRawFileName(const char* stem, char (&name)[FILE_NAME_BUFFER]) {
  for (std::uint32_t counter = 1; counter <= LAST_NAME_COUNTER; ++counter) {
    std::snprintf(name, sizeof name, "%s%03u.raw", stem, static_cast<unsigned>(counter));
    if (!imageFileExists(name)) return NameResult::FOUND;
  }
  char first[FILE_NAME_BUFFER];
  std::snprintf(first, sizeof first, "%s001.raw", stem);
  return exhausted(first);
}

}  // namespace camera
