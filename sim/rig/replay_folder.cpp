#include "rig/replay_folder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace rig {
namespace fs = std::filesystem;
namespace {

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool ReplayFolder::open(const std::string& dir) {
  std::error_code error;
  fs::directory_iterator it(dir, error);
  if (error) {
    std::fprintf(stderr, "skerrow-rig: cannot read the replay folder %s: %s\n", dir.c_str(),
                 error.message().c_str());
    return false;
  }
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || endsWith(name, ".tmp") || endsWith(name, ".part")) {
      continue;
    }
    std::error_code typeError;
    if (!entry.is_regular_file(typeError)) continue;
    files_.push_back(entry.path().string());
  }
  std::sort(files_.begin(), files_.end());
  if (files_.empty()) {
    std::fprintf(stderr, "skerrow-rig: the replay folder %s holds no file\n", dir.c_str());
    return false;
  }
  return true;
}

bool ReplayFolder::next(std::vector<std::uint8_t>* bytes, std::string* extension) {
  bytes->clear();
  if (files_.empty()) return false;
  const std::string path = files_[next_];
  next_ = (next_ + 1) % files_.size();
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || size > kMaxFileBytes) {
    std::fprintf(stderr, "skerrow-rig: cannot replay %s: %s\n", path.c_str(),
                 error ? error.message().c_str() : "larger than 1 GiB");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  bytes->resize(static_cast<std::size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size))) {
    std::fprintf(stderr, "skerrow-rig: cannot read %s\n", path.c_str());
    bytes->clear();
    return false;
  }
  // The extension names the file type on the card; anything but letters and
  // digits after the dot is not carried over.
  std::string ext = fs::path(path).extension().string();
  const bool usable =
      ext.size() >= 2 && ext.size() <= 8 && std::all_of(ext.begin() + 1, ext.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
      });
  *extension = usable ? ext : std::string();
  return true;
}

}  // namespace rig
