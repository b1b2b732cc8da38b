// The per-image sequence that the data procedure runs on a complete image
// buffer before saving it.
#pragma once

namespace jpeg {

// Stamps exifDateString and exifSubSecString into the Exif DateTimeOriginal
// and SubSecTimeOriginal values of the image in buffer[0..size), in place:
// scanJpegBuffer, applyExifTimestamp, rewriteJpegHeader, releaseJpegSegments.
// The buffer keeps its length. Returns true when buffer held a readable JPEG.
//
// When it does not (a TIFF or NEF file, a malformed JPEG), prints the data
// procedure's "Not JPEG: \n" on standard error here, where the failed scan is
// seen, then the two "File contains no Exif ..." lines, and leaves the buffer
// exactly as delivered. Either way the image is to be saved.
//
// Camera worker thread only (see jpeg_segments.h).
bool stampImageBuffer(unsigned char* buffer, int size);

}  // namespace jpeg
