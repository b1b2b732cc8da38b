// Writes the seed files of one corpus folder, remembering whether every
// write succeeded. Shared by the corpus generators.
#pragma once

#include <fstream>
#include <string>
#include <utility>

class SeedWriter {
 public:
  explicit SeedWriter(std::string dir) : dir_(std::move(dir)) {}

  // Writes size bytes at data as dir/fileName, byte for byte.
  void writeFile(const std::string& fileName, const void* data, std::size_t size) {
    std::ofstream out(dir_ + "/" + fileName, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    ok_ = ok_ && static_cast<bool>(out);
  }

  bool ok() const { return ok_; }

 private:
  std::string dir_;
  bool ok_ = true;
};
