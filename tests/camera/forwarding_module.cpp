// A module file whose MAIDEntryPoint forwards every call to the entry point
// whose address the test process put in SKERROW_TEST_FORWARD_TO (hex), so
// that the camera handler can load a scripted module from a file.
#include <cstdint>
#include <cstdlib>

#include "camera/maid.h"

MAID_EXPORT std::int32_t MAIDEntryPoint(MaidObject* object, std::uint32_t command,
                                        std::uint32_t parameter, std::uint32_t dataType, void* data,
                                        CompletionProcType completion, void* completionRef) {
  const char* text = std::getenv("SKERROW_TEST_FORWARD_TO");
  const auto address =
      static_cast<std::uintptr_t>(text != nullptr ? std::strtoull(text, nullptr, 16) : 0);
  if (address == 0) return MAID_RESULT_INVALID;
  const auto target = reinterpret_cast<MAIDEntryPointType>(address);
  return target(object, command, parameter, dataType, data, completion, completionRef);
}
