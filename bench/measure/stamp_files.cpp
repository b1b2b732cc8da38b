// bench_stamp_files REPEATS OUT.csv STAMPED.jpg FILE...
//
// Times jpeg::stampImageBuffer, the in-memory stamp of the data procedure,
// on each camera JPEG held in memory, REPEATS times over the set. Every
// pass stamps another time than the last, so each call really rewrites the
// two values. Writes one CSV row per call (file, microseconds), and the
// last stamped image of the first file to STAMPED.jpg, so the runner can
// check with an independent reader that the stamp landed.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/measure/bench_files.h"
#include "jpeg/exif_timestamp.h"
#include "jpeg/image_stamp.h"

namespace {

// The time stamped in pass number pass: "2024:05:01 12:mm:ss" and "mmm".
void setStampTime(long pass) {
  char date[20];
  char subSec[4];
  std::snprintf(date, sizeof date, "2024:05:01 12:%02ld:%02ld", pass / 60 % 60, pass % 60);
  std::snprintf(subSec, sizeof subSec, "%03ld", pass % 1000);
  std::memcpy(jpeg::exifDateString, date, 19);
  std::memcpy(jpeg::exifSubSecString, subSec, 3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fputs("usage: bench_stamp_files REPEATS OUT.csv STAMPED.jpg FILE...\n", stderr);
    return 2;
  }
  long repeats = 0;
  if (!bench::parseCount(argv[1], "REPEATS", 1, 1000000, &repeats)) return 2;
  std::vector<std::vector<unsigned char>> images;
  for (int i = 4; i < argc; ++i) {
    images.emplace_back();
    if (!bench::readWholeFile(argv[i], &images.back())) return 1;
  }
  std::FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", argv[2]);
    return 1;
  }
  std::fputs("file,bytes,us\n", out);
  bool ok = true;
  for (long pass = 0; pass < repeats && ok; ++pass) {
    setStampTime(pass);
    for (std::size_t i = 0; i < images.size(); ++i) {
      std::vector<unsigned char>& image = images[i];
      const auto start = std::chrono::steady_clock::now();
      const bool stamped = jpeg::stampImageBuffer(image.data(), static_cast<int>(image.size()));
      const auto end = std::chrono::steady_clock::now();
      if (!stamped) {
        std::fprintf(stderr, "%s: not stamped\n", argv[4 + i]);
        ok = false;
        break;
      }
      std::fprintf(out, "%s,%zu,%.3f\n", argv[4 + i], image.size(),
                   std::chrono::duration<double, std::micro>(end - start).count());
    }
  }
  const bool closed = std::fclose(out) == 0;
  if (!ok || !closed) return 1;
  std::printf("last stamp: %s.%s\n", std::string(jpeg::exifDateString, 19).c_str(),
              std::string(jpeg::exifSubSecString, 3).c_str());
  return bench::writeWholeFile(argv[3], images[0].data(), images[0].size()) ? 0 : 1;
}
