// The program's record of each open module object: a tree that mirrors what
// is open in the module (module, cameras, items, data objects), with each
// object's capability list as the module last gave it.
//
// Camera worker thread only: the module changes the tree through the event
// procedures on that thread, inside its entry point, without a lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "camera/module_api.h"

// ID of the module record; a child's ID is the one it was opened under.
constexpr std::uint32_t MODULE_RECORD_ID = 0x8000;
// "No ID": what a selection leaves when nothing is listed.
constexpr std::uint32_t NO_OBJECT_ID = 0;

struct ObjectRecord {
  // Owned; its refClient points back at this record. None in the module
  // record while the module object is not open.
  std::unique_ptr<ModuleObject> descriptor;
  std::uint32_t id = 0;
  ObjectRecord* parent = nullptr;  // none for the module record
  // Owned children, in the order in which they were opened; their number is
  // the child count.
  std::vector<std::unique_ptr<ObjectRecord>> children;
  // As the module last listed them; their number is the capability count,
  // so count and list always agree.
  std::vector<CapabilityInfo> capabilities;
  // Set once the module object was closed. The record is then no longer
  // listed by its parent, but stays readable until releaseClosedRecords(),
  // so that a routine whose object an event procedure closed during a wait
  // finds this flag instead of freed memory.
  bool closed = false;
};

// Empties record: no descriptor, ID MODULE_RECORD_ID, no parent, no
// children, no capabilities.
void initModuleRecord(ObjectRecord* record);

// The first child, in array order, with that ID; nullptr when record is
// nullptr or has none.
ObjectRecord* findChild(const ObjectRecord* record, std::uint32_t id);

// The record's entry for capability, or nullptr. The pointer is valid until
// the list is next read again (any waited command may do that).
const CapabilityInfo* findCapability(const ObjectRecord* record, std::uint32_t capability);

// True when record is not nullptr, lists capability, and the capability's
// operation flags share a bit with operation (MODULE_OP_GET, MODULE_OP_SET).
bool capSupports(const ObjectRecord* record, std::uint32_t capability, std::uint32_t operation);

// Takes a record whose module object was closed and that its parent no
// longer lists: marks it closed and keeps it until releaseClosedRecords().
void retireRecord(std::unique_ptr<ObjectRecord> record);

// Frees every retired record. Only where no routine of the bridge is under
// way and nobody holds a pointer to a closed record: the camera handler
// calls it at the start of its operations.
void releaseClosedRecords();

// How many retired records wait to be freed.
std::size_t closedRecordCount();
