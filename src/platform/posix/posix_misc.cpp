#include <errno.h>

#include "platform/error.h"
#include "platform/paths.h"

namespace platform {

unsigned long lastSystemError() { return static_cast<unsigned long>(errno); }
unsigned long lastSocketError() { return static_cast<unsigned long>(errno); }

const char* defaultConfigPath() { return "./Skerrow.ini"; }
char pathSeparator() { return '/'; }

}  // namespace platform
