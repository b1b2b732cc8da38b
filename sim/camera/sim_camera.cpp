#include "sim_camera.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

CapabilityInfo capability(std::uint32_t id, std::uint32_t type, std::uint32_t operations,
                          const char* description) {
  CapabilityInfo info = {};
  info.id = id;
  info.type = type;
  info.operations = operations;
  std::snprintf(info.description, sizeof info.description, "%s", description);
  return info;
}

}  // namespace

std::unique_ptr<SimCamera> SimCamera::open(ModuleObject* descriptor, std::int32_t* result) {
  std::unique_ptr<SimCamera> camera(new SimCamera());
  if (!readSettings(&camera->settings_)) {
    *result = MODULE_RESULT_INVALID;
    return nullptr;
  }
  if (!camera->trace_.open(camera->settings_.trace))
    std::fprintf(stderr, "Type0001.md3 (stand-in): cannot open trace file '%s'.\n",
                 camera->settings_.trace.c_str());
  camera->trace_.line("call - %u 0x0 %u", MODULE_CMD_OPEN, MODULE_DATATYPE_OBJECT);
  if ((camera->settings_.refuseOpen & (1u << MODULE_OBJECT_MODULE)) != 0) {
    camera->trace_.line("return %u %d", MODULE_CMD_OPEN, MODULE_RESULT_REFUSED);
    *result = MODULE_RESULT_REFUSED;
    return nullptr;
  }
  auto module = std::make_unique<SimObject>();
  module->type = MODULE_OBJECT_MODULE;
  module->descriptor = descriptor;
  descriptor->objectType = MODULE_OBJECT_MODULE;
  descriptor->moduleData = 0;
  descriptor->refModule = module.get();
  camera->objects_[descriptor] = std::move(module);
  camera->restartsLeft_ = camera->settings_.restartEnum;
  camera->failuresLeft_ = camera->settings_.failTransfers;
  // A camera attached at the start is not announced: the program asks for
  // the module's children itself.
  camera->scan(false);
  camera->announcedAttached_ = camera->attached_;
  camera->trace_.line("return %u %d", MODULE_CMD_OPEN, MODULE_RESULT_OK);
  *result = MODULE_RESULT_OK;
  return camera;
}

SimCamera::~SimCamera() = default;

std::int32_t SimCamera::call(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                             std::uint32_t dataType, void* data, CompletionProcType completion,
                             void* completionRef) {
  // Kept right on every way out, exceptions included.
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  } nesting(depth_);
  char name[48];
  SimObject* target = finished_ ? nullptr : find(object);
  trace_.line("call %s %u 0x%X %u", label(target, name), command, parameter, dataType);
  std::function<bool(std::int32_t*)> work;
  const bool refused = settings_.strict && refusedStrictly(object, target, command, dataType);
  const std::int32_t result =
      target != nullptr && !refused
          ? dispatch(target, object, command, parameter, dataType, data, &work)
          : MODULE_RESULT_INVALID;
  if (completion != nullptr) {
    Job job = {object, command, parameter, dataType, data, completion, completionRef, work};
    if (result != MODULE_RESULT_OK || !job.step) {
      job.step = [result](std::int32_t* out) {
        *out = result;
        return true;
      };
    }
    // Every command given a completion procedure gets exactly one call of
    // it, failures included, so that a waiting caller is always released.
    // A strict refusal completes at once: the caller may be waiting on an
    // object that can no longer be processed.
    if (settings_.async && !finished_ && !refused)
      jobs_.push_back(std::move(job));
    else
      runJob(std::move(job));
  }
  trace_.line("return %u %d", command, result);
  return result;
}

