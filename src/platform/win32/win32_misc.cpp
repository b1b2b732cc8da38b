#include <winsock2.h>
#include <windows.h>

#include <vector>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform {

unsigned long lastSystemError() { return GetLastError(); }
unsigned long lastSocketError() { return static_cast<unsigned long>(WSAGetLastError()); }

const char* defaultConfigPath() { return ".\\Skerrow.ini"; }
char pathSeparator() { return '\\'; }

std::string currentDirectory() {
  // The first call tells the size needed, terminator included; the folder
  // may change in between, so the second call's answer is checked again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return std::string();
    std::vector<char> buffer(needed);
    const DWORD length = GetCurrentDirectoryA(needed, buffer.data());
    if (length == 0) return std::string();
    if (length < needed) return std::string(buffer.data(), length);
  }
  return std::string();
}

}  // namespace platform
