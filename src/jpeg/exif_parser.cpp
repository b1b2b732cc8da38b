#include "jpeg/exif_parser.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "jpeg/exif_tags.h"
#include "jpeg/exif_time_values.h"
#include "jpeg/exif_values.h"
#include "jpeg/picture_info.h"

namespace jpeg {

namespace {

// A segment names its directories by offsets, so links can form cycles or
// point at one directory twice. Each directory is walked at most once, and at
// most this many per segment; that also bounds the recursion depth. Camera
// files hold five or six (IFD0, Exif, interoperability, GPS, IFD1).
constexpr int MAX_DIRECTORIES = 32;

struct DirectoryWalk {
  unsigned char* base = nullptr;
  std::uint64_t exifLength = 0;
  std::int64_t walked[MAX_DIRECTORIES] = {};
  int walkedCount = 0;
};

DirectoryWalk walk;

// Marks the directory at offset as walked; false (with a warning) when it
// was walked before or the walk is full.
bool enterDirectory(std::int64_t offset) {
  for (int i = 0; i < walk.walkedCount; ++i) {
    if (walk.walked[i] == offset) {
      warnNonfatal("Directory at offset %d linked more than once", static_cast<int>(offset), 0);
      return false;
    }
  }
  if (walk.walkedCount == MAX_DIRECTORIES) {
    warnNonfatal("More than %d directories, directory at offset %d not read", MAX_DIRECTORIES,
                 static_cast<int>(offset));
    return false;
  }
  walk.walked[walk.walkedCount++] = offset;
  return true;
}

void walkDirectory(std::int64_t offset, bool exifDirectory);

// ExifOffset and InteroperabilityOffset: a directory walked right away.
void followSubdirectoryLink(const unsigned char* value, bool exifDirectory) {
  std::uint64_t target = readU32(value);
  if (target > walk.exifLength) {
    warnNonfatal("Illegal exif or interop ofset directory link", 0, 0);
    return;
  }
  walkDirectory(static_cast<std::int64_t>(target), exifDirectory);
}

// Directory, at base + offset:
//
//   +0            entry count n (16 bits)
//   +2 + 12*i     entry i: tag (16), format (16), component count (32),
//                 value, or offset from base of a value longer than 4 bytes (32)
//   +2 + 12*n     offset of the next directory (32 bits), 0 for none
//
// exifDirectory: the directory is the one ExifOffset leads to.
void walkDirectory(std::int64_t offset, bool exifDirectory) {
  const std::uint64_t exifLength = walk.exifLength;
  // The entry count itself must lie inside the data before it can be read.
  if (offset < 0 || static_cast<std::uint64_t>(offset) + 2 > exifLength) {
    warnNonfatal("Illegally sized directory", 0, 0);
    return;
  }
  if (!enterDirectory(offset)) {
    return;
  }
  unsigned char* const base = walk.base;
  const std::uint64_t start = static_cast<std::uint64_t>(offset);
  const unsigned count = readU16(base + start);
  const std::uint64_t dirEnd = start + 2 + 12 * std::uint64_t(count);
  const bool hasNextLink = dirEnd + 4 <= exifLength;
  // Some writers end the data right after the entries, leaving no room (or
  // only 2 bytes) for the next-directory offset; such a directory is read.
  if (!hasNextLink && dirEnd + 2 != exifLength && dirEnd != exifLength) {
    warnNonfatal("Illegally sized directory", 0, 0);
    return;
  }

  unsigned thumbnailOffset = 0;
  unsigned thumbnailLength = 0;
  for (unsigned i = 0; i < count; ++i) {
    unsigned char* entry = base + start + 2 + 12 * std::uint64_t(i);
    const unsigned tag = readU16(entry);
    const unsigned format = readU16(entry + 2);
    const unsigned components = readU32(entry + 4);
    if (format >= EXIF_FORMAT_COUNT) {
      warnNonfatal("Illegal number format %d for tag %04x", static_cast<int>(format),
                   static_cast<int>(tag));
      continue;
    }
    const std::uint64_t byteCount =
        std::uint64_t(components) * exifUnitSize(static_cast<int>(format));
    unsigned char* value = entry + 8;
    std::uint64_t valueOffset = start + 2 + 12 * std::uint64_t(i) + 8;
    if (byteCount > 4) {
      valueOffset = readU32(entry + 8);
      if (valueOffset + byteCount > exifLength) {
        warnNonfatal("Illegal value pointer for tag %04x", static_cast<int>(tag), 0);
        continue;
      }
      value = base + valueOffset;
    }
    if (isExifTimeTag(tag)) {
      recordExifTimeValue(tag, value, byteCount,
                          ExifValuePlace{valueOffset, offset, byteCount <= 4, exifDirectory});
      continue;
    }

    double number = 0;
    switch (tag) {
      case 0x8769:  // ExifOffset
        followSubdirectoryLink(value, true);
        break;
      case 0xA005:  // InteroperabilityOffset
        followSubdirectoryLink(value, false);
        break;
      case 0x0201:  // ThumbnailOffset
        if (exifNumber(static_cast<int>(format), value, byteCount, &number)) {
          thumbnailOffset = truncatedUnsigned(number);
        }
        break;
      case 0x0202:  // ThumbnailLength
        if (exifNumber(static_cast<int>(format), value, byteCount, &number)) {
          thumbnailLength = truncatedUnsigned(number);
        }
        break;
      default:
        recordExifTag(tag, static_cast<int>(format), value, byteCount);
        break;
    }
  }

  if (hasNextLink) {
    const std::uint64_t next = readU32(base + dirEnd);
    if (next != 0) {
      if (next <= exifLength) {
        walkDirectory(static_cast<std::int64_t>(next), false);
      } else if (next - exifLength >= 20) {
        // Links a little beyond the data are common and harmless.
        warnNonfatal("Illegal subdirectory link", 0, 0);
      }
    }
  }

  if (thumbnailOffset != 0 && thumbnailLength != 0 &&
      std::uint64_t(thumbnailOffset) + thumbnailLength <= exifLength) {
    PictureInfo.thumbnailStart = base + thumbnailOffset;
    PictureInfo.thumbnailLength = thumbnailLength;
  }
}

// Walks the directory at offset of the segment at base and settles the
// capture-time copies it holds against what the walk read.
void walkSegment(unsigned char* base, std::uint64_t exifLength, std::int64_t offset) {
  walk = DirectoryWalk{};
  walk.base = base;
  walk.exifLength = exifLength;
  resetExifTimeValues();
  walkDirectory(offset, false);
  finishExifTimeValues(ExifStructure{base, exifLength, walk.walked, walk.walkedCount});
}

}  // namespace

void warnNonfatal(const char* format, int a, int b) {
  std::fputs("Nonfatal Error : ", stderr);
  std::fprintf(stderr, format, a, b);
  std::fputs("\n", stderr);
}

void parseExifDirectory(unsigned char* directory, unsigned char* base, unsigned exifLength) {
  walkSegment(base, exifLength, directory - base);
}

// Exif APP1 segment as stored (offsets within the segment's bytes):
//
//   0   2  segment length, big-endian, counting itself
//   2   6  "Exif" and two zero bytes
//   8   2  byte order "II" (little-endian) or "MM" (big-endian); the TIFF base
//  10   2  0x002A in that order
//  12   4  offset of IFD0 from the TIFF base
//
// Every offset inside counts from the TIFF base; the data ends with the
// segment, segment length - 8 bytes after the base.
void parseExifSegment(unsigned char* bytes, unsigned length) {
  constexpr unsigned HEADER_SIZE = 16;
  resetExifTagState();
  // A segment too short for the whole header is as unusable as a wrong one.
  if (length < HEADER_SIZE || std::memcmp(bytes + 2, "Exif\0\0", 6) != 0) {
    warnNonfatal("Incorrect Exif header", 0, 0);
    return;
  }
  if (bytes[8] == 'I' && bytes[9] == 'I') {
    bigEndianExif = false;
  } else if (bytes[8] == 'M' && bytes[9] == 'M') {
    bigEndianExif = true;
  } else {
    warnNonfatal("Invalid Exif alignment marker.", 0, 0);
    return;
  }
  if (readU16(bytes + 10) != 0x2A) {
    warnNonfatal("Invalid Exif start (1)", 0, 0);
    return;
  }
  const int firstOffset = readS32(bytes + 12);
  if (firstOffset < 8 || firstOffset > 16) {
    warnNonfatal("Suspicious offset %d of first IFD value", firstOffset, 0);
  }

  walkSegment(bytes + 8, length - 8, firstOffset);
  finishExifTags();
}

}  // namespace jpeg
