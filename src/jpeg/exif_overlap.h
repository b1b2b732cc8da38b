// Whether a value's bytes in an Exif segment are its own: a value that is
// written in place must not share a byte with the TIFF header, a directory or
// another value, or the write would damage them.
#pragma once

#include <cstdint>

namespace jpeg {

// The structure one walk of a segment read. Offsets count from base (the
// TIFF header); directories are the offsets of the directories walked, each
// with its entry count inside the data.
struct ExifStructure {
  const unsigned char* base;
  std::uint64_t exifLength;
  const std::int64_t* directories;
  int directoryCount;
};

// The bytes of one value that is to be written in place.
struct ExifValueSpan {
  unsigned tag;
  std::uint64_t offset;    // from the TIFF header
  std::uint64_t length;    // its bytes, or the bytes written when more
  std::int64_t directory;  // offset of the directory holding its entry
  bool inEntry;            // the value is the entry's own 4-byte field
  bool overlaps = false;   // set by markOverlappingSpans()
};

// Sets overlaps on every span that shares a byte with the TIFF header (8
// bytes), a directory (entry count, entries, next-directory link; its own
// directory is passed over for a value inside its entry), an out-of-line
// value of another entry, or a thumbnail. An entry with the same tag whose
// value starts at the same offset holds the same value, not another one.
// Reads only bytes inside [base, base + exifLength), in bigEndianExif's order.
void markOverlappingSpans(const ExifStructure& structure, ExifValueSpan* spans, int count);

}  // namespace jpeg
