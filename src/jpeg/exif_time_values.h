// The capture-time values of an Exif segment: every copy of DateTimeOriginal
// and SubSecTimeOriginal that the stamp writes over, and the camera's own
// clock as it wrote it. Used by the directory walker (exif_parser.cpp);
// results go to PictureInfo. Camera worker thread only.
#pragma once

#include <cstdint>

#include "jpeg/exif_overlap.h"

namespace jpeg {

// DateTimeOriginal, DateTimeDigitized, SubSecTimeOriginal, SubSecTimeDigitized.
bool isExifTimeTag(unsigned tag);

// Where the walker met a value.
struct ExifValuePlace {
  std::uint64_t valueOffset;  // from the TIFF header
  std::int64_t directory;     // offset of the directory holding the entry
  bool inEntry;               // at most 4 bytes, in the entry's own field
  bool inExifDirectory;       // the directory the ExifOffset link leads to
};

// Starts a segment: forgets the copies the previous segment left pending.
void resetExifTimeValues();

// Takes one value of an isExifTimeTag() tag whose byteCount bytes at value
// lie inside the segment. A DateTimeOriginal shorter than 19 bytes is
// reported through warnNonfatal and never stamped.
void recordExifTimeValue(unsigned tag, unsigned char* value, std::uint64_t byteCount,
                         const ExifValuePlace& place);

// Ends a segment: checks the copies found in it against the structure the
// walk read and adds them to PictureInfo, those that overlap other data
// marked so.
void finishExifTimeValues(const ExifStructure& structure);

}  // namespace jpeg
