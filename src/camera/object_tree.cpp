#include "camera/object_tree.h"

#include <cstdio>
#include <new>
#include <utility>

#include "camera/module_callbacks.h"
#include "camera/module_commands.h"
#include "camera/module_library.h"

namespace {

template <typename Procedure>
ModuleProc asModuleProc(Procedure procedure) {
  return reinterpret_cast<ModuleProc>(procedure);
}

bool registerProc(ObjectRecord* record, std::uint32_t capability, ModuleProc procedure) {
  CallbackRecord callback = {procedure, record};
  return capSet(record->descriptor.get(), capability, MODULE_DATATYPE_CALLBACK, &callback);
}

bool unregisterProc(ObjectRecord* record, std::uint32_t capability) {
  return capSet(record->descriptor.get(), capability, MODULE_DATATYPE_NULL, nullptr);
}

bool usable(const ObjectRecord* record) {
  return record != nullptr && !record->closed && record->descriptor != nullptr;
}

// Takes the child out of its parent's array, keeping the others in order.
std::unique_ptr<ObjectRecord> detach(ObjectRecord* parent, const ObjectRecord* child) {
  for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
    if (it->get() != child) continue;
    std::unique_ptr<ObjectRecord> taken = std::move(*it);
    parent->children.erase(it);
    return taken;
  }
  return nullptr;
}

}  // namespace

bool openChild(ObjectRecord* parent, std::uint32_t id) {
  if (!usable(parent)) return false;
  std::unique_ptr<ObjectRecord> child(new (std::nothrow) ObjectRecord());
  bool room = child != nullptr;
  if (room) {
    try {
      parent->children.reserve(parent->children.size() + 1);
    } catch (...) {
      room = false;
    }
  }
  if (room) {
    child->descriptor.reset(new (std::nothrow) ModuleObject());
    room = child->descriptor != nullptr;
  }
  if (!room) {
    std::puts("There is not enough memory");
    return false;
  }
  child->id = id;
  child->parent = parent;
  child->descriptor->refClient = child.get();
  const std::int32_t result =
      callModule(parent->descriptor.get(), MODULE_CMD_OPEN, id, MODULE_DATATYPE_OBJECT,
                 child->descriptor.get(), nullptr, nullptr);
  if (result != MODULE_RESULT_OK) {
    std::puts("Failed in Opening an object.");
    return false;
  }
  ObjectRecord* opened = child.get();
  try {
    parent->children.push_back(std::move(child));
  } catch (...) {
    // Only when the module's own calls used the slot reserved above: the
    // object is open, but without a place in the tree it must be closed.
    callModule(opened->descriptor.get(), MODULE_CMD_CLOSE, 0, MODULE_DATATYPE_NULL, nullptr,
               nullptr, nullptr);
    std::puts("There is not enough memory");
    return false;
  }
  std::vector<CapabilityInfo> list;
  enumCapabilities(opened->descriptor.get(), &list);
  opened->capabilities = std::move(list);
  if (!opened->closed) setProcs(opened);
  return true;
}

bool closeChild(ObjectRecord* parent, std::uint32_t id) {
  ObjectRecord* child = findChild(parent, id);
  if (child == nullptr) return false;
  while (!child->children.empty()) {
    if (!closeChild(child, child->children.front()->id)) return child->closed;
    if (child->closed) return true;
  }
  if (!resetProcs(child)) return child->closed;
  if (child->closed) return true;
  const std::int32_t result = callModule(child->descriptor.get(), MODULE_CMD_CLOSE, 0,
                                         MODULE_DATATYPE_NULL, nullptr, nullptr, nullptr);
  if (result != MODULE_RESULT_OK) return false;
  releaseAbandonedCommands(child->descriptor.get());
  // Removed by identity, not by ID: only the record just closed leaves.
  retireRecord(detach(child->parent, child));
  return true;
}

bool setProcs(ObjectRecord* record) {
  if (!usable(record)) return false;
  if (capSupports(record, MODULE_CAP_PROGRESS_PROC, MODULE_OP_SET) &&
      !registerProc(record, MODULE_CAP_PROGRESS_PROC, asModuleProc(&ProgressProc)))
    return false;
  if (record->closed) return false;
  const bool events = capSupports(record, MODULE_CAP_EVENT_PROC, MODULE_OP_SET);
  switch (record->descriptor->objectType) {
    case MODULE_OBJECT_MODULE:
      if (events && !registerProc(record, MODULE_CAP_EVENT_PROC, asModuleProc(&ModEventProc)))
        return false;
      if (capSupports(record, MODULE_CAP_UI_REQUEST_PROC, MODULE_OP_SET) &&
          !registerProc(record, MODULE_CAP_UI_REQUEST_PROC, asModuleProc(&UIRequestProc)))
        return false;
      return true;
    case MODULE_OBJECT_SOURCE:
      return !events || registerProc(record, MODULE_CAP_EVENT_PROC, asModuleProc(&SrcEventProc));
    case MODULE_OBJECT_ITEM:
      return !events || registerProc(record, MODULE_CAP_EVENT_PROC, asModuleProc(&ItmEventProc));
    case MODULE_OBJECT_DATA:
      return !events || registerProc(record, MODULE_CAP_EVENT_PROC, asModuleProc(&DatEventProc));
    default:
      return true;
  }
}

bool resetProcs(ObjectRecord* record) {
  if (!usable(record)) return false;
  if (capSupports(record, MODULE_CAP_PROGRESS_PROC, MODULE_OP_SET) &&
      !unregisterProc(record, MODULE_CAP_PROGRESS_PROC))
    return false;
  if (record->closed) return false;
  if (capSupports(record, MODULE_CAP_EVENT_PROC, MODULE_OP_SET) &&
      !unregisterProc(record, MODULE_CAP_EVENT_PROC))
    return false;
  if (record->closed) return false;
  if (record->descriptor->objectType == MODULE_OBJECT_MODULE &&
      capSupports(record, MODULE_CAP_UI_REQUEST_PROC, MODULE_OP_SET) &&
      !unregisterProc(record, MODULE_CAP_UI_REQUEST_PROC))
    return false;
  return true;
}

bool closeModuleTree(ObjectRecord* moduleRecord) {
  if (moduleRecord == nullptr || moduleRecord->descriptor == nullptr) return true;
  // Through closeChild, so that each source goes depth first (data objects,
  // then their item, then the source) and the records closed so far are no
  // longer listed when a step fails.
  while (!moduleRecord->children.empty())
    if (!closeChild(moduleRecord, moduleRecord->children.front()->id)) return false;
  if (!resetProcs(moduleRecord)) return false;
  const std::int32_t result = callModule(moduleRecord->descriptor.get(), MODULE_CMD_CLOSE, 0,
                                         MODULE_DATATYPE_NULL, nullptr, nullptr, nullptr);
  if (result != MODULE_RESULT_OK) return false;
  // The module object is closed: no command of it can complete any more.
  releaseAbandonedCommands(nullptr);
  moduleRecord->descriptor.reset();
  moduleRecord->children.clear();
  moduleRecord->capabilities.clear();
  return true;
}
