// Reading integers and numbers out of Exif data in the segment's byte order.
#pragma once

namespace jpeg {

// Byte order of the Exif segment being parsed: true for "MM" (big-endian),
// false for "II". Set by parseExifSegment(); camera worker thread only.
extern bool bigEndianExif;

// Exif value formats 0-12 (1 unsigned byte ... 12 double).
constexpr int EXIF_FORMAT_COUNT = 13;

// Size in bytes of one component of the given format (0-12); 0 for format 0.
unsigned exifUnitSize(int format);

// Integer reads of 2 and 4 bytes at p, in the order bigEndianExif gives.
// The caller guarantees that the bytes lie inside the data.
unsigned readU16(const unsigned char* p);
int readS32(const unsigned char* p);
unsigned readU32(const unsigned char* p);

// The first component of a value as a number. The caller guarantees that
// exifUnitSize(format) bytes lie at value. Rationals (5, 10) read numerator and
// denominator as signed 32-bit and give 0 for a zero denominator; formats 0,
// 2 and 7 give 0.
double exifValueAsNumber(const unsigned char* value, int format);

}  // namespace jpeg
