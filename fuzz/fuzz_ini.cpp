// Reads arbitrary bytes as the INI file: the section list, text and integer
// keys with output buffers of every awkward size, and the whole settings
// import. The reader takes a path, so each input is written to one temporary
// file of this process first.
//
// Every output buffer is a heap block of exactly the size passed, so any
// write past it is caught; results are checked for termination, for the
// count returned, and for agreement between a cut and a whole read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/log.h"
#include "core/server_state.h"
#include "platform/ini.h"
#include "platform/mutex.h"

namespace {

std::string iniPath;
// Larger than anything the reader may write for this input: no value or
// section list is longer than the file.
unsigned large = 64;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void removeFile() { std::remove(iniPath.c_str()); }

void setUpOnce() {
  // Memory-backed where the system has it: the file is rewritten for every
  // input, and a disk would only slow that down.
  std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  name += "/fuzz_ini_XXXXXX";
  const int fd = mkstemp(&name[0]);
  check(fd >= 0);
  close(fd);
  iniPath = name;
  std::atexit(removeFile);
  statusMutex = platform::createTimedMutex().release();
  messageMutex = platform::createTimedMutex().release();
  check(statusMutex != nullptr);
  std::FILE* sink = std::fopen("/dev/null", "w");
  check(sink != nullptr);
  currentLogStream = sink;
}

bool writeFile(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(iniPath.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

std::unique_ptr<char[]> block(unsigned size) {
  // new char[0] is a real block of no bytes: any write to it is caught.
  return std::unique_ptr<char[]>(new char[size]);
}

// The section list in a large buffer: its text, and the count returned.
std::string sectionList(unsigned* count) {
  std::unique_ptr<char[]> out = block(large);
  *count = platform::iniSectionNames(iniPath.c_str(), out.get(), large);
  check(*count < large);
  check(out[*count] == '\0');
  // Every name ends with a zero byte and the list with one more.
  check(*count == 0 || out[*count - 1] == '\0');
  return std::string(out.get(), *count);
}

void checkCutSectionList(const std::string& whole, unsigned size) {
  std::unique_ptr<char[]> out = block(size);
  const unsigned count = platform::iniSectionNames(iniPath.c_str(), out.get(), size);
  if (size < 2) {
    check(count == 0);
    return;
  }
  check(count < size);
  check(out[count] == '\0');
  check(count == 0 || out[count - 1] == '\0');
  check(count <= whole.size());
  if (whole.size() < size - 1) {
    // It fits: the same list.
    check(count == whole.size());
  }
  // A cut list holds the start of the whole one, names possibly cut short.
  for (unsigned i = 0; i < count; ++i) check(out[i] == '\0' || out[i] == whole[i]);
}

// Reads one text key in a large buffer, then with buffers of 0, 1, one
// short of the text, and the exact size, and compares.
std::string checkString(const char* section, const char* key) {
  const char* const fallback = "default";
  std::unique_ptr<char[]> whole = block(large);
  const unsigned length =
      platform::iniGetString(section, key, fallback, whole.get(), large, iniPath.c_str());
  check(length < large);
  check(whole[length] == '\0');
  const unsigned sizes[] = {0, 1, length, length + 1};
  for (const unsigned size : sizes) {
    std::unique_ptr<char[]> out = block(size);
    const unsigned got =
        platform::iniGetString(section, key, fallback, out.get(), size, iniPath.c_str());
    if (size == 0) {
      check(got == 0);
      continue;
    }
    check(got == (length < size - 1 ? length : size - 1));
    check(out[got] == '\0');
    check(std::memcmp(out.get(), whole.get(), got) == 0);
  }
  return std::string(whole.get(), length);
}

// The integer a text value stands for: control characters and blanks, a
// sign, then decimal digits or "0x", "0o" or "0b" and digits of that base,
// wrapping at 32 bits.
int integerOf(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint32_t base = 10;
  if (text.compare(i, 2, "0x") == 0) base = 16;
  if (text.compare(i, 2, "0o") == 0) base = 8;
  if (text.compare(i, 2, "0b") == 0) base = 2;
  std::uint32_t value = 0;
  for (i += base == 10 ? 0 : 2; i < text.size(); ++i) {
    const char c = text[i];
    std::uint32_t digit = 99;
    if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
    if (c >= 'a' && c <= 'z') digit = static_cast<std::uint32_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') digit = static_cast<std::uint32_t>(c - 'A' + 10);
    if (digit >= base) break;
    value = value * base + digit;
  }
  return static_cast<int>(negative ? 0u - value : value);
}

// An integer key must read as the integer of the same key's text.
void checkInt(const char* section, const char* key) {
  const std::string text = checkString(section, key);
  const int fallback = -12345;
  const int value = platform::iniGetInt(section, key, fallback, iniPath.c_str());
  if (text == "default") return;  // missing (or the word itself): nothing to compare
  check(value == (text.empty() ? fallback : integerOf(text)));
}

void checkImport(bool hasSections) {
  serverStatus = ServerStatus{};
  serverSettings = ServerSettings{};
  const bool imported = importIniSettings(iniPath.c_str());
  check(imported == hasSections);
  const ServerSettings& s = serverSettings;
  check(std::memchr(s.bindAddress, 0, sizeof s.bindAddress) != nullptr);
  check(std::memchr(s.logfilename, 0, sizeof s.logfilename) != nullptr);
  check(std::memchr(s.triggerPortName, 0, sizeof s.triggerPortName) != nullptr);
  check(std::memchr(s.laserPortName, 0, sizeof s.laserPortName) != nullptr);
  check(std::memchr(serverStatus.cameraFilePrefix, 0, kPrefixSize) != nullptr);
  check(s.triggerParity[1] == '\0' && s.laserParity[1] == '\0');
  if (imported) printSettings();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (setUpOnce(), true);
  (void)ready;
  if (size > 1u << 20 || !writeFile(data, size)) return 0;
  large = static_cast<unsigned>(size) + 64;

  unsigned count = 0;
  const std::string whole = sectionList(&count);
  const unsigned sizes[] = {0, 1, 2, 8, count, count + 1};
  for (const unsigned bufferSize : sizes) checkCutSectionList(whole, bufferSize);

  checkImport(count != 0);

  // A few keys of the sections the file names, the first two of them.
  std::size_t at = 0;
  for (int n = 0; n < 2 && at < whole.size(); ++n) {
    const char* name = whole.c_str() + at;
    checkInt(name, "port");
    checkString(name, "serialport");
    at += std::strlen(name) + 1;
  }
  checkInt("camera", "interval");
  checkString("server", "logfilename");
  return 0;
}
