#include "fake_module.h"

#include <algorithm>
#include <cstring>

namespace fake {

Module* active = nullptr;

int Module::count(std::uint32_t command) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [command](const Call& c) { return c.command == command; }));
}

ScopedModule::ScopedModule() {
  module.capabilities = standardCapabilities();
  active = &module;
}

ScopedModule::~ScopedModule() {
  // Completions still owed are made, so that their contexts are freed.
  for (const Completion& c : module.pending)
    c.procedure(c.object, c.command, c.parameter, c.dataType, c.data, c.reference, c.result);
  for (const Completion& c : module.held)
    c.procedure(c.object, c.command, c.parameter, c.dataType, c.data, c.reference, c.result);
  active = nullptr;
}

CapabilityInfo capability(std::uint32_t id, std::uint32_t type, std::uint32_t operations) {
  CapabilityInfo info = {};
  info.id = id;
  info.type = type;
  info.operations = operations;
  return info;
}

std::map<std::uint32_t, std::vector<CapabilityInfo>> standardCapabilities() {
  const CapabilityInfo progress = capability(MODULE_CAP_PROGRESS_PROC, MODULE_CAPTYPE_CALLBACK, 4);
  const CapabilityInfo event = capability(MODULE_CAP_EVENT_PROC, MODULE_CAPTYPE_CALLBACK, 4);
  const CapabilityInfo children = capability(MODULE_CAP_CHILDREN, MODULE_CAPTYPE_ENUM, 2);
  return {
      {MODULE_OBJECT_MODULE,
       {progress, event, capability(MODULE_CAP_UI_REQUEST_PROC, MODULE_CAPTYPE_CALLBACK, 4),
        children, capability(kCapabilityModuleMode, MODULE_CAPTYPE_UNSIGNED, 6)}},
      {MODULE_OBJECT_SOURCE, {progress, event, children}},
      {MODULE_OBJECT_ITEM,
       {progress, event, children, capability(MODULE_CAP_DATA_TYPES, MODULE_CAPTYPE_UNSIGNED, 2)}},
      {MODULE_OBJECT_DATA,
       {progress, event, capability(MODULE_CAP_DATA_PROC, MODULE_CAPTYPE_CALLBACK, 4),
        capability(MODULE_CAP_ACQUIRE, MODULE_CAPTYPE_PROCESS, 1)}},
  };
}

namespace {

std::int32_t standard(Module& m, ModuleObject* object, std::uint32_t command,
                      std::uint32_t parameter, void* data) {
  const std::uint32_t type = object != nullptr ? object->objectType : 0;
  const std::vector<CapabilityInfo>& list = m.capabilities[type];
  switch (command) {
    case MODULE_CMD_OPEN: {
      auto* child = static_cast<ModuleObject*>(data);
      child->objectType = object != nullptr ? object->objectType + 1 : MODULE_OBJECT_MODULE;
      child->moduleData = parameter;
      return MODULE_RESULT_OK;
    }
    case MODULE_CMD_CAP_COUNT:
      *static_cast<std::uint32_t*>(data) = static_cast<std::uint32_t>(list.size());
      return MODULE_RESULT_OK;
    case MODULE_CMD_CAP_LIST:
      if (parameter != list.size()) return MODULE_RESULT_RESTART;
      if (!list.empty()) std::memcpy(data, list.data(), list.size() * sizeof(CapabilityInfo));
      return MODULE_RESULT_OK;
    case MODULE_CMD_CAP_GET:
      if (parameter == MODULE_CAP_DATA_TYPES) {
        *static_cast<std::uint32_t*>(data) = m.dataTypes;
      } else if (parameter == MODULE_CAP_CHILDREN) {
        auto* value = static_cast<CapEnum*>(data);
        value->elementCount = static_cast<std::uint32_t>(m.children.size());
        value->elementSize = m.elementSize;
      }
      return MODULE_RESULT_OK;
    case MODULE_CMD_CAP_GET_ARRAY: {
      auto* value = static_cast<CapEnum*>(data);
      const std::uint32_t n = std::min<std::uint32_t>(
          {value->elementCount, static_cast<std::uint32_t>(m.children.size()), m.arrayLeaves});
      if (n > 0) std::memcpy(value->data, m.children.data(), n * sizeof(std::uint32_t));
      value->elementCount = m.reportedAfterArray != 0 ? m.reportedAfterArray : n;
      return MODULE_RESULT_OK;
    }
    default:
      return MODULE_RESULT_OK;
  }
}

}  // namespace

std::int32_t entry(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                   std::uint32_t dataType, void* data, CompletionProcType completion,
                   void* completionRef) {
  Module& m = *active;
  const Call call = {object, command, parameter, dataType};
  m.calls.push_back(call);
  if (command == MODULE_CMD_PROCESS) {
    if (m.onProcess) m.onProcess();
    if (m.processResult != MODULE_RESULT_OK) return m.processResult;
    std::vector<Completion> due;
    due.swap(m.pending);
    for (const Completion& c : due)
      c.procedure(c.object, c.command, c.parameter, c.dataType, c.data, c.reference, c.result);
    return m.processResult;
  }
  std::int32_t result = MODULE_RESULT_OK;
  if (!(m.script && m.script(call, data, &result)))
    result = standard(m, object, command, parameter, data);
  if (completion != nullptr) {
    const Completion made = {object, command,    parameter,     dataType,
                             data,   completion, completionRef, result};
    switch (m.completing) {
      case Completing::INSIDE_CALL:
        completion(object, command, parameter, dataType, data, completionRef, result);
        break;
      case Completing::ON_PROCESSING:
        m.pending.push_back(made);
        break;
      case Completing::NEVER:
        m.held.push_back(made);
        break;
    }
  }
  return result;
}

}  // namespace fake
