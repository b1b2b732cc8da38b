#include <winsock2.h>
#include <windows.h>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform {

unsigned long lastSystemError() { return GetLastError(); }
unsigned long lastSocketError() { return static_cast<unsigned long>(WSAGetLastError()); }

const char* defaultConfigPath() { return ".\\Skerrow.ini"; }
char pathSeparator() { return '\\'; }

}  // namespace platform
