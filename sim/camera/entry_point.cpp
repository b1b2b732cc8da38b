// The entry point of the stand-in module. Only result codes leave it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "camera/module_api.h"
#include "sim_camera.h"

namespace {

std::unique_ptr<sim::SimCamera> camera;

std::int32_t finishAlone(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                         std::uint32_t dataType, void* data, CompletionProcType completion,
                         void* completionRef, std::int32_t result) {
  if (completion != nullptr)
    completion(object, command, parameter, dataType, data, completionRef, result);
  return result;
}

}  // namespace

// Exported under the vendor module's entry-point symbol, which is how the
// program finds this stand-in in place of the real module.
MODULE_EXPORT std::int32_t StandInEntryPoint(ModuleObject* object, std::uint32_t command,
                                             std::uint32_t parameter, std::uint32_t dataType,
                                             void* data, CompletionProcType completion,
                                             void* completionRef) MODULE_SYMBOL("MAIDEntryPoint");

std::int32_t StandInEntryPoint(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                               std::uint32_t dataType, void* data, CompletionProcType completion,
                               void* completionRef) {
  try {
    if (object == nullptr) {
      // Only the module object is opened without an object; one at a time.
      std::int32_t result = MODULE_RESULT_INVALID;
      if (command == MODULE_CMD_OPEN && parameter == 0 && dataType == MODULE_DATATYPE_OBJECT &&
          data != nullptr && camera == nullptr)
        camera = sim::SimCamera::open(static_cast<ModuleObject*>(data), &result);
      return finishAlone(object, command, parameter, dataType, data, completion, completionRef,
                         result);
    }
    if (camera == nullptr) {
      // The module object is closed; with it went the settings, so the
      // strict switch is read here again.
      const char* strict = std::getenv("SKERROW_CAM_STRICT");
      if (strict != nullptr && std::strcmp(strict, "1") == 0)
        std::fprintf(stderr, "Type0001.md3 (stand-in): command %u on a closed object refused.\n",
                     command);
      return finishAlone(object, command, parameter, dataType, data, completion, completionRef,
                         MODULE_RESULT_INVALID);
    }
    const std::int32_t result =
        camera->call(object, command, parameter, dataType, data, completion, completionRef);
    // The module object was closed: drop the camera once no call is under way.
    if (camera->finished() && camera->idle()) camera.reset();
    return result;
  } catch (...) {
    return MODULE_RESULT_INVALID;
  }
}
