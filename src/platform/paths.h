// File-name conventions of the platform.
#pragma once

namespace platform {

// The configuration file read when none is named: ".\Skerrow.ini" on
// Windows, "./Skerrow.ini" on POSIX.
const char* defaultConfigPath();

// The separator between a folder and a file name.
char pathSeparator();

}  // namespace platform
