#include "camera/module_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "camera/module_library.h"
#include "camera/object_record.h"
#include "platform/clock.h"

std::uint32_t completionIdleLimitMs = DEFAULT_COMPLETION_IDLE_LIMIT_MS;
std::uint32_t (*completionClock)() = platform::tickMs;

namespace {

// Every context handed to the module and not yet freed: a completion is
// only followed when its reference is one of them.
std::vector<CompletionContext*> liveCommands;

std::uint32_t progressCount = 0;

auto findLive(const void* reference) {
  return std::find(liveCommands.begin(), liveCommands.end(), reference);
}

void forget(CompletionContext* context) {
  const auto it = findLive(context);
  if (it != liveCommands.end()) liveCommands.erase(it);
  delete context;
}

// The record a descriptor belongs to says whether its object is still open;
// a closed one must get no command.
bool recordClosed(const ModuleObject* descriptor) {
  const auto* record =
      descriptor != nullptr ? static_cast<const ObjectRecord*>(descriptor->refClient) : nullptr;
  return record != nullptr && record->closed;
}

// Fills the context's own copy of the caller's data and sets *moduleData to
// what the module gets. False when the copy cannot be allocated.
bool copyIn(CompletionContext& context, std::uint32_t parameter, std::uint32_t dataType, void* data,
            void** moduleData) {
  *moduleData = data;
  if (data == nullptr) return true;
  std::size_t size = 0;
  switch (dataType) {
    case MODULE_DATATYPE_UNSIGNED_PTR:
      size = sizeof(std::uint32_t);
      break;
    case MODULE_DATATYPE_CALLBACK:
      size = sizeof(CallbackRecord);
      break;
    case MODULE_DATATYPE_CAP_INFO:
      size = std::size_t{parameter} * sizeof(CapabilityInfo);
      break;
    case MODULE_DATATYPE_ENUM:
      size = sizeof(CapEnum);
      break;
    default:
      return true;  // a value in the data argument itself, or nothing to keep
  }
  try {
    context.block.assign(static_cast<unsigned char*>(data),
                         static_cast<unsigned char*>(data) + size);
    if (dataType == MODULE_DATATYPE_ENUM) {
      CapEnum value;
      std::memcpy(&value, data, sizeof value);
      if (value.data != nullptr) {
        const std::size_t bytes = std::size_t{value.elementCount} * value.elementSize;
        const auto* array = static_cast<const unsigned char*>(value.data);
        context.elements.assign(array, array + bytes);
        value.data = context.elements.data();
        std::memcpy(context.block.data(), &value, sizeof value);
      }
    }
  } catch (...) {
    return false;
  }
  *moduleData = context.block.empty() ? data : context.block.data();
  return true;
}

// Gives the caller what the module wrote, once the command completed.
void copyOut(const CompletionContext& context, std::uint32_t dataType, void* data) {
  if (data == nullptr || context.block.empty()) return;
  if (dataType != MODULE_DATATYPE_ENUM) {
    std::memcpy(data, context.block.data(), context.block.size());
    return;
  }
  CapEnum caller;
  std::memcpy(&caller, data, sizeof caller);
  void* const array = caller.data;
  std::memcpy(&caller, context.block.data(), sizeof caller);
  caller.data = array;  // the caller's own array, never the copy's
  std::memcpy(data, &caller, sizeof caller);
  if (array != nullptr && !context.elements.empty())
    std::memcpy(array, context.elements.data(), context.elements.size());
}

}  // namespace

void noteModuleProgress() { ++progressCount; }

void CompletionProc(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                    std::uint32_t dataType, void* data, void* reference, std::int32_t result) {
  (void)object;
  (void)command;
  (void)parameter;
  (void)dataType;
  (void)data;
  (void)result;
  const auto it = findLive(reference);
  if (it == liveCommands.end()) return;
  CompletionContext* context = *it;
  if (context->abandoned) {
    forget(context);  // nobody waits for it any more
    return;
  }
  context->completed = true;
}

