#include "camera/object_select.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "camera/data_proc.h"
#include "camera/module_commands.h"

namespace {

// Reads the record's children list and takes its first element.
// emptyIsNothing: an empty list is success without an ID (items) rather
// than failure (cameras). IDs in passed (may be nullptr) are not taken.
bool selectChild(ObjectRecord* record, bool emptyIsNothing, std::uint32_t* id,
                 const std::vector<std::uint32_t>* passed) {
  const CapabilityInfo* children = findCapability(record, MODULE_CAP_CHILDREN);
  if (children == nullptr || children->type != MODULE_CAPTYPE_ENUM ||
      (children->operations & MODULE_OP_GET) == 0)
    return false;
  ModuleObject* descriptor = record->descriptor.get();
  CapEnum list = {};
  if (!capGet(descriptor, MODULE_CAP_CHILDREN, MODULE_DATATYPE_ENUM, &list)) return false;
  if (emptyIsNothing && list.elementCount == 0) return true;
  if (list.elementSize != sizeof(std::uint32_t) || list.elementCount == 0) return false;
  std::vector<std::uint32_t> ids;
  try {
    ids.resize(list.elementCount);
  } catch (...) {
    return false;
  }
  list.data = ids.data();
  if (record->closed) return false;  // an event closed the object during the wait
  if (!capGetChildrenArray(descriptor, &list)) return false;
  // Never more than the room given, whatever count the module reports.
  const std::size_t left = std::min<std::size_t>(list.elementCount, ids.size());
  if (left == 0) {
    if (emptyIsNothing) std::fputs("There is no Item object.\n0. Exit\n>", stdout);
    return true;
  }
  for (std::size_t i = 0; i < left; ++i) {
    if (passed != nullptr && std::find(passed->begin(), passed->end(), ids[i]) != passed->end())
      continue;
    *id = ids[i];
    return true;
  }
  return true;  // every listed item was passed over: nothing to do
}

}  // namespace

bool selectSource(ObjectRecord* moduleRecord, std::uint32_t* id) {
  return moduleRecord != nullptr && moduleRecord->descriptor != nullptr &&
         selectChild(moduleRecord, false, id, nullptr);
}

bool selectItem(ObjectRecord* sourceRecord, std::uint32_t* id,
                const std::vector<std::uint32_t>* passed) {
  return sourceRecord != nullptr && sourceRecord->descriptor != nullptr &&
         selectChild(sourceRecord, true, id, passed);
}

bool selectDataType(ObjectRecord* itemRecord, std::uint32_t* dataType) {
  if (!capSupports(itemRecord, MODULE_CAP_DATA_TYPES, MODULE_OP_GET) ||
      itemRecord->descriptor == nullptr)
    return false;
  std::uint32_t mask = 0;
  if (!capGet(itemRecord->descriptor.get(), MODULE_CAP_DATA_TYPES, MODULE_DATATYPE_UNSIGNED_PTR,
              &mask))
    return false;
  if ((mask & MODULE_DATA_IMAGE) != 0) {
    *dataType = MODULE_DATA_IMAGE;
  } else if ((mask & MODULE_DATA_THUMBNAIL) != 0) {
    *dataType = MODULE_DATA_THUMBNAIL;
  } else {
    std::fputs("There is no Data object.\n", stdout);
    return false;
  }
  return true;
}

bool acquireData(ObjectRecord* dataRecord) {
  if (dataRecord == nullptr || dataRecord->closed || dataRecord->descriptor == nullptr ||
      !capSupports(dataRecord, MODULE_CAP_DATA_PROC, MODULE_OP_SET))
    return false;
  ModuleObject* descriptor = dataRecord->descriptor.get();
  // Made only once the data procedure can be registered, so that a refusal
  // leaks nothing.
  auto* context = new (std::nothrow) DataProcContext();
  if (context == nullptr) {
    std::puts("There is not enough memory");
    return false;
  }
  CallbackRecord callback = {reinterpret_cast<ModuleProc>(&DataProc), context};
  if (!capSet(descriptor, MODULE_CAP_DATA_PROC, MODULE_DATATYPE_CALLBACK, &callback)) {
    releaseDataProcContext(context);
    return false;
  }
  // From here the context belongs to the acquisition's completion, which
  // frees it.
  bool completed = false;
  const std::int32_t started =
      issueWaitedCommand(descriptor, MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE, MODULE_DATATYPE_NULL,
                         nullptr, context, &completed);
  // Removed whatever the start gave: the context it points at is gone once
  // the acquisition completed. Not on an object an event closed meanwhile
  // (a camera just unplugged): its procedures went with it.
  const bool removed = !dataRecord->closed &&
                       capSet(descriptor, MODULE_CAP_DATA_PROC, MODULE_DATATYPE_NULL, nullptr);
  return moduleSucceeded(MODULE_CMD_CAP_START, started) && completed && removed;
}
