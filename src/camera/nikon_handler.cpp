#include "camera/nikon_handler.h"

#include <cstdio>
#include <new>
#include <string>

#include "camera/data_proc.h"
#include "camera/module_commands.h"
#include "camera/module_library.h"
#include "camera/object_select.h"
#include "camera/object_tree.h"

nikonHandler* cameraHandler = nullptr;

nikonHandler::nikonHandler() {
  if (!connectModule())
    std::fputs("nikonHandler::nikonHandler() ERROR: Cannot connect to module.\n", stderr);
}

nikonHandler::~nikonHandler() {
  if (moduleRecord != nullptr || moduleLoaded) closeModule();
  // Still held when a close failed: the module may yet use the descriptors,
  // so the tree is left to it rather than freed.
  if (moduleRecord != nullptr) moduleRecord.release();
  releaseClosedRecords();
}

ObjectRecord* nikonHandler::currentSource() {
  if (moduleRecord == nullptr) {
    sourceRecord = nullptr;
    return nullptr;
  }
  // Compared, never dereferenced: a camera record that a remove-child event
  // closed may already be freed.
  for (const std::unique_ptr<ObjectRecord>& child : moduleRecord->children)
    if (child.get() == sourceRecord) return sourceRecord;
  sourceRecord = moduleRecord->children.empty() ? nullptr : moduleRecord->children.front().get();
  return sourceRecord;
}

void nikonHandler::abandonModuleRecord() {
  sourceRecord = nullptr;
  // The module object is open: releasing only the record would leave the
  // module holding a freed descriptor, and a module that allows one open
  // module object would refuse every later connect.
  if (closeModuleTree(moduleRecord.get()))
    moduleRecord.reset();
  else
    moduleRecord.release();  // still in the module's hands: left to it
  releaseClosedRecords();
}

bool nikonHandler::connectModule() {
  releaseClosedRecords();
  if (moduleLoaded) {
    std::fputs("nikonHandler::connectModule(): ERROR Module already loaded.\n", stderr);
    return false;
  }
  std::string path;
  if (!findModuleFile(&path)) {
    std::fputs("nikonHandler::connectModule() ERROR: \"Type0001 Module\" is not found.\n", stderr);
    return false;
  }
  if (!loadModule(path.c_str())) {
    std::fputs("nikonHandler::connectModule() ERROR: Failed in loading \"Type0001 Module\".\n",
               stderr);
    return false;
  }
  std::unique_ptr<ObjectRecord> record(new (std::nothrow) ObjectRecord());
  if (record != nullptr) {
    initModuleRecord(record.get());
    record->descriptor.reset(new (std::nothrow) MaidObject());
  }
  if (record == nullptr || record->descriptor == nullptr) {
    std::fputs("nikonHandler::connectModule() ERROR: There is not enough memory.", stderr);
    return false;
  }
  record->descriptor->refClient = record.get();
  moduleRecord = std::move(record);
  sourceRecord = nullptr;
  ObjectRecord* module = moduleRecord.get();
  MaidObject* descriptor = module->descriptor.get();
  if (callModule(nullptr, MAID_CMD_OPEN, 0, MAID_DATATYPE_OBJECT, descriptor, nullptr, nullptr) !=
      MAID_RESULT_OK) {
    std::fputs("nikonHandler::connectModule() ERROR: Module object can't be opened.\n", stderr);
    moduleRecord.reset();
    return false;
  }
  std::vector<CapabilityInfo> list;
  const bool listed = enumCapabilities(descriptor, &list);
  module->capabilities = std::move(list);
  if (!listed) {
    std::fputs("nikonHandler::connectModule() ERROR: Failed in enumeration of capabilities.",
               stderr);
    abandonModuleRecord();
    return false;
  }
  if (!setProcs(module)) {
    std::fputs("nikonHandler::connectModule() ERROR: Failed in setting a call back function.",
               stderr);
    abandonModuleRecord();
    return false;
  }
  if (capSupports(module, kNkMAIDCapability_ModuleMode, MAID_OP_SET) &&
      !capSet(descriptor, kNkMAIDCapability_ModuleMode, MAID_DATATYPE_UNSIGNED,
              reinterpret_cast<void*>(std::uintptr_t{1}))) {
    std::fputs(
        "nikonHandler::connectModule() ERROR: Failed in setting kNkMAIDCapability_ModuleMode.",
        stderr);
    // Closed like the failures before it: an open module object without
    // moduleLoaded would only be leaked by the next connect.
    abandonModuleRecord();
    return false;
  }
  moduleLoaded = true;
  return true;
}