std::int32_t SimCamera::dispatch(SimObject* target, ModuleObject* descriptor, std::uint32_t command,
                                 std::uint32_t parameter, std::uint32_t dataType, void* data,
                                 std::function<bool(std::int32_t*)>* work) {
  (void)descriptor;
  switch (command) {
    case MODULE_CMD_PROCESS:
      // Changes are announced only from the outermost call, so that events
      // are never fired again from inside an event procedure.
      if (depth_ == 1) scan(true);
      if (!finished_) process();
      return MODULE_RESULT_OK;
    case MODULE_CMD_OPEN:
      return openChild(target, parameter, dataType, data);
    case MODULE_CMD_CLOSE:
      return closeObject(target);
    default:
      break;
  }
  // A detached camera answers nothing but the removal of procedures, so
  // that the program can still close what it had open.
  if (cameraGone(target) && !(command == MODULE_CMD_CAP_SET && dataType == MODULE_DATATYPE_NULL))
    return MODULE_RESULT_DEVICE_GONE;
  std::vector<CapabilityInfo> list;
  switch (command) {
    case MODULE_CMD_CAP_COUNT:
      if (dataType != MODULE_DATATYPE_UNSIGNED_PTR || data == nullptr) return MODULE_RESULT_INVALID;
      *static_cast<std::uint32_t*>(data) = static_cast<std::uint32_t>(capabilities(target).size());
      return MODULE_RESULT_OK;
    case MODULE_CMD_CAP_LIST:
      if (dataType != MODULE_DATATYPE_CAP_INFO || data == nullptr) return MODULE_RESULT_INVALID;
      if (restartsLeft_ > 0) {
        --restartsLeft_;
        return MODULE_RESULT_RESTART;
      }
      list = capabilities(target);
      // A count that no longer matches means the list changed since it was
      // counted: start over.
      if (parameter != list.size()) return MODULE_RESULT_RESTART;
      std::memcpy(data, list.data(), list.size() * sizeof(CapabilityInfo));
      return MODULE_RESULT_OK;
    case MODULE_CMD_CAP_START: {
      const CapabilityInfo* info = findCapability(target, parameter, &list);
      if (info == nullptr || (info->operations & MODULE_OP_START) == 0)
        return MODULE_RESULT_NOT_SUPPORTED;
      return startAcquire(target, work);
    }
    case MODULE_CMD_CAP_SET:
      return setCapability(target, parameter, dataType, data);
    case MODULE_CMD_CAP_GET:
      return getCapability(target, parameter, dataType, data);
    case MODULE_CMD_CAP_GET_ARRAY:
      if (parameter != MODULE_CAP_CHILDREN) return MODULE_RESULT_NOT_SUPPORTED;
      return getChildrenArray(target, dataType, data);
    case MODULE_CMD_ENUM_CHILDREN:
      *work = enumerateChildren(target);
      return MODULE_RESULT_OK;
    default:
      return MODULE_RESULT_NOT_SUPPORTED;
  }
}

void SimCamera::runJob(Job job) {
  std::int32_t result = MODULE_RESULT_OK;
  while (!job.step(&result)) {
  }
  complete(job, result);
}

void SimCamera::complete(const Job& job, std::int32_t result) {
  trace_.line("complete %u %d", job.command, result);
  job.completion(job.object, job.command, job.parameter, job.dataType, job.data, job.completionRef,
                 result);
}

void SimCamera::process() {
  // Only the work pending when the call began: a transfer that goes on is
  // queued again and takes its next step in the next processing call.
  for (std::size_t pending = jobs_.size(); pending > 0 && !jobs_.empty() && !finished_; --pending) {
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    std::int32_t result = MODULE_RESULT_OK;
    if (job.step(&result))
      complete(job, result);
    else
      jobs_.push_back(std::move(job));
  }
}

void SimCamera::cancelAll() {
  while (!jobs_.empty()) {
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    complete(job, MODULE_RESULT_CANCELLED);
  }
}

