#include "camera/module_commands.h"

#include <cstdio>
#include <new>

#include "camera/module_library.h"
#include "platform/clock.h"

std::uint32_t completionPollLimit = DEFAULT_COMPLETION_POLL_LIMIT;

void CompletionProc(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                    std::uint32_t dataType, void* data, void* reference, std::int32_t result) {
  (void)object;
  (void)command;
  (void)parameter;
  (void)dataType;
  (void)data;
  (void)result;
  auto* context = static_cast<CompletionContext*>(reference);
  if (context == nullptr) return;
  if (context->doneCounter != nullptr) ++*context->doneCounter;
  // Keyed on the block rather than on the command: only an acquisition
  // carries one, and whatever carries one must not leak it.
  releaseDataProcContext(context->extra);
  delete context;
}

bool waitForCompletion(ModuleObject* descriptor, const std::uint32_t* doneCounter) {
  if (*doneCounter != 0) return true;
  // Bounded: a module that loses a completion must not stop the camera
  // thread, and with it every command, for good. The bound counts polling
  // calls, not time, so that an operator answering a UI request inside a
  // polling call does not use it up.
  for (std::uint32_t polls = 0; polls < completionPollLimit; ++polls) {
    const std::int32_t result = callModule(descriptor, MODULE_CMD_PROCESS, 0, MODULE_DATATYPE_NULL,
                                           nullptr, nullptr, nullptr);
    if (!moduleSucceeded(MODULE_CMD_PROCESS, result)) {
      if (*doneCounter != 0) return true;
      std::printf("waitForCompletion(): ERROR The module stopped processing; command given up.\n");
      return false;
    }
    platform::sleepMs(10);
    if (*doneCounter != 0) return true;
  }
  std::printf(
      "waitForCompletion(): ERROR No completion after %u polling calls; command given up.\n",
      static_cast<unsigned>(completionPollLimit));
  return false;
}

std::int32_t issueWaitedCommand(ModuleObject* descriptor, std::uint32_t command,
                                std::uint32_t parameter, std::uint32_t dataType, void* data,
                                DataProcContext* extra, bool* completed) {
  *completed = false;
  std::uint32_t done = 0;
  auto* context = new (std::nothrow) CompletionContext{&done, extra};
  if (context == nullptr || moduleEntryPoint == nullptr) {
    // Nobody would ever complete it: the context and the block are ours.
    delete context;
    releaseDataProcContext(extra);
    if (context == nullptr) std::puts("There is not enough memory");
    return MODULE_RESULT_INVALID;
  }
  const std::int32_t result =
      callModule(descriptor, command, parameter, dataType, data, CompletionProc, context);
  // A command that failed is completed too: the module's form completes
  // every command given a completion procedure.
  *completed = waitForCompletion(descriptor, &done);
  // Still pending: the context lives on with the module, but its counter
  // lives on this stack, so a late completion must not find it.
  if (!*completed) context->doneCounter = nullptr;
  return result;
}

bool enumCapabilities(ModuleObject* descriptor, std::vector<CapabilityInfo>* list) {
  for (;;) {
    std::uint32_t count = 0;
    bool completed = false;
    const std::int32_t counted =
        issueWaitedCommand(descriptor, MODULE_CMD_CAP_COUNT, 0, MODULE_DATATYPE_UNSIGNED_PTR,
                           &count, nullptr, &completed);
    if (counted == MODULE_RESULT_RESTART && completed) continue;
    if (!completed || (counted != MODULE_RESULT_OK && counted != MODULE_RESULT_ALSO_OK)) {
      list->clear();
      return false;
    }
    if (counted == MODULE_RESULT_ALSO_OK) {
      list->clear();
      return true;
    }
    // Read into a list of its own: an event procedure running during the
    // wait may replace the record's list, and the module must not write
    // into a buffer that moved.
    std::vector<CapabilityInfo> read;
    try {
      read.resize(count);
    } catch (...) {
      // Count 0 and no list: every search then agrees with the count.
      list->clear();
      std::puts("There is not enough memory");
      return false;
    }
    const std::int32_t listed =
        issueWaitedCommand(descriptor, MODULE_CMD_CAP_LIST, count, MODULE_DATATYPE_CAP_INFO,
                           read.data(), nullptr, &completed);
    if (listed == MODULE_RESULT_RESTART && completed) continue;  // the count is read again
    if (!completed) {
      list->clear();
      return false;
    }
    *list = std::move(read);
    return listed == MODULE_RESULT_OK || listed == MODULE_RESULT_ALSO_OK;
  }
}

namespace {

bool waitedSucceeds(ModuleObject* descriptor, std::uint32_t command, std::uint32_t parameter,
                    std::uint32_t dataType, void* data) {
  bool completed = false;
  const std::int32_t result =
      issueWaitedCommand(descriptor, command, parameter, dataType, data, nullptr, &completed);
  return completed && result == MODULE_RESULT_OK;
}

}  // namespace

bool enumChildren(ModuleObject* descriptor) {
  return waitedSucceeds(descriptor, MODULE_CMD_ENUM_CHILDREN, 0, MODULE_DATATYPE_NULL, nullptr);
}

bool capGet(ModuleObject* descriptor, std::uint32_t capability, std::uint32_t dataType,
            void* data) {
  return waitedSucceeds(descriptor, MODULE_CMD_CAP_GET, capability, dataType, data);
}

bool capSet(ModuleObject* descriptor, std::uint32_t capability, std::uint32_t dataType,
            void* data) {
  return waitedSucceeds(descriptor, MODULE_CMD_CAP_SET, capability, dataType, data);
}

bool capGetChildrenArray(ModuleObject* descriptor, CapEnum* list) {
  return waitedSucceeds(descriptor, MODULE_CMD_CAP_GET_ARRAY, MODULE_CAP_CHILDREN,
                        MODULE_DATATYPE_ENUM, list);
}
