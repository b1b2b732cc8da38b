// Replayed shots: the files of a folder, in name order, round and round.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rig {

class ReplayFolder {
 public:
  // Files larger than this are left out: no camera file comes near it, and
  // each replayed shot is read whole into memory.
  static constexpr std::uint64_t kMaxFileBytes = 1ull << 30;

  // Lists the regular files of dir (not those starting with '.' or ending in
  // .tmp or .part). False, with one line on standard error, when the folder
  // cannot be read or holds no file.
  bool open(const std::string& dir);

  // Reads the next file whole into *bytes and stores its extension (".jpg",
  // or "" when it has none usable) in *extension. False, with one line on
  // standard error, when it cannot be read.
  bool next(std::vector<std::uint8_t>* bytes, std::string* extension);

  std::size_t size() const { return files_.size(); }

 private:
  std::vector<std::string> files_;
  std::size_t next_ = 0;
};

}  // namespace rig
