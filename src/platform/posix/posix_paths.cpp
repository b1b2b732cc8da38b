#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/paths.h"

namespace platform {
namespace {

// realpath's answer, freed here.
bool realPath(const std::string& path, std::string* out) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  out->assign(real);
  free(real);
  return true;
}

}  // namespace

bool isPathSeparator(char c) { return c == '/'; }
bool pathNamesIgnoreCase() { return false; }

bool resolveFolder(const std::string& path, std::string* resolved, bool* exists) {
  resolved->clear();
  *exists = false;
  std::string head = path.empty() ? "." : path;
  std::vector<std::string> missing;  // names that do not exist yet, last first
  std::string real;
  for (;;) {
    while (head.size() > 1 && head.back() == '/') head.pop_back();
    if (realPath(head, &real)) break;
    if (errno != ENOENT || head == "." || head == "/") return false;
    // A name that exists but cannot be followed is a dangling link: its
    // target could be created later, anywhere, so it is not taken as missing.
    struct stat entry;
    if (lstat(head.c_str(), &entry) == 0) {
      errno = ENOENT;
      return false;
    }
    if (errno != ENOENT) return false;
    const std::string::size_type slash = head.find_last_of('/');
    const std::string name = slash == std::string::npos ? head : head.substr(slash + 1);
    // Among missing names ".." cannot be resolved through links, and taken
    // as text it could climb out of any folder: refused.
    if (name == "..") {
      errno = ENOENT;
      return false;
    }
    if (!name.empty() && name != ".") missing.push_back(name);
    head = slash == std::string::npos ? "." : slash == 0 ? "/" : head.substr(0, slash);
  }
  struct stat folder;
  if (stat(real.c_str(), &folder) != 0) return false;
  if (!S_ISDIR(folder.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
    if (real.back() != '/') real += '/';
    real += *name;
  }
  *resolved = real;
  *exists = missing.empty();
  return true;
}

}  // namespace platform