bool nikonHandler::connectCamera() {
  if (!moduleLoaded && !connectModule()) return false;
  releaseClosedRecords();
  if (cameraOpen) {
    std::fputs("nikonHandler::connectCamera(): ERROR Camera already connected.\n", stderr);
    return false;
  }
  std::uint32_t id = NO_OBJECT_ID;
  if (!selectSource(moduleRecord.get(), &id)) return false;
  // The camera left between the count and the array read: nothing to open.
  if (id == NO_OBJECT_ID) return false;
  if (ObjectRecord* opened = findChild(moduleRecord.get(), id)) {
    sourceRecord = opened;  // an add-child event opened it
    cameraOpen = true;
    return true;
  }
  ObjectRecord* opened = nullptr;
  if (!openChild(moduleRecord.get(), id) ||
      (opened = findChild(moduleRecord.get(), id)) == nullptr) {
    std::fputs("nikonHandler::connectCamera() ERROR: Source object can't be opened.\n", stderr);
    return false;
  }
  cameraOpen = true;
  sourceRecord = opened;
  return true;
}

bool nikonHandler::itemSelect() {
  releaseClosedRecords();
  itemId = NO_OBJECT_ID;
  ObjectRecord* source = currentSource();
  if (source != nullptr && selectItem(source, &itemId)) {
    itemCollected = itemId != NO_OBJECT_ID;
    return true;
  }
  itemCollected = false;
  return false;
}

bool nikonHandler::itemDownloadDefault() {
  releaseClosedRecords();
  // Cleared on every way through, so that a stale save is never taken for
  // this pass's image.
  removeItemFlag = false;
  clearSavedFileRecord();
  if (!itemCollected) {
    std::fputs(
        "nikonHandler::itemDownloadDefault ERROR: Function called without Item ID Collected, use "
        "itemSelect first ()\n",
        stderr);
    return false;
  }
  ObjectRecord* source = currentSource();
  ObjectRecord* item = findChild(source, itemId);
  if (item == nullptr && (source == nullptr || !openChild(source, itemId) ||
                          (item = findChild(source, itemId)) == nullptr)) {
    std::fputs("nikonHandler::itemDownloadDefault() ERROR: Item object can't be opened.\n", stdout);
    return false;
  }
  std::uint32_t dataType = 0;
  if (!selectDataType(item, &dataType) || item->closed) return false;
  if (dataType != MAID_DATA_IMAGE) return true;  // only a thumbnail: nothing to save
  removeItemFlag = false;
  imageCommandAcquire(item, MAID_DATA_IMAGE);
  // Without the flag the item stays open and is downloaded again while the
  // module lists it.
  if (removeItemFlag) closeChild(currentSource(), itemId);
  return true;
}

bool nikonHandler::imageCommandAcquire(ObjectRecord* itemRecord, std::uint32_t dataId) {
  if (itemRecord == nullptr || itemRecord->closed) return false;
  ObjectRecord* data = findChild(itemRecord, dataId);
  if (data == nullptr) {
    if (!openChild(itemRecord, dataId) || (data = findChild(itemRecord, dataId)) == nullptr) {
      std::fputs("Image object can't be opened.\n", stdout);
      return false;
    }
    std::fputs("Image object is opened.\n", stdout);
  }
  if (!acquireData(data))
    std::fputs("nikonHandler::imageCommandAcquire(): An Error occured.\n", stderr);
  return closeChild(itemRecord, dataId);
}

bool nikonHandler::closeModule() {
  releaseClosedRecords();
  if (!closeModuleTree(moduleRecord.get())) {
    std::fputs("nikonHandler::closeModule() ERROR: Module object can not be closed.\n", stderr);
    return false;
  }
  unloadModule();
  moduleRecord.reset();
  sourceRecord = nullptr;
  releaseClosedRecords();
  cameraOpen = false;
  moduleLoaded = false;
  return true;
}
