#include "jpeg/image_stamp.h"

#include <cstdio>

#include "jpeg/exif_timestamp.h"
#include "jpeg/jpeg_segments.h"

namespace jpeg {

bool stampImageBuffer(unsigned char* buffer, int size) {
  const bool isJpeg = scanJpegBuffer(buffer, size) == 1;
  if (!isJpeg) {
    std::fputs("Not JPEG: \n", stderr);
    // Released before the stamp so that both positions are null.
    releaseJpegSegments();
  }
  applyExifTimestamp();
  if (isJpeg) {
    rewriteJpegHeader(buffer);
  }
  releaseJpegSegments();
  return isJpeg;
}

}  // namespace jpeg