std::int32_t SimCamera::openChild(SimObject* parent, std::uint32_t id, std::uint32_t dataType,
                                  void* data) {
  if (dataType != MODULE_DATATYPE_OBJECT || data == nullptr) return MODULE_RESULT_INVALID;
  auto* descriptor = static_cast<ModuleObject*>(data);
  if (parent->type == MODULE_OBJECT_DATA) return MODULE_RESULT_NOT_SUPPORTED;
  if (objects_.count(descriptor) != 0) return MODULE_RESULT_INVALID;
  const std::uint32_t type = parent->type + 1;
  if ((settings_.refuseOpen & (1u << type)) != 0) return MODULE_RESULT_REFUSED;
  scan(false);
  if (!attached_) return MODULE_RESULT_DEVICE_GONE;
  bool known = false;
  if (type == MODULE_OBJECT_SOURCE) known = id == SOURCE_ID;
  if (type == MODULE_OBJECT_ITEM) known = card_.find(id) != nullptr;
  if (type == MODULE_OBJECT_DATA)
    known =
        (id == MODULE_DATA_IMAGE || id == MODULE_DATA_THUMBNAIL) && (settings_.dataTypes & id) != 0;
  if (!known || findChild(parent, id) != nullptr) return MODULE_RESULT_INVALID;

  auto child = std::make_unique<SimObject>();
  child->type = type;
  child->id = id;
  child->descriptor = descriptor;
  child->parent = parent;
  descriptor->objectType = type;
  descriptor->moduleData = id;
  descriptor->refModule = child.get();
  objects_[descriptor] = std::move(child);
  closed_.erase(descriptor);
  // The program now knows these shots; only later ones are announced.
  if (type == MODULE_OBJECT_SOURCE)
    for (Shot& shot : card_.shots()) shot.announced = true;
  if (type == MODULE_OBJECT_ITEM) card_.find(id)->announced = true;
  return MODULE_RESULT_OK;
}

std::int32_t SimCamera::closeObject(SimObject* object) {
  // Children still open go with their parent.
  std::vector<SimObject*> children;
  for (auto& [descriptor, candidate] : objects_)
    if (candidate->parent == object) children.push_back(candidate.get());
  for (SimObject* child : children) closeObject(child);

  if (object->type == MODULE_OBJECT_ITEM) {
    const Shot* shot = card_.find(object->id);
    // A shot leaves the card only once it was delivered whole.
    if (shot != nullptr && shot->delivered) {
      const std::string name = shot->name;
      const bool erased = card_.erase(settings_.card, object->id);
      trace_.line("%s %s", erased ? "delete" : "cannot-delete", name.c_str());
    }
  }
  const bool module = object->type == MODULE_OBJECT_MODULE;
  ModuleObject* descriptor = object->descriptor;
  if (settings_.strict) {
    // Only the latest are kept, so that a long run does not grow: an older
    // one is still refused, under the label "?".
    char name[48];
    closed_[descriptor] = label(object, name);
    closedOrder_.push_back(descriptor);
    if (closedOrder_.size() > kClosedKept) {
      closed_.erase(closedOrder_.front());
      closedOrder_.pop_front();
    }
  }
  descriptor->refModule = nullptr;
  objects_.erase(descriptor);
  if (module) {
    finished_ = true;
    cancelAll();
  }
  return MODULE_RESULT_OK;
}

