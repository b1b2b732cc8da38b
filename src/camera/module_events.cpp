#include <cstdio>

#include "camera/module_callbacks.h"
#include "camera/module_commands.h"
#include "camera/object_record.h"
#include "camera/object_tree.h"

namespace {

// Events 263 and 264: the source level ignores them; the others report them
// as unknown.
constexpr std::uint32_t SOURCE_IGNORED_EVENT_A = 263;
constexpr std::uint32_t SOURCE_IGNORED_EVENT_B = 264;

enum class Level { MODULE, SOURCE, ITEM, DATA };

// The record an event was registered with, while its object is open. A
// procedure called for an object that was closed meanwhile does nothing.
ObjectRecord* openRecord(void* reference) {
  auto* record = static_cast<ObjectRecord*>(reference);
  if (record == nullptr || record->closed || record->descriptor == nullptr) return nullptr;
  return record;
}

void addChild(ObjectRecord* record, std::uint32_t id, bool askForItsChildren) {
  // Opening an ID that already has a record would leave two records, and
  // two open objects, for one module object.
  if (findChild(record, id) != nullptr) return;
  if (!openChild(record, id) || !askForItsChildren) return;
  // Opened first, so that the child's own event procedure hears of its
  // children: a new camera gets its items opened, a new item its data.
  ObjectRecord* child = findChild(record, id);
  if (child != nullptr && !child->closed) enumChildren(child->descriptor.get());
}

// Returns whether the new list was read.
bool rereadCapabilities(ObjectRecord* record) {
  record->capabilities.clear();
  std::vector<CapabilityInfo> list;
  const bool read = enumCapabilities(record->descriptor.get(), &list);
  record->capabilities = std::move(list);
  return read;
}

void notSupported(const char* event, const char* level) {
  // A line-adding call: each of these lines is followed by an empty one.
  char line[96];
  std::snprintf(line, sizeof line, "Event_%s to %s object is not supported.\n", event, level);
  std::puts(line);
}

const char* levelName(Level level) {
  switch (level) {
    case Level::MODULE:
      return "Module";
    case Level::SOURCE:
      return "Source";
    case Level::ITEM:
      return "Item";
    case Level::DATA:
      return "Data";
  }
  return "";
}

const char* procName(Level level) {
  switch (level) {
    case Level::MODULE:
      return "ModEventProc";
    case Level::SOURCE:
      return "SrcEventProc";
    case Level::ITEM:
      return "ItmEventProc";
    case Level::DATA:
      return "DatEventProc";
  }
  return "";
}

void valueChanged(Level level, std::uint32_t capability) {
  std::printf("%s(): The value of Capability(CapID=0x%X) was changed.\n", procName(level),
              static_cast<unsigned>(capability));
}

void handleEvent(Level level, void* reference, std::uint32_t event, std::uint32_t data) {
  ObjectRecord* record = openRecord(reference);
  if (record == nullptr) return;
  switch (event) {
    case MODULE_EVENT_ADD_CHILD:
      if (level == Level::DATA)
        notSupported("AddChild", "Data");
      else
        addChild(record, data, level != Level::ITEM);
      return;
    case MODULE_EVENT_REMOVE_CHILD:
      if (level == Level::DATA)
        notSupported("RemoveChild", "Data");
      else
        closeChild(record, data);  // an unknown ID fails quietly
      return;
    case MODULE_EVENT_WARMING_UP:
      notSupported("WarmingUp", levelName(level));
      return;
    case MODULE_EVENT_WARMED_UP:
      notSupported("WarmedUp", levelName(level));
      return;
    case MODULE_EVENT_CAP_LIST_CHANGED:
      if (rereadCapabilities(record) && level == Level::DATA) valueChanged(level, data);
      return;
    case MODULE_EVENT_ORPHANED_CHILDREN:
      if (level == Level::DATA) notSupported("OrphanedChildren", "Data");
      return;
    case MODULE_EVENT_CAP_VALUE_CHANGED:
      if (level != Level::SOURCE) valueChanged(level, data);
      return;
    case SOURCE_IGNORED_EVENT_A:
    case SOURCE_IGNORED_EVENT_B:
      if (level == Level::SOURCE) return;
      break;
    default:
      break;
  }
  char line[64];
  std::snprintf(line, sizeof line, "Detected unknown Event to the %s object.\n", levelName(level));
  std::puts(line);
}

}  // namespace

void ModEventProc(void* reference, std::uint32_t event, std::uint32_t data) {
  handleEvent(Level::MODULE, reference, event, data);
}

void SrcEventProc(void* reference, std::uint32_t event, std::uint32_t data) {
  handleEvent(Level::SOURCE, reference, event, data);
}

void ItmEventProc(void* reference, std::uint32_t event, std::uint32_t data) {
  handleEvent(Level::ITEM, reference, event, data);
}

void DatEventProc(void* reference, std::uint32_t event, std::uint32_t data) {
  handleEvent(Level::DATA, reference, event, data);
}
