#include "jpeg/exif_values.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace jpeg {

bool bigEndianExif = false;

unsigned exifUnitSize(int format) {
  static const unsigned unitSizes[EXIF_FORMAT_COUNT] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return format >= 0 && format < EXIF_FORMAT_COUNT ? unitSizes[format] : 0;
}

unsigned readU16(const unsigned char* p) {
  return bigEndianExif ? (unsigned(p[0]) << 8) | p[1] : (unsigned(p[1]) << 8) | p[0];
}

unsigned readU32(const unsigned char* p) {
  if (bigEndianExif) {
    return (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | p[3];
  }
  return (unsigned(p[3]) << 24) | (unsigned(p[2]) << 16) | (unsigned(p[1]) << 8) | p[0];
}

int readS32(const unsigned char* p) {
  // Two's complement reinterpretation without relying on an out-of-range cast.
  return static_cast<int>(static_cast<std::int32_t>(readU32(p)));
}

namespace {

std::uint64_t readU64(const unsigned char* p) {
  std::uint64_t hi = readU32(p);
  std::uint64_t lo = readU32(p + 4);
  if (!bigEndianExif) {
    std::swap(hi, lo);
  }
  return (hi << 32) | lo;
}

}  // namespace

double exifValueAsNumber(const unsigned char* value, int format) {
  switch (format) {
    case 1:
      return value[0];
    case 6:
      return static_cast<signed char>(value[0]);
    case 3:
      return readU16(value);
    case 8:
      return static_cast<std::int16_t>(readU16(value));
    case 4:
      return readU32(value);
    case 9:
      return readS32(value);
    case 5:
    case 10: {
      int numerator = readS32(value);
      int denominator = readS32(value + 4);
      return denominator == 0 ? 0.0 : double(numerator) / double(denominator);
    }
    case 11: {
      // Floats follow the segment's byte order like every other value; a
      // big-endian file read little-endian would give garbage.
      std::uint32_t bits = readU32(value);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case 12: {
      std::uint64_t bits = readU64(value);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    default:
      return 0.0;
  }
}

}  // namespace jpeg
