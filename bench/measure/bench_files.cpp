#include "bench/measure/bench_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

bool readWholeFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bytes->clear();
  unsigned char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes->insert(bytes->end(), chunk, chunk + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) std::fprintf(stderr, "cannot read %s\n", path.c_str());
  return !failed;
}

bool writeWholeFile(const std::string& path, const unsigned char* bytes, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return written && closed;
}

bool parseCount(const char* text, const char* what, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
    std::fprintf(stderr, "%s takes %ld to %ld, not '%s'\n", what, low, high, text);
    return false;
  }
  *value = parsed;
  return true;
}

}  // namespace bench