std::int32_t SimCamera::setCapability(SimObject* object, std::uint32_t cap, std::uint32_t dataType,
                                      void* data) {
  std::vector<CapabilityInfo> list;
  const CapabilityInfo* info = findCapability(object, cap, &list);
  if (info == nullptr || (info->operations & MODULE_OP_SET) == 0)
    return MODULE_RESULT_NOT_SUPPORTED;
  CallbackRecord* record = nullptr;
  switch (cap) {
    case MODULE_CAP_PROGRESS_PROC:
      record = &object->progress;
      break;
    case MODULE_CAP_EVENT_PROC:
      record = &object->event;
      break;
    case MODULE_CAP_DATA_PROC:
      record = &object->data;
      break;
    case MODULE_CAP_UI_REQUEST_PROC:
      record = &object->uiRequest;
      break;
    case kCapabilityModuleMode: {
      if (dataType != MODULE_DATATYPE_UNSIGNED) return MODULE_RESULT_INVALID;
      const auto mode = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data));
      if (mode > 1) return MODULE_RESULT_INVALID;
      moduleMode_ = mode;
      return MODULE_RESULT_OK;
    }
    default:
      return MODULE_RESULT_NOT_SUPPORTED;
  }
  if (dataType == MODULE_DATATYPE_NULL) {
    *record = CallbackRecord{};
    return MODULE_RESULT_OK;
  }
  if (dataType != MODULE_DATATYPE_CALLBACK || data == nullptr) return MODULE_RESULT_INVALID;
  *record = *static_cast<const CallbackRecord*>(data);
  return MODULE_RESULT_OK;
}

std::int32_t SimCamera::getCapability(SimObject* object, std::uint32_t cap, std::uint32_t dataType,
                                      void* data) {
  std::vector<CapabilityInfo> list;
  const CapabilityInfo* info = findCapability(object, cap, &list);
  if (info == nullptr || (info->operations & MODULE_OP_GET) == 0)
    return MODULE_RESULT_NOT_SUPPORTED;
  if (data == nullptr) return MODULE_RESULT_INVALID;
  if (cap == MODULE_CAP_CHILDREN) {
    if (dataType != MODULE_DATATYPE_ENUM) return MODULE_RESULT_INVALID;
    const std::vector<std::uint32_t> ids = childIds(object);
    auto* value = static_cast<CapEnum*>(data);
    // Every field but the data pointer, which is the caller's.
    value->valueType = MODULE_DATATYPE_UNSIGNED;
    value->elementCount = static_cast<std::uint32_t>(ids.size());
    value->currentIndex = 0;
    value->defaultIndex = 0;
    value->elementSize = sizeof(std::uint32_t);
    return MODULE_RESULT_OK;
  }
  if (dataType != MODULE_DATATYPE_UNSIGNED_PTR) return MODULE_RESULT_INVALID;
  *static_cast<std::uint32_t*>(data) =
      cap == MODULE_CAP_DATA_TYPES ? settings_.dataTypes : moduleMode_;
  return MODULE_RESULT_OK;
}

std::int32_t SimCamera::getChildrenArray(SimObject* object, std::uint32_t dataType, void* data) {
  std::vector<CapabilityInfo> list;
  const CapabilityInfo* info = findCapability(object, MODULE_CAP_CHILDREN, &list);
  if (info == nullptr || (info->operations & MODULE_OP_GET) == 0)
    return MODULE_RESULT_NOT_SUPPORTED;
  if (dataType != MODULE_DATATYPE_ENUM || data == nullptr) return MODULE_RESULT_INVALID;
  auto* value = static_cast<CapEnum*>(data);
  void* elements = value->data;
  if (value->elementSize != sizeof(std::uint32_t) ||
      (value->elementCount > 0 && elements == nullptr))
    return MODULE_RESULT_INVALID;
  const std::vector<std::uint32_t> ids = childIds(object);
  // Never more than the caller made room for; the oldest come first, and
  // later children are listed again on the next read.
  const std::size_t count = std::min<std::size_t>(value->elementCount, ids.size());
  if (count > 0) std::memcpy(elements, ids.data(), count * sizeof(std::uint32_t));
  value->elementCount = static_cast<std::uint32_t>(count);
  return MODULE_RESULT_OK;
}

