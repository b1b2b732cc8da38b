// Where images may go: the folder of a file prefix placed against the
// operator's image root ([camera] imageroot).
#pragma once

#include <string>

enum class PrefixPlace {
  INSIDE,             // the folder is the root or lies below it; or no root is set
  OUTSIDE,            // the folder lies elsewhere
  FOLDER_UNRESOLVED,  // the prefix's folder cannot be resolved
  ROOT_MISSING,       // the root is no existing folder, or cannot be resolved
};

// Places the folder of prefix against root, both resolved through the
// platform at this moment (links followed), so that a root that appears
// after start-up counts from then on. The folder is everything up to the
// last path separator; a prefix without one lies in the working folder. An
// empty root means no restriction: INSIDE, with no file-system call made.
// The folder may be missing (it is judged by the names it would have); the
// root may not, since nothing can be shown to lie inside a root that is not
// there (a typing error, a disk not mounted yet).
PrefixPlace placePrefix(const char* prefix, const char* root);

// The reason given in a refusal line for a place other than INSIDE, e.g.
// "its folder lies outside the image root".
const char* prefixRefusalReason(PrefixPlace place);

// True when the resolved folder equals the resolved root or lies below it,
// compared by whole names (/data/root2 is not inside /data/root), without
// regard to ASCII case when ignoreCase is set. An empty root holds nothing.
bool folderLiesWithin(const std::string& folder, const std::string& root, char separator,
                      bool ignoreCase);
