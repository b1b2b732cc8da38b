// The Exif tags whose values fill PictureInfo's camera fields. Used by the
// directory walker (exif_parser.cpp), which handles the structural tags
// (directory links, thumbnail) itself and the capture-time tags through
// exif_time_values.h.
#pragma once

#include <cstdint>

namespace jpeg {

// Resets the per-segment state (widest Exif image dimension, focal-plane
// resolution and unit). Called at the start of every Exif segment.
void resetExifTagState();

// Acts on one directory entry whose value bytes [value, value + byteCount)
// lie inside the segment (for byteCount <= 4 they are the entry's own 4-byte
// value field). Tags it does not know are passed over.
void recordExifTag(unsigned tag, int format, unsigned char* value, std::uint64_t byteCount);

// Derives the sensor width once every directory of the segment was walked.
void finishExifTags();

// The value's first component as a number. False when the value holds no
// whole component (format 0, or a count of 0): reading one would run past
// the value's bytes, so the tag is then passed over.
bool exifNumber(int format, const unsigned char* value, std::uint64_t byteCount, double* number);

// Conversions toward zero that saturate instead of overflowing: Exif
// numbers can be anything, a cast of an out-of-range double is undefined.
int truncatedInt(double number);
unsigned truncatedUnsigned(double number);

}  // namespace jpeg
