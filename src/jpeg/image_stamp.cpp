#include "jpeg/image_stamp.h"

#include <cstdio>
#include <cstring>

#include "jpeg/exif_timestamp.h"
#include "jpeg/jpeg_segments.h"
#include "jpeg/picture_info.h"

namespace jpeg {

namespace {

void fillReading(CameraClockReading* reading) {
  const bool original = PictureInfo.cameraDateTimeOriginal.rank != 0;
  const ExifTimeText& date =
      original ? PictureInfo.cameraDateTimeOriginal : PictureInfo.cameraDateTimeDigitized;
  if (date.rank == 0) {
    return;
  }
  const ExifTimeText& subSec =
      original ? PictureInfo.cameraSubSecOriginal : PictureInfo.cameraSubSecDigitized;
  reading->present = true;
  reading->fromDigitized = !original;
  std::memcpy(reading->dateTime, date.text, sizeof reading->dateTime);
  // The subsecond text holds at most 9 digits and its zero.
  std::memcpy(reading->subSec, subSec.text, sizeof reading->subSec);
}

}  // namespace

bool scanImageBuffer(unsigned char* buffer, int size, CameraClockReading* reading) {
  if (reading != nullptr) {
    *reading = CameraClockReading{};
  }
  // The reader appends to the table; leftovers of an image whose second step
  // never ran would be written back into this one.
  releaseJpegSegments();
  if (scanJpegBuffer(buffer, size) != 1) {
    std::fputs("Not JPEG: \n", stderr);
    // Released now, so that a stamp finds no copy and the buffer stays as
    // delivered.
    releaseJpegSegments();
    return false;
  }
  if (reading != nullptr) {
    fillReading(reading);
  }
  return true;
}

void stampScannedImage(unsigned char* buffer) {
  applyExifTimestamp();
  rewriteJpegHeader(buffer);  // does nothing after a failed scan
  releaseJpegSegments();
}

void releaseScannedImage() { releaseJpegSegments(); }

bool stampImageBuffer(unsigned char* buffer, int size) {
  const bool isJpeg = scanImageBuffer(buffer, size, nullptr);
  stampScannedImage(buffer);
  return isJpeg;
}

}  // namespace jpeg
