// Runs the per-image sequence on arbitrary bytes, both ways an image can
// go: scanned and released as delivered, and scanned and stamped (scan, Exif
// parse, stamp of every capture-time copy, write-back, release).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "jpeg/exif_timestamp.h"
#include "jpeg/image_stamp.h"
#include "jpeg/picture_info.h"

namespace {

// A heap block of exactly the input's size, so that any read or write past
// the image is caught.
std::unique_ptr<unsigned char[]> copyOf(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size == 0 ? 1 : size]);
  if (size != 0) {
    std::memcpy(buffer.get(), data, size);
  }
  return buffer;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The reading holds what its contract promises, whatever the input.
void checkReading(const jpeg::CameraClockReading& reading) {
  static const char FORM[] = "dddd:dd:dd dd:dd:dd";
  if (!reading.present) {
    if (reading.fromDigitized || reading.dateTime[0] != 0 || reading.subSec[0] != 0) {
      std::abort();
    }
    return;
  }
  for (int i = 0; i < 19; ++i) {
    if (FORM[i] == 'd' ? !isDigit(reading.dateTime[i]) : reading.dateTime[i] != FORM[i]) {
      std::abort();
    }
  }
  if (reading.dateTime[19] != 0) {
    std::abort();
  }
  int n = 0;
  while (n < 10 && reading.subSec[n] != 0) {
    if (!isDigit(reading.subSec[n])) {
      std::abort();
    }
    ++n;
  }
  if (n > 9) {
    std::abort();
  }
}

struct CopyCounts {
  int dates, subSecs, usableDates, usableSubSecs;
};

CopyCounts countCopies() {
  CopyCounts counts{jpeg::PictureInfo.dateTimeOriginalCopies.count,
                    jpeg::PictureInfo.subSecTimeOriginalCopies.count, 0, 0};
  for (int i = 0; i < counts.dates; ++i) {
    counts.usableDates += jpeg::PictureInfo.dateTimeOriginalCopies.copy[i].overlaps ? 0 : 1;
  }
  for (int i = 0; i < counts.subSecs; ++i) {
    counts.usableSubSecs += jpeg::PictureInfo.subSecTimeOriginalCopies.copy[i].overlaps ? 0 : 1;
  }
  return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return 0;
  }
  const int length = static_cast<int>(size);
  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);

  // Read and released: the image is saved exactly as delivered.
  auto kept = copyOf(data, size);
  jpeg::CameraClockReading reading;
  const bool isJpeg = jpeg::scanImageBuffer(kept.get(), length, &reading);
  checkReading(reading);
  jpeg::releaseScannedImage();
  if (size != 0 && std::memcmp(kept.get(), data, size) != 0) {
    std::abort();
  }

  // Stamped. A buffer that is not a readable JPEG stays as delivered.
  auto stamped = copyOf(data, size);
  if (jpeg::scanImageBuffer(stamped.get(), length, nullptr) != isJpeg) {
    std::abort();
  }
  const CopyCounts before = countCopies();
  jpeg::stampScannedImage(stamped.get());
  if (!isJpeg) {
    if (size != 0 && std::memcmp(stamped.get(), data, size) != 0) {
      std::abort();
    }
    return 0;
  }

  // The stamp touched no structure: read again, the image has the same
  // copies, and every one that may be stamped carries the trigger time.
  if (!jpeg::scanImageBuffer(stamped.get(), length, nullptr)) {
    std::abort();
  }
  const CopyCounts after = countCopies();
  if (std::memcmp(&before, &after, sizeof before) != 0) {
    std::abort();
  }
  const jpeg::ExifTimeCopies& dates = jpeg::PictureInfo.dateTimeOriginalCopies;
  for (int i = 0; i < dates.count; ++i) {
    if (!dates.copy[i].overlaps && std::memcmp(dates.copy[i].pos, jpeg::exifDateString, 19) != 0) {
      std::abort();
    }
  }
  jpeg::releaseScannedImage();
  return 0;
}
