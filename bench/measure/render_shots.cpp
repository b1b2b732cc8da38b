// bench_render_shots DIR COUNT WIDTH HEIGHT NOISE
//
// Renders COUNT camera shots with the rig's renderer (big-endian Exif with a
// thumbnail, as the rig's camera writes them) into DIR/shot_01.jpg, ... so
// that the other measurements work on real camera-size files.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/measure/bench_files.h"
#include "rig/shot_renderer.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: bench_render_shots DIR COUNT WIDTH HEIGHT NOISE\n", stderr);
    return 2;
  }
  long count = 0, width = 0, height = 0, noise = 0;
  if (!bench::parseCount(argv[2], "COUNT", 1, 99, &count) ||
      !bench::parseCount(argv[3], "WIDTH", 16, 16384, &width) ||
      !bench::parseCount(argv[4], "HEIGHT", 16, 16384, &height) ||
      !bench::parseCount(argv[5], "NOISE", 0, 255, &noise)) {
    return 2;
  }
  const std::string dir = argv[1];
  for (long i = 1; i <= count; ++i) {
    rig::RenderRequest request;
    request.width = static_cast<int>(width);
    request.height = static_cast<int>(height);
    request.noise = static_cast<int>(noise);
    request.frame = static_cast<std::uint64_t>(i);
    request.cameraTime = "2024:05:01 12:00:0" + std::to_string(i % 10);
    request.millisecond = static_cast<int>(i * 37 % 1000);
    request.make = "SKERROW";
    request.model = "SIMCAM D1";
    std::vector<std::uint8_t> jpeg;
    if (!rig::renderShot(request, &jpeg)) return 1;
    char name[32];
    std::snprintf(name, sizeof name, "/shot_%02ld.jpg", i);
    if (!bench::writeWholeFile(dir + name, jpeg.data(), jpeg.size())) return 1;
    std::printf("%s%s %zu bytes\n", dir.c_str(), name, jpeg.size());
  }
  return 0;
}
