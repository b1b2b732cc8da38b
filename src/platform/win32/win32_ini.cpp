#include <windows.h>

#include "platform/ini.h"

namespace platform {

unsigned iniSectionNames(const char* path, char* out, unsigned size) {
  return GetPrivateProfileSectionNamesA(out, size, path);
}

int iniGetInt(const char* section, const char* key, int defaultValue, const char* path) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, path));
}

unsigned iniGetString(const char* section, const char* key, const char* defaultValue, char* out,
                      unsigned size, const char* path) {
  return GetPrivateProfileStringA(section, key, defaultValue, out, size, path);
}

}  // namespace platform
