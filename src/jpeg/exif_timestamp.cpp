#include "jpeg/exif_timestamp.h"

#include <cstdio>
#include <cstring>

#include "jpeg/picture_info.h"

namespace jpeg {

char exifDateString[20] = "2001:01:01 00:00:00";
char exifSubSecString[4] = "000";

namespace {

constexpr std::size_t DATE_CHARACTERS = 19;
constexpr std::size_t SUBSEC_CHARACTERS = 3;

bool inRange(int value, int low, int high) { return value >= low && value <= high; }

// Every copy gets the same characters, or readers that prefer different
// copies would disagree on the capture time. The byte after them (the zero
// ending a standard value) is left as the camera wrote it. A copy on other
// Exif data keeps its value: writing it would damage that data.
void stampCopies(const ExifTimeCopies& copies, const char* text, std::size_t characters,
                 const char* name, const char* noneMessage) {
  int stamped = 0;
  for (int i = 0; i < copies.count; ++i) {
    const ExifTimeCopy& copy = copies.copy[i];
    if (copy.overlaps) {
      std::fprintf(stderr,
                   "Exif %s at offset %u overlaps other Exif data; that copy is left as it is.\n",
                   name, copy.exifOffset);
      continue;
    }
    std::memcpy(copy.pos, text, characters);
    ++stamped;
  }
  if (copies.morePassedOver) {
    std::fprintf(stderr, "More than %d copies of Exif %s; the others are left as they are.\n",
                 MAX_EXIF_TIME_COPIES, name);
  }
  if (stamped == 0) {
    std::fputs(noneMessage, stderr);
  }
}

}  // namespace

bool formatExifDate(int year, int month, int day, int hour, int minute, int second, char out[20]) {
  if (!inRange(year, 0, 9999) || !inRange(month, 1, 12) || !inRange(day, 1, 31) ||
      !inRange(hour, 0, 23) || !inRange(minute, 0, 59) || !inRange(second, 0, 60)) {
    return false;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  std::memcpy(out, text, DATE_CHARACTERS + 1);
  return true;
}

bool formatExifSubSec(int milliseconds, char out[4]) {
  if (!inRange(milliseconds, 0, 999)) {
    return false;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%03d", milliseconds);
  std::memcpy(out, text, SUBSEC_CHARACTERS + 1);
  return true;
}

void applyExifTimestamp() {
  stampCopies(PictureInfo.dateTimeOriginalCopies, exifDateString, DATE_CHARACTERS,
              "DateTimeOriginal", "File contains no Exif timestamp to change\n");
  stampCopies(PictureInfo.subSecTimeOriginalCopies, exifSubSecString, SUBSEC_CHARACTERS,
              "SubSecTimeOriginal", "File contains no Exif subseconds to change\n");
}

}  // namespace jpeg
