// MAIDEntryPoint of the stand-in module. Only result codes leave it.
#include <memory>

#include "camera/maid.h"
#include "sim_camera.h"

namespace {

std::unique_ptr<sim::SimCamera> camera;

std::int32_t finishAlone(MaidObject* object, std::uint32_t command, std::uint32_t parameter,
                         std::uint32_t dataType, void* data, CompletionProcType completion,
                         void* completionRef, std::int32_t result) {
  if (completion != nullptr)
    completion(object, command, parameter, dataType, data, completionRef, result);
  return result;
}

}  // namespace

MAID_EXPORT std::int32_t MAIDEntryPoint(MaidObject* object, std::uint32_t command,
                                        std::uint32_t parameter, std::uint32_t dataType, void* data,
                                        CompletionProcType completion, void* completionRef) {
  try {
    if (object == nullptr) {
      // Only the module object is opened without an object; one at a time.
      std::int32_t result = MAID_RESULT_INVALID;
      if (command == MAID_CMD_OPEN && parameter == 0 && dataType == MAID_DATATYPE_OBJECT &&
          data != nullptr && camera == nullptr)
        camera = sim::SimCamera::open(static_cast<MaidObject*>(data), &result);
      return finishAlone(object, command, parameter, dataType, data, completion, completionRef,
                         result);
    }
    if (camera == nullptr)
      return finishAlone(object, command, parameter, dataType, data, completion, completionRef,
                         MAID_RESULT_INVALID);
    const std::int32_t result =
        camera->call(object, command, parameter, dataType, data, completion, completionRef);
    // The module object was closed: drop the camera once no call is under way.
    if (camera->finished() && camera->idle()) camera.reset();
    return result;
  } catch (...) {
    return MAID_RESULT_INVALID;
  }
}
