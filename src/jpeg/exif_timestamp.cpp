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
  // The byte after the written characters (the zero ending a standard value)
  // is left as the camera wrote it.
  if (PictureInfo.dateTimeOriginalPos != nullptr) {
    std::memcpy(PictureInfo.dateTimeOriginalPos, exifDateString, DATE_CHARACTERS);
  } else {
    std::fputs("File contains no Exif timestamp to change\n", stderr);
  }
  if (PictureInfo.subSecTimeOriginalPos != nullptr) {
    std::memcpy(PictureInfo.subSecTimeOriginalPos, exifSubSecString, SUBSEC_CHARACTERS);
  } else {
    std::fputs("File contains no Exif subseconds to change\n", stderr);
  }
}

}  // namespace jpeg
