#include "jpeg/jpeg_segments.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "jpeg/exif_parser.h"
#include "jpeg/picture_info.h"

namespace jpeg {

JpegSegment segmentTable[MAX_JPEG_SEGMENTS] = {};
int segmentCount = 0;

namespace {

constexpr int MARKER_SOS = 0xDA;
constexpr int MARKER_EOI = 0xD9;
constexpr int MARKER_APP0 = 0xE0;
constexpr int MARKER_APP1 = 0xE1;
constexpr int MARKER_COM = 0xFE;
constexpr int MAX_FILL_BYTES = 6;
constexpr unsigned MAX_COMMENT_BYTES = 2000;

// What the last scan saw of the head's layout, for the write-back.
struct ScanLayout {
  int firstRecord = 0;    // index of the scan's first record in segmentTable
  bool complete = false;  // SOS was reached
  // Every segment lay right behind the previous one with exactly one 0xFF
  // before its marker, and none was dropped: the head reads back as it will
  // be written.
  bool exact = true;
};

ScanLayout layout;

int fail(const char* text) {
  std::fprintf(stderr, "Error : %s\n", text);
  return 0;
}

int noImage() {
  std::fputs("No image in jpeg!\n", stdout);
  return 0;
}

// A truncated stream usually ends at an EOI that carries no length field, so
// EOI keeps its own message even when its length or payload is missing.
int failBeyondEnd(int marker) {
  return marker == MARKER_EOI ? noImage() : fail("Scanned past image size.\n");
}

bool isFrameHeader(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

void dropLastSegment() {
  --segmentCount;
  delete[] segmentTable[segmentCount].bytes;
  segmentTable[segmentCount] = JpegSegment{};
  layout.exact = false;
}

unsigned bigEndian16(const unsigned char* p) { return (unsigned(p[0]) << 8) | p[1]; }

}  // namespace

void readFrameHeader(const unsigned char* bytes, int marker) {
  // length (2), sample precision (1), height (2), width (2), components (1), ...
  if (bigEndian16(bytes) < 8) {
    return;
  }
  PictureInfo.height = static_cast<int>(bigEndian16(bytes + 3));
  PictureInfo.width = static_cast<int>(bigEndian16(bytes + 5));
  PictureInfo.colorImage = bytes[7] == 3 ? 1 : 0;
  PictureInfo.codingProcess = marker;
}

void readCommentSegment(const unsigned char* bytes, unsigned length) {
  const unsigned n = length < MAX_COMMENT_BYTES ? length : MAX_COMMENT_BYTES;
  char* text = PictureInfo.commentText;
  unsigned t = 0;
  for (unsigned i = 2; i < n; ++i) {
    const unsigned char c = bytes[i];
    if (c == '\r' && i + 1 < length && bytes[i + 1] == '\n') {
      continue;
    }
    const bool keep = (c >= 0x20 && c <= 0x7E) || c == '\n' || c == '\t';
    text[t++] = keep ? static_cast<char>(c) : '?';
  }
  text[t] = '\0';  // t <= 1998
}

int scanJpegBuffer(const unsigned char* buffer, int size) {
  layout = ScanLayout{};
  layout.firstRecord = segmentCount;
  if (buffer == nullptr || size < 2 || buffer[0] != 0xFF || buffer[1] != 0xD8) {
    return 0;
  }
  const std::size_t end = static_cast<std::size_t>(size);
  std::size_t p = 1;
  bool commentSeen = false;
  bool firstMarker = true;

  for (;;) {
    if (segmentCount >= MAX_JPEG_SEGMENTS) {
      return fail("Too many sections in jpg file");
    }
    if (p > end) {
      return fail("Scanned past image size.\n");
    }

    // Before the first marker its own 0xFF is counted; before a later one the
    // byte at p, where its 0xFF is expected, is stepped over unexamined.
    int fill = 0;
    std::size_t q = p + 1;
    for (;; ++q) {
      if (q >= end) {
        return fail("Scanned past image size.\n");
      }
      if (buffer[q] != 0xFF) {
        break;
      }
      if (fill == MAX_FILL_BYTES) {
        std::fputs("too many padding bytes\n", stdout);
        return 0;
      }
      ++fill;
    }
    if (fill != (firstMarker ? 1 : 0) || (!firstMarker && buffer[p] != 0xFF)) {
      layout.exact = false;
    }
    const int marker = buffer[q];
    p = q;

    // Marker at p, length field at p + 1 and p + 2, payload up to p + length.
    if (end - p < 3) {
      return failBeyondEnd(marker);
    }
    const unsigned length = bigEndian16(buffer + p + 1);
    if (length < 2) {
      return fail("invalid marker");
    }
    if (length > end - p - 1) {
      return failBeyondEnd(marker);
    }
    unsigned char* bytes = new (std::nothrow) unsigned char[length];
    if (bytes == nullptr) {
      return fail("Could not allocate memory");
    }
    std::memcpy(bytes, buffer + p + 1, length);
    segmentTable[segmentCount] = JpegSegment{bytes, marker, length, p + 1};
    ++segmentCount;
    p += 1 + length;
    firstMarker = false;

    if (isFrameHeader(marker)) {
      readFrameHeader(bytes, marker);
      continue;
    }
    switch (marker) {
      case MARKER_SOS:
        layout.complete = true;
        return 1;
      case MARKER_EOI:
        return noImage();
      case MARKER_APP0:
        dropLastSegment();
        break;
      case MARKER_APP1:
        if (length >= 6 && std::memcmp(bytes + 2, "Exif", 4) == 0) {
          parseExifSegment(bytes, length);
        } else {
          dropLastSegment();  // XMP and other APP1 data
        }
        break;
      case MARKER_COM:
        if (commentSeen) {
          dropLastSegment();
        } else {
          readCommentSegment(bytes, length);
          commentSeen = true;
        }
        break;
      default:
        break;
    }
  }
}

void rewriteJpegHeader(unsigned char* buffer) {
  if (!layout.complete) {
    return;
  }
  const int sos = segmentCount - 1;  // the SOS header and what follows stay untouched

  // A head that was read exactly as it will be written, starting with Exif
  // (or with SOS alone), goes back whole, byte for byte where it was.
  const bool firstIsExif =
      sos == layout.firstRecord || segmentTable[layout.firstRecord].type == MARKER_APP1;
  if (layout.firstRecord == 0 && layout.exact && firstIsExif) {
    buffer[0] = 0xFF;
    buffer[1] = 0xD8;
    std::size_t w = 2;
    for (int i = 0; i < sos; ++i) {
      const JpegSegment& segment = segmentTable[i];
      buffer[w] = 0xFF;
      buffer[w + 1] = static_cast<unsigned char>(segment.type);
      std::memcpy(buffer + w + 2, segment.bytes, segment.length);
      w += 2 + segment.length;
    }
    return;
  }

  // Otherwise a rewritten head would not have the length of the head that
  // was read: dropped segments and fill bytes would shorten it, a JFIF APP0
  // in front of a head without Exif would lengthen it, and either way the
  // image data behind it would be corrupted. Only the Exif segments go back,
  // each to the bytes it came from, at the same length.
  for (int i = layout.firstRecord; i < sos; ++i) {
    const JpegSegment& segment = segmentTable[i];
    if (segment.type == MARKER_APP1) {
      std::memcpy(buffer + segment.offset, segment.bytes, segment.length);
    }
  }
}

void releaseJpegSegments() {
  for (int i = 0; i < segmentCount; ++i) {
    delete[] segmentTable[i].bytes;
    segmentTable[i] = JpegSegment{};
  }
  segmentCount = 0;
  layout = ScanLayout{};
  clearPictureInfo();
}

}  // namespace jpeg
