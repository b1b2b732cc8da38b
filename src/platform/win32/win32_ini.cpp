#include <windows.h>

#include <string>
#include <vector>

#include "platform/ini.h"

namespace platform {
namespace {

// The profile functions look a name without any folder (`site.ini`) up in
// the Windows folder, not in the working folder as every other file the
// server opens. Resolving the name first makes it mean the same file on
// both platforms. The full path may be longer than the name given, so the
// buffer is sized by asking. Returns false, with GetLastError() set, when
// the name cannot be resolved.
bool fullPath(const char* path, std::string* full) {
  // The working folder may change between the two calls: ask again then.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD needed = GetFullPathNameA(path, 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::vector<char> buffer(needed);
    const DWORD length = GetFullPathNameA(path, needed, buffer.data(), nullptr);
    if (length == 0) return false;
    if (length < needed) {
      full->assign(buffer.data(), length);
      return true;
    }
  }
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

}  // namespace

unsigned iniSectionNames(const char* path, char* out, unsigned size) {
  std::string full;
  if (!fullPath(path, &full)) return 0;
  return GetPrivateProfileSectionNamesA(out, size, full.c_str());
}

int iniGetInt(const char* section, const char* key, int defaultValue, const char* path) {
  std::string full;
  if (!fullPath(path, &full)) return defaultValue;
  return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, full.c_str()));
}

unsigned iniGetString(const char* section, const char* key, const char* defaultValue, char* out,
                      unsigned size, const char* path) {
  std::string full;
  if (fullPath(path, &full)) {
    return GetPrivateProfileStringA(section, key, defaultValue, out, size, full.c_str());
  }
  // An unreadable file: the default, cut as the profile function cuts it.
  if (out == nullptr || size == 0) return 0;
  const std::string text = defaultValue != nullptr ? defaultValue : "";
  const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
  text.copy(out, length);
  out[length] = '\0';
  return static_cast<unsigned>(length);
}

}  // namespace platform
