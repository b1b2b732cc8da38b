#include "camera/camera_handler.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "camera/data_proc.h"
#include "camera/module_commands.h"
#include "camera/module_library.h"
#include "camera/object_select.h"
#include "camera/object_tree.h"

CameraHandler* cameraHandler = nullptr;

CameraHandler::CameraHandler() {
  if (!connectModule())
    std::fputs("CameraHandler::CameraHandler() ERROR: Cannot connect to module.\n", stderr);
}

CameraHandler::~CameraHandler() {
  if (moduleRecord != nullptr || moduleLoaded) closeModule();
  // Still held when a close failed: the module may yet use the descriptors,
  // so the tree is left to it rather than freed.
  if (moduleRecord != nullptr) moduleRecord.release();
  releaseClosedRecords();
}

ObjectRecord* CameraHandler::currentSource() {
  if (moduleRecord == nullptr) {
    sourceRecord = nullptr;
    return nullptr;
  }
  // Compared, never dereferenced: a camera record that a remove-child event
  // closed may already be freed.
  for (const std::unique_ptr<ObjectRecord>& child : moduleRecord->children)
    if (child.get() == sourceRecord) return sourceRecord;
  ObjectRecord* replacement =
      moduleRecord->children.empty() ? nullptr : moduleRecord->children.front().get();
  if (replacement != nullptr && cameraOpen)
    cameraOpened(replacement);  // plugged back within one wait: a camera anew
  else
    sourceRecord = replacement;
  return sourceRecord;
}

void CameraHandler::cameraOpened(ObjectRecord* source) {
  sourceRecord = source;
  cameraOpen = true;
  passedItems.clear();
  ++connectionCount;
}

bool CameraHandler::cameraStillOpen() {
  if (cameraOpen && currentSource() == nullptr) {
    cameraOpen = false;
    itemCollected = false;
  }
  return cameraOpen;
}

