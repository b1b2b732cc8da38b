// Stamping the trigger time into a 6 MB camera JPEG held in memory: the whole
// per-image sequence in its two steps (scan, Exif parse and camera clock
// reading; stamp, write-back, release), one scan per image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "jpeg/exif_timestamp.h"
#include "jpeg/image_stamp.h"
#include "jpeg/jpeg_builder.h"

namespace {

using jpegtest::Bytes;

// A camera head with its Exif segment filled up to about 60 KB, as cameras
// that carry a preview in the MakerNote do, then image data up to 6 MB.
Bytes sixMegabyteCameraJpeg() {
  Bytes exif = jpegtest::exifPayload(jpegtest::cameraTiff(true));
  exif.resize(60 * 1024, 0);
  const Bytes head = jpegtest::concat(
      {jpegtest::soi(), jpegtest::segment(0xE1, exif), jpegtest::iccProfile(),
       jpegtest::quantTable(), jpegtest::huffmanTable(), jpegtest::frameHeader(2832, 4256, 3)});
  const std::size_t total = 6 * 1024 * 1024;
  return jpegtest::concat({head, jpegtest::sosAndScan(total - head.size() - 16)});
}

void BM_StampCameraJpeg(benchmark::State& state) {
  Bytes image = sixMegabyteCameraJpeg();
  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);
  for (auto _ : state) {
    // Stamping the same texts again is idempotent on a camera JPEG.
    jpeg::CameraClockReading reading;
    const bool stamped =
        jpeg::scanImageBuffer(image.data(), static_cast<int>(image.size()), &reading);
    jpeg::stampScannedImage(image.data());
    benchmark::DoNotOptimize(stamped);
    benchmark::DoNotOptimize(reading);
    benchmark::ClobberMemory();
    if (!stamped || !reading.present) {
      state.SkipWithError("the image was not stamped");
      break;
    }
  }
  state.SetLabel(std::to_string(image.size()) + " bytes");
}

BENCHMARK(BM_StampCameraJpeg)->Unit(benchmark::kMicrosecond);

}  // namespace
