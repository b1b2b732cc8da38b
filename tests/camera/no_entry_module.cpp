// A module file that lacks MAIDEntryPoint.
#include <cstdint>

#include "camera/maid.h"

MAID_EXPORT std::int32_t NotTheEntryPoint() { return 0; }
