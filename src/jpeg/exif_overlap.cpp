#include "jpeg/exif_overlap.h"

#include "jpeg/exif_tags.h"
#include "jpeg/exif_values.h"

namespace jpeg {

namespace {

constexpr std::uint64_t TIFF_HEADER_BYTES = 8;

bool meet(std::uint64_t aStart, std::uint64_t aLength, std::uint64_t bStart,
          std::uint64_t bLength) {
  return aStart < bStart + bLength && bStart < aStart + aLength;
}

// Marks the spans that meet [start, start + length). sameValueTag, when not
// 0, is the tag of an entry whose value starts at start: a span of that tag
// at that offset is the same value.
void markRange(ExifValueSpan* spans, int count, std::uint64_t start, std::uint64_t length,
               unsigned sameValueTag) {
  for (int i = 0; i < count; ++i) {
    ExifValueSpan& span = spans[i];
    if (sameValueTag != 0 && span.tag == sameValueTag && span.offset == start) {
      continue;
    }
    if (meet(span.offset, span.length, start, length)) {
      span.overlaps = true;
    }
  }
}

// Directory layout as in exif_parser.cpp. Only entries that lie whole inside
// the data are looked at; the walker refused the others.
void markDirectory(const ExifStructure& structure, std::int64_t directory, ExifValueSpan* spans,
                   int count) {
  const std::uint64_t end = structure.exifLength;
  const std::uint64_t start = static_cast<std::uint64_t>(directory);
  const unsigned entries = readU16(structure.base + start);
  std::uint64_t dirEnd = start + 2 + 12 * std::uint64_t(entries) + 4;
  if (dirEnd > end) {
    dirEnd = end;
  }
  for (int i = 0; i < count; ++i) {
    ExifValueSpan& span = spans[i];
    const bool ownDirectory = span.inEntry && span.directory == directory;
    if (!ownDirectory && meet(span.offset, span.length, start, dirEnd - start)) {
      span.overlaps = true;
    }
  }

  unsigned thumbnailOffset = 0;
  unsigned thumbnailLength = 0;
  for (unsigned e = 0; e < entries; ++e) {
    const std::uint64_t at = start + 2 + 12 * std::uint64_t(e);
    if (at + 12 > end) {
      break;
    }
    const unsigned char* entry = structure.base + at;
    const unsigned tag = readU16(entry);
    const unsigned format = readU16(entry + 2);
    if (format >= EXIF_FORMAT_COUNT) {
      continue;
    }
    const std::uint64_t byteCount = std::uint64_t(readU32(entry + 4)) * exifUnitSize(int(format));
    const unsigned char* value = entry + 8;
    if (byteCount > 4) {
      const std::uint64_t valueOffset = readU32(entry + 8);
      if (valueOffset + byteCount > end) {
        continue;  // refused by the walker: no value there
      }
      markRange(spans, count, valueOffset, byteCount, tag);
      value = structure.base + valueOffset;
    }
    double number = 0;
    if (tag == 0x0201 && exifNumber(int(format), value, byteCount, &number)) {
      thumbnailOffset = truncatedUnsigned(number);
    } else if (tag == 0x0202 && exifNumber(int(format), value, byteCount, &number)) {
      thumbnailLength = truncatedUnsigned(number);
    }
  }
  if (thumbnailOffset != 0 && thumbnailLength != 0 &&
      std::uint64_t(thumbnailOffset) + thumbnailLength <= end) {
    markRange(spans, count, thumbnailOffset, thumbnailLength, 0);
  }
}

}  // namespace

void markOverlappingSpans(const ExifStructure& structure, ExifValueSpan* spans, int count) {
  if (count == 0) {
    return;
  }
  markRange(spans, count, 0, TIFF_HEADER_BYTES, 0);
  for (int d = 0; d < structure.directoryCount; ++d) {
    markDirectory(structure, structure.directories[d], spans, count);
  }
}

}  // namespace jpeg