std::function<bool(std::int32_t*)> SimCamera::enumerateChildren(SimObject* object) {
  ModuleObject* descriptor = object->descriptor;
  return [this, descriptor](std::int32_t* result) {
    SimObject* target = find(descriptor);
    if (target == nullptr) {
      *result = MODULE_RESULT_CANCELLED;
      return true;
    }
    const std::vector<std::uint32_t> ids = childIds(target);
    if (target->type == MODULE_OBJECT_MODULE) announcedAttached_ = attached_;
    if (target->type == MODULE_OBJECT_SOURCE)
      for (Shot& shot : card_.shots()) shot.announced = true;
    for (std::uint32_t id : ids) {
      target = find(descriptor);  // an event procedure may have closed it
      if (target == nullptr || finished_) break;
      fireEvent(target, MODULE_EVENT_ADD_CHILD, id);
    }
    *result = MODULE_RESULT_OK;
    return true;
  };
}

std::vector<CapabilityInfo> SimCamera::capabilities(const SimObject* object) const {
  std::vector<CapabilityInfo> list = {
      capability(MODULE_CAP_PROGRESS_PROC, MODULE_CAPTYPE_CALLBACK, MODULE_OP_SET,
                 "Progress procedure"),
      capability(MODULE_CAP_EVENT_PROC, MODULE_CAPTYPE_CALLBACK, MODULE_OP_SET, "Event procedure"),
  };
  switch (object->type) {
    case MODULE_OBJECT_MODULE:
      list.push_back(capability(MODULE_CAP_UI_REQUEST_PROC, MODULE_CAPTYPE_CALLBACK, MODULE_OP_SET,
                                "UI request procedure"));
      list.push_back(
          capability(MODULE_CAP_CHILDREN, MODULE_CAPTYPE_ENUM, MODULE_OP_GET, "Cameras"));
      list.push_back(capability(kCapabilityModuleMode, MODULE_CAPTYPE_UNSIGNED,
                                MODULE_OP_GET | MODULE_OP_SET, "Module mode"));
      break;
    case MODULE_OBJECT_SOURCE:
      list.push_back(capability(MODULE_CAP_CHILDREN, MODULE_CAPTYPE_ENUM, MODULE_OP_GET, "Shots"));
      break;
    case MODULE_OBJECT_ITEM:
      list.push_back(
          capability(MODULE_CAP_CHILDREN, MODULE_CAPTYPE_ENUM, MODULE_OP_GET, "Data objects"));
      list.push_back(
          capability(MODULE_CAP_DATA_TYPES, MODULE_CAPTYPE_UNSIGNED, MODULE_OP_GET, "Data types"));
      break;
    case MODULE_OBJECT_DATA:
      list.push_back(capability(MODULE_CAP_DATA_PROC, MODULE_CAPTYPE_CALLBACK, MODULE_OP_SET,
                                "Data procedure"));
      list.push_back(
          capability(MODULE_CAP_ACQUIRE, MODULE_CAPTYPE_PROCESS, MODULE_OP_START, "Acquire"));
      break;
    default:
      break;
  }
  return list;
}

const CapabilityInfo* SimCamera::findCapability(const SimObject* object, std::uint32_t cap,
                                                std::vector<CapabilityInfo>* list) const {
  *list = capabilities(object);
  for (const CapabilityInfo& info : *list)
    if (info.id == cap) return &info;
  return nullptr;
}

std::vector<std::uint32_t> SimCamera::childIds(SimObject* object) {
  std::vector<std::uint32_t> ids;
  switch (object->type) {
    case MODULE_OBJECT_MODULE:
      scan(false);
      if (attached_) ids.push_back(SOURCE_ID);
      break;
    case MODULE_OBJECT_SOURCE:
      scan(false);
      for (const Shot& shot : card_.shots()) ids.push_back(shot.id);
      break;
    case MODULE_OBJECT_ITEM:
      if ((settings_.dataTypes & MODULE_DATA_IMAGE) != 0) ids.push_back(MODULE_DATA_IMAGE);
      if ((settings_.dataTypes & MODULE_DATA_THUMBNAIL) != 0) ids.push_back(MODULE_DATA_THUMBNAIL);
      break;
    default:
      break;
  }
  return ids;
}