void CameraHandler::abandonModuleRecord() {
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

bool CameraHandler::connectModule() {
  releaseClosedRecords();
  if (moduleLoaded) {
    std::fputs("CameraHandler::connectModule(): ERROR Module already loaded.\n", stderr);
    return false;
  }
  std::string path;
  if (!findModuleFile(&path)) {
    std::fputs("CameraHandler::connectModule() ERROR: \"Type0001 Module\" is not found.\n", stderr);
    return false;
  }
  if (!loadModule(path.c_str())) {
    std::fputs("CameraHandler::connectModule() ERROR: Failed in loading \"Type0001 Module\".\n",
               stderr);
    return false;
  }
  std::unique_ptr<ObjectRecord> record(new (std::nothrow) ObjectRecord());
  if (record != nullptr) {
    initModuleRecord(record.get());
    record->descriptor.reset(new (std::nothrow) ModuleObject());
  }
  if (record == nullptr || record->descriptor == nullptr) {
    std::fputs("CameraHandler::connectModule() ERROR: There is not enough memory.", stderr);
    return false;
  }
  record->descriptor->refClient = record.get();
  moduleRecord = std::move(record);
  sourceRecord = nullptr;
  ObjectRecord* module = moduleRecord.get();
  ModuleObject* descriptor = module->descriptor.get();
  if (callModule(nullptr, MODULE_CMD_OPEN, 0, MODULE_DATATYPE_OBJECT, descriptor, nullptr,
                 nullptr) != MODULE_RESULT_OK) {
    std::fputs("CameraHandler::connectModule() ERROR: Module object can't be opened.\n", stderr);
    moduleRecord.reset();
    return false;
  }
  std::vector<CapabilityInfo> list;
  const bool listed = enumCapabilities(descriptor, &list);
  module->capabilities = std::move(list);
  if (!listed) {
    std::fputs("CameraHandler::connectModule() ERROR: Failed in enumeration of capabilities.",
               stderr);
    abandonModuleRecord();
    return false;
  }
  if (!setProcs(module)) {
    std::fputs("CameraHandler::connectModule() ERROR: Failed in setting a call back function.",
               stderr);
    abandonModuleRecord();
    return false;
  }
  if (capSupports(module, kCapabilityModuleMode, MODULE_OP_SET) &&
      !capSet(descriptor, kCapabilityModuleMode, MODULE_DATATYPE_UNSIGNED,
              reinterpret_cast<void*>(std::uintptr_t{1}))) {
    std::fputs("CameraHandler::connectModule() ERROR: Failed in setting kCapabilityModuleMode.",
               stderr);
    // Closed like the failures before it: an open module object without
    // moduleLoaded would only be leaked by the next connect.
    abandonModuleRecord();
    return false;
  }
  moduleLoaded = true;
  return true;
}

bool CameraHandler::connectCamera() {
  if (!moduleLoaded && !connectModule()) return false;
  releaseClosedRecords();
  if (cameraOpen) {
    std::fputs("CameraHandler::connectCamera(): ERROR Camera already connected.\n", stderr);
    return false;
  }
  std::uint32_t id = NO_OBJECT_ID;
  if (!selectSource(moduleRecord.get(), &id)) return false;
  // The camera left between the count and the array read: nothing to open.
  if (id == NO_OBJECT_ID) return false;
  if (ObjectRecord* opened = findChild(moduleRecord.get(), id)) {
    cameraOpened(opened);  // an add-child event opened it
    return true;
  }
  ObjectRecord* opened = nullptr;
  if (!openChild(moduleRecord.get(), id) ||
      (opened = findChild(moduleRecord.get(), id)) == nullptr) {
    std::fputs("CameraHandler::connectCamera() ERROR: Source object can't be opened.\n", stderr);
    return false;
  }
  cameraOpened(opened);
  return true;
}

bool CameraHandler::itemSelect() {
  releaseClosedRecords();
  itemId = NO_OBJECT_ID;
  ObjectRecord* source = currentSource();
  const bool asked = source != nullptr && selectItem(source, &itemId, &passedItems);
  itemCollected = asked && itemId != NO_OBJECT_ID;
  cameraStillOpen();
  return asked && !source->closed;
}

bool CameraHandler::itemDownloadDefault() {
  releaseClosedRecords();
  lastDownload = DownloadOutcome::NONE;
  // Cleared on every way through, so that a stale save is never taken for
  // this pass's image.
  removeItemFlag = false;
  clearSavedFileRecord();
  if (!itemCollected) {
    std::fputs(
        "CameraHandler::itemDownloadDefault ERROR: Function called without Item ID Collected, use "
        "itemSelect first ()\n",
        stderr);
    return false;
  }
  ObjectRecord* source = currentSource();
  ObjectRecord* item = findChild(source, itemId);
  lastDownload = DownloadOutcome::NOT_DELIVERED;
  if (item == nullptr && (source == nullptr || !openChild(source, itemId) ||
                          (item = findChild(source, itemId)) == nullptr)) {
    std::fputs("CameraHandler::itemDownloadDefault() ERROR: Item object can't be opened.\n",
               stdout);
    if (!cameraStillOpen()) lastDownload = DownloadOutcome::GONE;
    return false;
  }
  std::uint32_t dataType = 0;
  const bool typed = selectDataType(item, &dataType);
  if (item->closed || !cameraStillOpen()) {
    lastDownload = DownloadOutcome::GONE;
    return false;
  }
  if (!typed) return false;
  if (dataType != MODULE_DATA_IMAGE) {  // only a thumbnail: nothing to save
    lastDownload = DownloadOutcome::NO_IMAGE_DATA;
    return true;
  }
  removeItemFlag = false;
  imageCommandAcquire(item, MODULE_DATA_IMAGE);
  if (savedFileRecord.saved) {
    lastDownload = DownloadOutcome::SAVED;
    // Without the flag the item stays open; passed over, it is not fetched
    // again in every pass while the module keeps listing it.
    if (removeItemFlag)
      closeChild(currentSource(), itemId);
    else
      passItem(itemId);
  } else if (savedFileRecord.refused) {
    lastDownload = DownloadOutcome::NOT_SAVED;
  } else if (item->closed || !cameraStillOpen()) {
    lastDownload = DownloadOutcome::GONE;
  }
  return true;
}

bool CameraHandler::imageCommandAcquire(ObjectRecord* itemRecord, std::uint32_t dataId) {
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
    std::fputs("CameraHandler::imageCommandAcquire(): An Error occured.\n", stderr);
  return closeChild(itemRecord, dataId);
}

bool CameraHandler::closeModule() {
  releaseClosedRecords();
  if (!closeModuleTree(moduleRecord.get())) {
    std::fputs("CameraHandler::closeModule() ERROR: Module object can not be closed.\n", stderr);
    return false;
  }
  unloadModule();
  moduleRecord.reset();
  sourceRecord = nullptr;
  releaseClosedRecords();
  cameraOpen = false;
  moduleLoaded = false;
  itemCollected = false;
  passedItems.clear();
  leftovers_ = false;
  return true;
}

bool CameraHandler::disconnectCamera() {
  ++disconnectCount;
  return closeModule();
}

void CameraHandler::dropCamera() {
  releaseClosedRecords();
  ObjectRecord* source = currentSource();
  cameraOpen = false;
  itemCollected = false;
  sourceRecord = nullptr;
  if (source != nullptr && !closeChild(moduleRecord.get(), source->id)) leftovers_ = true;
}

bool CameraHandler::reopenCamera() {
  releaseClosedRecords();
  cameraOpen = false;
  if (moduleLoaded && !leftovers_ && connectCamera()) return true;
  if (moduleLoaded && !closeModule()) return false;
  return connectCamera();
}

void CameraHandler::passItem(std::uint32_t id) {
  if (std::find(passedItems.begin(), passedItems.end(), id) != passedItems.end()) return;
  try {
    passedItems.push_back(id);
  } catch (...) {
    // Without room the item is simply tried again.
  }
}
