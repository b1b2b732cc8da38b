#include "camera/object_record.h"

namespace {

// Records closed while routines of the bridge may still hold them.
std::vector<std::unique_ptr<ObjectRecord>> closedRecords;

}  // namespace

void initModuleRecord(ObjectRecord* record) {
  if (record == nullptr) return;
  record->descriptor.reset();
  record->id = MODULE_RECORD_ID;
  record->parent = nullptr;
  record->children.clear();
  record->capabilities.clear();
  record->closed = false;
}

ObjectRecord* findChild(const ObjectRecord* record, std::uint32_t id) {
  if (record == nullptr) return nullptr;
  for (const std::unique_ptr<ObjectRecord>& child : record->children)
    if (child->id == id) return child.get();
  return nullptr;
}

const CapabilityInfo* findCapability(const ObjectRecord* record, std::uint32_t capability) {
  if (record == nullptr) return nullptr;
  for (const CapabilityInfo& info : record->capabilities)
    if (info.id == capability) return &info;
  return nullptr;
}

bool capSupports(const ObjectRecord* record, std::uint32_t capability, std::uint32_t operation) {
  const CapabilityInfo* info = findCapability(record, capability);
  return info != nullptr && (info->operations & operation) != 0;
}

void retireRecord(std::unique_ptr<ObjectRecord> record) {
  if (record == nullptr) return;
  record->closed = true;
  try {
    closedRecords.push_back(std::move(record));
  } catch (...) {
    // Without room to keep it, the record is leaked rather than freed under
    // a routine that may still read it.
    record.release();
  }
}

void releaseClosedRecords() { closedRecords.clear(); }

std::size_t closedRecordCount() { return closedRecords.size(); }
