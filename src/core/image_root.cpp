#include "core/image_root.h"

#include "platform/paths.h"

namespace {

// Everything up to and including the last separator; the working folder
// when there is none, since that is where the system then creates the file.
std::string folderOf(const std::string& prefix) {
  std::string::size_type end = prefix.size();
  while (end > 0 && !platform::isPathSeparator(prefix[end - 1])) --end;
  return end == 0 ? std::string(".") : prefix.substr(0, end);
}

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

PrefixPlace placePrefix(const char* prefix, const char* root) {
  if (root == nullptr || root[0] == '\0') return PrefixPlace::INSIDE;
  std::string resolvedRoot;
  bool exists = false;
  if (!platform::resolveFolder(root, &resolvedRoot, &exists) || !exists) {
    return PrefixPlace::ROOT_MISSING;
  }
  std::string folder;
  if (!platform::resolveFolder(folderOf(prefix), &folder, &exists)) {
    return PrefixPlace::FOLDER_UNRESOLVED;
  }
  return folderLiesWithin(folder, resolvedRoot, platform::pathSeparator(),
                          platform::pathNamesIgnoreCase())
             ? PrefixPlace::INSIDE
             : PrefixPlace::OUTSIDE;
}

const char* prefixRefusalReason(PrefixPlace place) {
  switch (place) {
    case PrefixPlace::INSIDE:
      return "its folder lies inside the image root";
    case PrefixPlace::OUTSIDE:
      return "its folder lies outside the image root";
    case PrefixPlace::FOLDER_UNRESOLVED:
      return "its folder cannot be resolved";
    case PrefixPlace::ROOT_MISSING:
      return "the image root is not an existing folder";
  }
  return "unknown place";
}

bool folderLiesWithin(const std::string& folder, const std::string& root, char separator,
                      bool ignoreCase) {
  if (root.empty() || folder.size() < root.size()) return false;
  for (std::string::size_type i = 0; i < root.size(); ++i) {
    const bool same = ignoreCase ? lowered(folder[i]) == lowered(root[i]) : folder[i] == root[i];
    if (!same) return false;
  }
  // Whole names only: the next character must start a new name, unless the
  // root already ends with a separator (a file-system root such as / or C:\).
  return folder.size() == root.size() || root.back() == separator ||
         folder[root.size()] == separator;
}
