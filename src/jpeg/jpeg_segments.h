// The JPEG section reader: reads the marker segments at the head of a JPEG
// held in memory into separately owned copies, hands the Exif segment to the
// Exif parser, and writes the (possibly changed) copies back in place. The
// entropy-coded data behind SOS is never read, copied or moved.
//
// Calling order for one image: scanJpegBuffer -> (changes through the
// PictureInfo positions) -> rewriteJpegHeader -> releaseJpegSegments; after
// a failed scan, releaseJpegSegments only.
//
// Camera worker thread only: the table, the count and PictureInfo are
// process-wide and unguarded, and calls for two images must never overlap.
// Texts go straight to standard output and standard error.
#pragma once

#include <cstddef>

namespace jpeg {

// One stored marker segment.
struct JpegSegment {
  unsigned char* bytes;  // owned, length bytes: the big-endian length field, then the payload
  int type;              // the marker byte after the 0xFF, 0x00-0xFE
  unsigned length;       // the length field's value, at least 2
  std::size_t offset;    // where the length field lay in the scanned buffer
};

constexpr int MAX_JPEG_SEGMENTS = 20;

extern JpegSegment segmentTable[MAX_JPEG_SEGMENTS];
extern int segmentCount;

// Reads the segments of buffer[0..size) up to and including SOS, appending
// them to segmentTable, and fills PictureInfo (frame header, first comment,
// Exif). APP0, non-Exif APP1 and every comment after the first are dropped.
// Returns 1 when SOS was reached, 0 otherwise (not a JPEG: nothing printed;
// malformed, truncated, or EOI first: a message). Never reads outside
// buffer[0..size) and never changes buffer. Whatever it stored stays until
// releaseJpegSegments(), which must follow every call.
int scanJpegBuffer(const unsigned char* buffer, int size);

// Writes the stored segments back into the head of buffer, the buffer the
// last successful scanJpegBuffer() read, in place. The SOS header and every
// byte after it are left alone. When the head was read exactly as it will be
// written (no dropped segment, no fill bytes, first segment Exif), the whole
// head is rewritten; otherwise only the Exif segments go back, each to the
// bytes it was read from, and every other byte stays as delivered. Does
// nothing when the last scan did not succeed.
void rewriteJpegHeader(unsigned char* buffer);

// Frees every stored segment, sets segmentCount to 0 and clears PictureInfo.
void releaseJpegSegments();

// Handlers called by scanJpegBuffer(). bytes is a stored segment (length
// field first). readFrameHeader takes its length from the length field and
// passes over a frame header too short to hold the size and components.
void readFrameHeader(const unsigned char* bytes, int marker);
void readCommentSegment(const unsigned char* bytes, unsigned length);

}  // namespace jpeg
