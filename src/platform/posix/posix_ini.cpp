// Reads INI files the way the Windows profile functions do, so that one
// configuration file means the same on both platforms.
#include <errno.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ini.h"

namespace platform {
namespace {

struct IniLine {
  bool isSection;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed and unquoted
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool equalNoCase(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Reads and splits the whole file. Returns false, with errno set, when the
// file cannot be read.
bool loadIni(const char* path, std::vector<IniLine>* lines) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::string text;
  char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    errno = EIO;
    return false;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t stop = text.find('\n', start);
    if (stop == std::string::npos) stop = text.size();
    const std::string line = trim(text.substr(start, stop - start));
    start = stop + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      // A header without its closing bracket names the rest of the line.
      const std::size_t close = line.find(']');
      const std::size_t end = close == std::string::npos ? line.size() : close;
      lines->push_back({true, trim(line.substr(1, end - 1)), std::string()});
      continue;
    }
    const std::size_t equals = line.find('=');
    IniLine entry{false, trim(line.substr(0, equals)), std::string()};
    if (equals != std::string::npos) {
      std::string value = trim(line.substr(equals + 1));
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
      }
      entry.value = value;
    }
    lines->push_back(entry);
  }
  return true;
}

// Finds the key in the first section of that name. Returns false when the
// file, the section or the key is missing.
bool findValue(const char* path, const char* section, const char* key, std::string* value) {
  std::vector<IniLine> lines;
  if (!loadIni(path, &lines)) return false;
  bool inSection = false;
  bool sectionSeen = false;
  for (const IniLine& line : lines) {
    if (line.isSection) {
      if (sectionSeen && inSection) return false;
      inSection = equalNoCase(line.name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (inSection && equalNoCase(line.name, key)) {
      *value = line.value;
      return true;
    }
  }
  return false;
}

unsigned copyCut(const std::string& text, char* out, unsigned size) {
  if (out == nullptr || size == 0) return 0;
  const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
  return static_cast<unsigned>(length);
}

}  // namespace

unsigned iniSectionNames(const char* path, char* out, unsigned size) {
  std::vector<IniLine> lines;
  if (!loadIni(path, &lines)) return 0;
  if (out == nullptr || size < 2) return 0;
  unsigned used = 0;
  for (const IniLine& line : lines) {
    if (!line.isSection) continue;
    const std::size_t room = size - 1 - used;  // keep one byte for the list's end
    if (room == 0) break;
    used += copyCut(line.name, out + used, static_cast<unsigned>(room)) + 1;
    if (used >= size - 1) {
      used = size - 1;
      break;
    }
  }
  out[used] = '\0';
  if (used == 0) errno = 0;  // readable, but no section in it
  // Counts every name's terminator but the list's own, as Windows does.
  return used;
}

int iniGetInt(const char* section, const char* key, int defaultValue, const char* path) {
  std::string value;
  if (!findValue(path, section, key, &value) || value.empty()) return defaultValue;
  std::size_t i = 0;
  while (i < value.size() && isBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  std::uint32_t result = 0;
  // Only a lower-case "0x" starts a hexadecimal number for Windows.
  if (i + 1 < value.size() && value[i] == '0' && value[i + 1] == 'x') {
    for (i += 2; i < value.size(); ++i) {
      const char c = value[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) break;
      result = result * 16u + static_cast<std::uint32_t>(digit);
    }
  } else {
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
      result = result * 10u + static_cast<std::uint32_t>(value[i] - '0');
    }
  }
  if (negative) result = 0u - result;
  return static_cast<int>(result);
}

unsigned iniGetString(const char* section, const char* key, const char* defaultValue, char* out,
                      unsigned size, const char* path) {
  std::string value;
  if (!findValue(path, section, key, &value)) value = defaultValue ? defaultValue : "";
  return copyCut(value, out, size);
}

}  // namespace platform
