#include <errno.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform {

unsigned long lastSystemError() { return static_cast<unsigned long>(errno); }
unsigned long lastSocketError() { return static_cast<unsigned long>(errno); }

const char* defaultConfigPath() { return "./Skerrow.ini"; }
char pathSeparator() { return '/'; }

std::string currentDirectory() {
  // getcwd fails with ERANGE while the buffer is too small: grow and retry.
  std::vector<char> buffer(PATH_MAX > 0 ? PATH_MAX : 4096);
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string();
}

}  // namespace platform
