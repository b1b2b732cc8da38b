#include "sim/rig/rig_wait.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace rigtest {

bool waitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::vector<std::vector<std::string>> logRows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, ',')) fields.push_back(field);
    // A trailing empty field is not returned by getline.
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

std::vector<std::vector<std::string>> rowsOf(const std::string& path, const std::string& event) {
  std::vector<std::vector<std::string>> rows;
  for (auto& row : logRows(path)) {
    if (row.size() > 1 && row[1] == event) rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> cardFiles(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool haveExiftool() { return std::system("exiftool -ver >/dev/null 2>&1") == 0; }

bool exiftoolTags(const std::string& path, const std::string& tagOptions,
                  std::map<std::string, std::string>* tags) {
  const std::string command = "exiftool -s " + tagOptions + " '" + path + "'";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text(line);
    const auto colon = text.find(" : ");
    if (colon == std::string::npos) continue;
    std::string value = text.substr(colon + 3);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    (*tags)[text.substr(0, text.find(' '))] = value;
  }
  return ::pclose(pipe) == 0;
}

}  // namespace rigtest
