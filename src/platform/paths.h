// File-name conventions of the platform.
#pragma once

#include <string>

namespace platform {

// The configuration file read when none is named: ".\Skerrow.ini" on
// Windows, "./Skerrow.ini" on POSIX.
const char* defaultConfigPath();

// The separator between a folder and a file name.
char pathSeparator();

// The process's working directory, as the platform spells it (no trailing
// separator except at a root); "" when it cannot be read.
std::string currentDirectory();

// True for a character after which a file name begins: '/' on POSIX; '/',
// '\\' and the colon of a drive-relative name such as "C:name" on Windows.
bool isPathSeparator(char c);

// True when the platform's file names compare without regard to case.
bool pathNamesIgnoreCase();

// Resolves a folder path, absolute or relative to the working folder, to its
// canonical absolute form with symbolic links followed, as the platform
// spells it (no trailing separator except at a root). A folder that does not
// exist yet is resolved through its longest existing parent, with the
// missing names appended; a ".." among them, an existing entry that cannot
// be followed (a dangling link) or an existing part that is no folder fails.
// *exists tells whether the whole path exists (then as a folder). Returns
// false with *resolved empty and the system error code set (see
// lastSystemError) when the path cannot be resolved.
bool resolveFolder(const std::string& path, std::string* resolved, bool* exists);

}  // namespace platform