void SimCamera::scan(bool announce) {
  const bool present = !unplugged_ && Card::present(settings_.card);
  if (present)
    card_.refresh(settings_.card);
  else if (attached_)
    card_.clear();
  attached_ = present;
  if (!announce) return;

  if (present != announcedAttached_) {
    announcedAttached_ = present;
    if (SimObject* module = moduleObject()) {
      if (!present) markRemoved(module, SOURCE_ID);
      fireEvent(module, present ? MODULE_EVENT_ADD_CHILD : MODULE_EVENT_REMOVE_CHILD, SOURCE_ID);
    }
    if (!present) return;
  }
  SimObject* module = moduleObject();
  SimObject* source = module != nullptr ? findChild(module, SOURCE_ID) : nullptr;
  const std::vector<std::uint32_t> removed = card_.takeRemovedIds();
  if (source == nullptr) return;  // nobody to tell
  std::vector<std::uint32_t> added;
  for (Shot& shot : card_.shots()) {
    if (!shot.announced) {
      shot.announced = true;
      added.push_back(shot.id);
    }
  }
  // An event procedure may close objects, the module included; look the
  // source up again before each event.
  for (std::uint32_t id : removed) {
    source = finished_ ? nullptr : findChild(moduleObject(), SOURCE_ID);
    if (source == nullptr) return;
    markRemoved(source, id);
    fireEvent(source, MODULE_EVENT_REMOVE_CHILD, id);
  }
  for (std::uint32_t id : added) {
    source = finished_ ? nullptr : findChild(moduleObject(), SOURCE_ID);
    if (source == nullptr) return;
    fireEvent(source, MODULE_EVENT_ADD_CHILD, id);
  }
}

void SimCamera::fireEvent(SimObject* object, std::uint32_t event, std::uint32_t data) {
  char name[48];
  trace_.line("event %s %u %u", label(object, name), event, data);
  const CallbackRecord record = object->event;  // the object may close inside the call
  if (record.procedure != nullptr)
    reinterpret_cast<EventProcType>(record.procedure)(record.reference, event, data);
}

bool SimCamera::cameraGone(const SimObject* object) const {
  return object->type != MODULE_OBJECT_MODULE && (unplugged_ || !Card::present(settings_.card));
}

SimObject* SimCamera::find(ModuleObject* descriptor) {
  // Looked up by the caller's descriptor, never through refModule, so that a
  // stale or foreign descriptor is refused instead of followed.
  const auto it = objects_.find(descriptor);
  return it != objects_.end() ? it->second.get() : nullptr;
}

SimObject* SimCamera::findChild(const SimObject* parent, std::uint32_t id) {
  if (parent == nullptr) return nullptr;
  // A removed child the program still holds open is not the one by that ID
  // now: a camera plugged back is a new object.
  for (auto& [descriptor, object] : objects_)
    if (object->parent == parent && object->id == id && !object->removed) return object.get();
  return nullptr;
}

SimObject* SimCamera::moduleObject() {
  for (auto& [descriptor, object] : objects_)
    if (object->type == MODULE_OBJECT_MODULE) return object.get();
  return nullptr;
}

const char* SimCamera::label(const SimObject* object, char (&buffer)[48]) const {
  if (object == nullptr) return "?";
  switch (object->type) {
    case MODULE_OBJECT_MODULE:
      return "module";
    case MODULE_OBJECT_SOURCE:
      std::snprintf(buffer, sizeof buffer, "source:%u", object->id);
      return buffer;
    case MODULE_OBJECT_ITEM:
      std::snprintf(buffer, sizeof buffer, "item:%u", object->id);
      return buffer;
    default:
      std::snprintf(buffer, sizeof buffer, "data:%u/%u", object->parent->id, object->id);
      return buffer;
  }
}

}  // namespace sim
