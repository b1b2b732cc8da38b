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

}  // namespace platform
