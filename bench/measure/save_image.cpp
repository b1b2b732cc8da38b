// bench_save_image SHOT COUNT DIR OUT.csv
//
// Times the data procedure's whole work on one image, COUNT times: the
// shot in 64 KiB chunks as the module delivers file data, gathered, stamped
// and saved into DIR (page cache; nothing waits for the disk). Each saved
// file is checked and removed after its timing, so COUNT images take no
// more room than one. Writes one CSV row per image (image, milliseconds).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "bench/measure/bench_files.h"
#include "camera/data_proc.h"
#include "core/image_names.h"
#include "jpeg/exif_timestamp.h"

namespace {

constexpr std::uint32_t kChunkBytes = 64 * 1024;

// Delivers image as the module does, chunk by chunk, into a fresh context.
// False when a chunk was refused or nothing was saved.
bool deliver(const std::vector<unsigned char>& image) {
  auto* context = new DataProcContext();
  clearSavedFileRecord();
  const auto total = static_cast<std::uint32_t>(image.size());
  bool ok = true;
  for (std::uint32_t offset = 0; offset < total && ok; offset += kChunkBytes) {
    const std::uint32_t length = total - offset < kChunkBytes ? total - offset : kChunkBytes;
    FileDataInfo info = {
        MODULE_DATA_FILE | MODULE_DATA_IMAGE, MODULE_FILE_JPEG, total, offset, length, 0, 1};
    ok = DataProc(context, &info, const_cast<unsigned char*>(image.data()) + offset) ==
         MODULE_RESULT_OK;
  }
  releaseDataProcContext(context);
  return ok && savedFileRecord.saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: bench_save_image SHOT COUNT DIR OUT.csv\n", stderr);
    return 2;
  }
  long count = 0;
  if (!bench::parseCount(argv[2], "COUNT", 1, 100000, &count)) return 2;
  std::vector<unsigned char> image;
  if (!bench::readWholeFile(argv[1], &image)) return 1;
  std::FILE* out = std::fopen(argv[4], "w");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot create %s\n", argv[4]);
    return 1;
  }
  // Short relative names, as the server's are: saved into DIR.
  std::error_code failure;
  std::filesystem::current_path(argv[3], failure);
  if (failure) {
    std::fprintf(stderr, "cannot enter %s: %s\n", argv[3], failure.message().c_str());
    return 1;
  }
  std::fputs("image,bytes,ms\n", out);
  bool ok = true;
  for (long i = 0; i < count && ok; ++i) {
    std::snprintf(imageBaseName, sizeof imageBaseName, "AUV_VARNO_20240501_12.00.%02ld.%03ld",
                  i / 1000 % 60, i % 1000);
    std::memcpy(jpeg::exifDateString, "2024:05:01 12:00:00", 19);
    std::snprintf(jpeg::exifSubSecString, sizeof jpeg::exifSubSecString, "%03ld", i % 1000);
    const auto start = std::chrono::steady_clock::now();
    ok = deliver(image);
    const auto end = std::chrono::steady_clock::now();
    if (!ok) {
      std::fprintf(stderr, "image %ld was not saved\n", i);
      break;
    }
    const std::uintmax_t size = std::filesystem::file_size(savedFileRecord.name, failure);
    if (failure || size != image.size()) {
      std::fprintf(stderr, "%s: saved %ju bytes of %zu\n", savedFileRecord.name,
                   failure ? std::uintmax_t{0} : size, image.size());
      ok = false;
      break;
    }
    std::filesystem::remove(savedFileRecord.name, failure);
    std::fprintf(out, "%ld,%zu,%.4f\n", i, image.size(),
                 std::chrono::duration<double, std::milli>(end - start).count());
  }
  const bool closed = std::fclose(out) == 0;
  return ok && closed ? 0 : 1;
}
