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

// A configuration file is a few hundred bytes; anything near this size is
// not one (a device, a log named by mistake), and reading it whole would
// only exhaust memory or never end.
const std::size_t kMaxIniBytes = 4u << 20;

struct IniLine {
  bool isSection;
  bool hasValue;      // a key line with '='
  std::string name;   // section or key name, ended by its first zero byte
  std::string value;  // key value, trimmed, ended by its first zero byte
};

// ^Z counts as a blank, as for Windows: old DOS editors end files with it.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Windows keeps every name and value as a C string: a zero byte ends it.
std::string upToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

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

void appendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Turns UTF-16 text after its byte-order mark into UTF-8, the 8-bit text of
// POSIX names. Bytes: mark (2), then code units of 2 bytes each in the
// mark's order; a last odd byte is no unit and is dropped. A lone surrogate
// becomes '?', as the Windows conversion's default character.
std::string fromUtf16(const std::string& bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const std::size_t units = (bytes.size() - 2) / 2;
  const auto unit = [&](std::size_t i) {
    const unsigned char first = static_cast<unsigned char>(bytes[2 + 2 * i]);
    const unsigned char second = static_cast<unsigned char>(bytes[3 + 2 * i]);
    return static_cast<std::uint32_t>(bigEndian ? (first << 8 | second) : (second << 8 | first));
  };
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t code = unit(i);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units) {
      const std::uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low < 0xE000) {
        appendUtf8(0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00), &out);
        ++i;
        continue;
      }
    }
    appendUtf8(code >= 0xD800 && code < 0xE000 ? '?' : code, &out);
  }
  return out;
}

// Reads the whole file, at most kMaxIniBytes. Returns false, with errno
// set, when the file cannot be read.
bool readText(const char* path, std::string* text) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char block[4096];
  std::size_t got = 0;
  while (text->size() <= kMaxIniBytes && (got = std::fread(block, 1, sizeof block, file)) > 0) {
    text->append(block, got);
  }
  const int readError = errno;  // fread leaves the reason of a failed read here
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    errno = readError != 0 ? readError : EIO;
    return false;
  }
  if (text->size() > kMaxIniBytes) {
    errno = EFBIG;
    return false;
  }
  return true;
}

// Splits one line, already trimmed and not empty, into a section header or
// a key. As for Windows: a header ends at the line's last ']', and a '['
// line without one is no header (so the section before goes on); a line
// without '=' is a key without a value, which reads as missing.
IniLine parseLine(const std::string& line) {
  if (line[0] == '[') {
    const std::size_t close = line.rfind(']');
    if (close != std::string::npos) {
      return {true, false, upToZero(trim(line.substr(1, close - 1))), {}};
    }
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return {false, false, upToZero(line), {}};
  return {false, true, upToZero(trim(line.substr(0, equals))),
          upToZero(trim(line.substr(equals + 1)))};
}

// Reads and splits the whole file. Returns false, with errno set, when the
// file cannot be read.
bool loadIni(const char* path, std::vector<IniLine>* lines) {
  std::string text;
  if (!readText(path, &text)) return false;
  // Byte-order marks: UTF-8, and UTF-16 as Notepad saves "Unicode".
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text.erase(0, 3);
  } else if (text.compare(0, 2, "\xFF\xFE") == 0) {
    text = fromUtf16(text, false);
  } else if (text.compare(0, 2, "\xFE\xFF") == 0) {
    text = fromUtf16(text, true);
  }

  // Any run of CR and LF ends a line: CR LF, LF and old CR-only files alike.
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t stop = text.find_first_of("\r\n", start);
    if (stop == std::string::npos) stop = text.size();
    const std::string line = trim(text.substr(start, stop - start));
    start = stop + 1;
    if (line.empty() || line[0] == ';') continue;
    lines->push_back(parseLine(line));
  }
  return true;
}

// Finds the key in the first section of that name. Returns false when the
// file, the section, the key or the key's '=' is missing.
bool findValue(const char* path, const char* section, const char* key, std::string* value) {
  std::vector<IniLine> lines;
  if (!loadIni(path, &lines)) return false;
  bool inSection = false;
  bool sectionSeen = false;
  for (const IniLine& line : lines) {
    if (line.isSection) {
      if (sectionSeen && inSection) return false;
      inSection = !line.name.empty() && equalNoCase(line.name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (inSection && equalNoCase(line.name, key)) {
      if (!line.hasValue) return false;
      *value = line.value;
      // Matching quotes around the value are dropped.
      if (value->size() >= 2 && ((*value)[0] == '"' || (*value)[0] == '\'') &&
          value->back() == (*value)[0]) {
        *value = value->substr(1, value->size() - 2);
      }
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
    // "[]" names no section Windows can find or lists.
    if (!line.isSection || line.name.empty()) continue;
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
  // Windows skips every control character and blank before the number.
  while (i < value.size() && static_cast<unsigned char>(value[i]) <= ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  // A lower-case prefix picks the base, as for Windows: "0x" hexadecimal,
  // "0o" octal, "0b" binary; anything else is decimal.
  std::uint32_t base = 10;
  if (i + 1 < value.size() && value[i] == '0') {
    const char mark = value[i + 1];
    base = mark == 'x' ? 16 : mark == 'o' ? 8 : mark == 'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  std::uint32_t result = 0;
  for (; i < value.size(); ++i) {
    const char c = value[i];
    std::uint32_t digit = base;  // no digit
    if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
    if (c >= 'a' && c <= 'z') digit = static_cast<std::uint32_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') digit = static_cast<std::uint32_t>(c - 'A' + 10);
    if (digit >= base) break;
    result = result * base + digit;
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