bool waitForCompletion(ModuleObject* descriptor, const CompletionContext& context) {
  if (context.completed) return true;
  // Given up only when the module shows no sign of work for the whole
  // limit: a large image coming down slowly, or an operator answering a UI
  // request inside a polling call, is progress.
  std::uint32_t progressSeen = progressCount;
  std::uint32_t idleSince = completionClock();
  for (;;) {
    // An event closed the object: it completes nothing more, and a closed
    // object gets no command, not even a polling one.
    if (recordClosed(descriptor)) return false;
    const std::int32_t result = callModule(descriptor, MODULE_CMD_PROCESS, 0, MODULE_DATATYPE_NULL,
                                           nullptr, nullptr, nullptr);
    if (!moduleSucceeded(MODULE_CMD_PROCESS, result)) {
      if (context.completed) return true;
      std::printf("waitForCompletion(): ERROR The module stopped processing; command given up.\n");
      return false;
    }
    // A command that this polling call completed is done: sleeping first
    // would cost every waited command 10 ms, about 25 of them an image, and
    // hold a module that completes on later calls to a few images a second.
    if (context.completed) return true;
    platform::sleepMs(10);
    if (context.completed) return true;
    if (progressCount != progressSeen) {
      progressSeen = progressCount;
      idleSince = completionClock();
    } else if (completionClock() - idleSince >= completionIdleLimitMs) {
      std::printf(
          "waitForCompletion(): ERROR No completion and no data for %u s; command given up.\n",
          static_cast<unsigned>(completionIdleLimitMs / 1000));
      return false;
    }
  }
}

std::int32_t issueWaitedCommand(ModuleObject* descriptor, std::uint32_t command,
                                std::uint32_t parameter, std::uint32_t dataType, void* data,
                                DataProcContext* extra, bool* completed) {
  *completed = false;
  if (moduleEntryPoint == nullptr || recordClosed(descriptor)) {
    // Nobody would ever complete it: the block is ours.
    releaseDataProcContext(extra);
    return MODULE_RESULT_INVALID;
  }
  std::unique_ptr<CompletionContext> owned(new (std::nothrow) CompletionContext());
  if (owned == nullptr) releaseDataProcContext(extra);
  void* moduleData = data;
  bool ready = owned != nullptr;
  if (ready) {
    owned->descriptor = descriptor;
    owned->extra = extra;
    ready = copyIn(*owned, parameter, dataType, data, &moduleData);
  }
  if (ready) {
    try {
      liveCommands.push_back(owned.get());
    } catch (...) {
      ready = false;
    }
  }
  if (!ready) {
    std::puts("There is not enough memory");
    return MODULE_RESULT_INVALID;
  }
  CompletionContext* context = owned.release();
  const std::int32_t result =
      callModule(descriptor, command, parameter, dataType, moduleData, CompletionProc, context);
  // A command that failed is completed too: the module's form completes
  // every command given a completion procedure.
  *completed = waitForCompletion(descriptor, *context);
  if (*completed) {
    copyOut(*context, dataType, data);
    forget(context);
  } else if (recordClosed(descriptor)) {
    forget(context);  // its object is closed: no completion can come
  } else {
    // Still pending: the module may yet write into the copy and complete.
    context->abandoned = true;
  }
  return result;
}

void releaseAbandonedCommands(const ModuleObject* descriptor) {
  // The predicate runs once per element, so each match is freed once.
  liveCommands.erase(
      std::remove_if(liveCommands.begin(), liveCommands.end(),
                     [descriptor](CompletionContext* context) {
                       if (!context->abandoned ||
                           (descriptor != nullptr && context->descriptor != descriptor))
                         return false;
                       delete context;
                       return true;
                     }),
      liveCommands.end());
}

std::size_t abandonedCommandCount() {
  return static_cast<std::size_t>(
      std::count_if(liveCommands.begin(), liveCommands.end(),
                    [](const CompletionContext* c) { return c->abandoned; }));
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
