// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes text byte for byte (no newline translation) and returns the
  // file's full path.
  std::string write(const std::string& name, const std::string& text) const;
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// Reads a file written in text mode, with Windows' CR LF line ends turned
// back into LF so that one expectation serves both platforms.
std::string readTextFile(const std::string& path);

}  // namespace testing_support
