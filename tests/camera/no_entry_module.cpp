// A module file that lacks the entry point the loader looks for.
#include <cstdint>

#include "camera/module_api.h"

MODULE_EXPORT std::int32_t NotTheEntryPoint() { return 0; }
