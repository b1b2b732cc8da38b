// The per-image sequence that the data procedure runs on a complete image
// buffer before saving it, whole or in two steps: read the camera's own
// capture time, then either stamp the trigger time or keep the image as
// delivered.
//
// Camera worker thread only (see jpeg_segments.h): one image at a time,
// from scanImageBuffer() to stampScannedImage() or releaseScannedImage().
#pragma once

namespace jpeg {

// The capture time as the camera wrote it.
struct CameraClockReading {
  bool present = false;        // a usable date-time text was found
  bool fromDigitized = false;  // DateTimeOriginal absent/unusable: DateTimeDigitized was used
  char dateTime[20] = "";      // "YYYY:MM:DD HH:MM:SS" exactly as delivered (19 chars + NUL)
  char subSec[10] = "";        // leading decimal digits of the matching SubSecTime* value,
                               // at most 9, NUL-ended; "" when absent
};

// Step 1. Scans the JPEG in buffer[0..size) and keeps its header segments
// for step 2; the buffer is not changed. Fills *reading (when not null) from
// DateTimeOriginal and SubSecTimeOriginal, or, when no DateTimeOriginal has
// the form "dddd:dd:dd dd:dd:dd", from DateTimeDigitized and
// SubSecTimeDigitized. Of several copies of one value the one in the Exif
// directory counts, else the first. Returns true for a readable JPEG; when
// it is not one (a TIFF or NEF file, a malformed JPEG), prints "Not JPEG:
// \n" on standard error and *reading says nothing is present.
//
// Exactly one of stampScannedImage() and releaseScannedImage() must follow,
// whatever the result; a scan first releases whatever an earlier scan left.
bool scanImageBuffer(unsigned char* buffer, int size, CameraClockReading* reading);

// Step 2a. Stamps exifDateString and exifSubSecString over every copy of
// DateTimeOriginal and SubSecTimeOriginal (see applyExifTimestamp), writes
// the header back into buffer, the buffer just scanned, and releases the
// segments. The buffer keeps its length. After a failed scan the buffer is
// left as delivered and the two "File contains no Exif ..." lines are printed.
void stampScannedImage(unsigned char* buffer);

// Step 2b. Releases the segments; the buffer stays exactly as delivered.
void releaseScannedImage();

// Both steps: scanImageBuffer(buffer, size, nullptr), then
// stampScannedImage(buffer). Returns what the scan returned. Either way the
// image is to be saved.
bool stampImageBuffer(unsigned char* buffer, int size);

}  // namespace jpeg
