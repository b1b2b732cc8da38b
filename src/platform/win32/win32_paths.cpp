#include <windows.h>

#include <string>
#include <vector>

#include "platform/paths.h"

namespace platform {
namespace {

// Owns one handle opened for a query within one call; never copied.
class QueryHandle {
 public:
  explicit QueryHandle(HANDLE handle) : handle_(handle) {}
  ~QueryHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// GetFullPathNameA's answer: absolute, "/" turned into "\", "." and ".."
// taken out as text, as every later open of the path will take them.
bool fullPath(const std::string& path, std::string* out) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::vector<char> buffer(needed);
    const DWORD length = GetFullPathNameA(path.c_str(), needed, buffer.data(), nullptr);
    if (length == 0) return false;
    if (length < needed) {
      out->assign(buffer.data(), length);
      return true;
    }
  }
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// The final path of an open folder, links followed, without the "\\?\"
// or "\\?\UNC\" marks that GetFinalPathNameByHandleA puts in front.
bool finalPath(HANDLE handle, std::string* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD needed = GetFinalPathNameByHandleA(handle, nullptr, 0, flags);
  if (needed == 0) return false;
  std::vector<char> buffer(needed);
  const DWORD length = GetFinalPathNameByHandleA(handle, buffer.data(), needed, flags);
  if (length == 0 || length >= needed) return false;
  std::string path(buffer.data(), length);
  if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    path = "\\\\" + path.substr(8);
  } else if (path.compare(0, 4, "\\\\?\\") == 0) {
    path = path.substr(4);
  }
  *out = path;
  return true;
}

bool isDriveRoot(const std::string& path) {
  return path.size() == 3 && path[1] == ':' && path[2] == '\\';
}

}  // namespace

bool isPathSeparator(char c) { return c == '/' || c == '\\' || c == ':'; }
bool pathNamesIgnoreCase() { return true; }

bool resolveFolder(const std::string& path, std::string* resolved, bool* exists) {
  resolved->clear();
  *exists = false;
  std::string head;
  if (!fullPath(path.empty() ? "." : path, &head)) return false;
  std::vector<std::string> missing;  // names that do not exist yet, last first
  std::string real;
  for (;;) {
    while (head.size() > 1 && head.back() == '\\' && !isDriveRoot(head)) head.pop_back();
    // Backup semantics let CreateFile open a folder; no access is asked for.
    QueryHandle folder(CreateFileA(head.c_str(), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.get() != INVALID_HANDLE_VALUE) {
      if (finalPath(folder.get(), &real)) break;
      if (GetLastError() == ERROR_DIRECTORY) return false;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesA(head.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      // A plain folder whose final path cannot be asked for (some systems
      // and Wine refuse the open or the query): its full path is final, as
      // it is no link.
      real = head;
      break;
    }
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    // A name that exists but cannot be opened is a dangling link: its target
    // could be created later, anywhere, so it is not taken as missing.
    if (GetFileAttributesA(head.c_str()) != INVALID_FILE_ATTRIBUTES) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    const std::string::size_type slash = head.find_last_of('\\');
    if (slash == std::string::npos || slash + 1 == head.size()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    const std::string name = head.substr(slash + 1);
    // GetFullPathNameA has taken ".." out already; one left over would be
    // read differently by a later open, so it is refused.
    if (name == "..") {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if (name != ".") missing.push_back(name);
    head = head.substr(0, slash);
    if (head.size() == 2 && head[1] == ':') head += '\\';
  }
  for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
    if (real.back() != '\\') real += '\\';
    real += *name;
  }
  *resolved = real;
  *exists = missing.empty();
  return true;
}

}  // namespace platform
