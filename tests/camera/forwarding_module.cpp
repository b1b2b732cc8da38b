// A module file whose entry point forwards every call to the entry point
// whose address the test process put in SKERROW_TEST_FORWARD_TO (hex), so
// that the camera handler can load a scripted module from a file.
#include <cstdint>
#include <cstdlib>

#include "camera/module_api.h"
#include "camera/module_library.h"

MODULE_EXPORT std::int32_t ForwardingEntryPoint(ModuleObject* object, std::uint32_t command,
                                                std::uint32_t parameter, std::uint32_t dataType,
                                                void* data, CompletionProcType completion,
                                                void* completionRef)
    MODULE_SYMBOL(MODULE_ENTRY_SYMBOL);

std::int32_t ForwardingEntryPoint(ModuleObject* object, std::uint32_t command,
                                  std::uint32_t parameter, std::uint32_t dataType, void* data,
                                  CompletionProcType completion, void* completionRef) {
  const char* text = std::getenv("SKERROW_TEST_FORWARD_TO");
  const auto address =
      static_cast<std::uintptr_t>(text != nullptr ? std::strtoull(text, nullptr, 16) : 0);
  if (address == 0) return MODULE_RESULT_INVALID;
  const auto target = reinterpret_cast<ModuleEntryPoint>(address);
  return target(object, command, parameter, dataType, data, completion, completionRef);
}
