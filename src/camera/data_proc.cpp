#include "camera/data_proc.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "camera/file_names.h"
#include "camera/module_commands.h"
#include "core/image_names.h"
#include "jpeg/image_stamp.h"

bool removeItemFlag = false;
ImageNamer imageNamer = nullptr;
SavedFileRecord savedFileRecord = {false, false, ""};

void clearSavedFileRecord() {
  savedFileRecord.saved = false;
  savedFileRecord.refused = false;
  savedFileRecord.name[0] = '\0';
}

void releaseDataProcContext(DataProcContext* context) {
  if (context == nullptr) return;
  delete[] context->buffer;
  delete context;
}

namespace {

// Largest object accepted: the stamping sequence takes the size as an int.
// A larger total is handled as a buffer that cannot be had.
constexpr std::uint64_t MAX_OBJECT_BYTES = INT_MAX;

enum class Gathered { INCOMPLETE, COMPLETE, FAILED };

// Names reaching here were checked to fit; the cut is only a last guard.
void copyName(char (&destination)[kSavedFileNameSize], const char* name) {
  std::size_t length = std::strlen(name);
  if (length > sizeof destination - 1) length = sizeof destination - 1;
  std::memcpy(destination, name, length);
  destination[length] = '\0';
}

void dropBuffer(DataProcContext& context) {
  delete[] context.buffer;
  context.buffer = nullptr;
  context.byteCount = 0;
  context.bufferSize = 0;
}

// Stores one chunk; on FAILED, *result holds the procedure's result.
Gathered gather(DataProcContext& context, std::uint64_t total, std::uint64_t chunkBytes,
                const void* data, std::int32_t* result) {
  if (context.byteCount == 0 && context.buffer == nullptr && total <= MAX_OBJECT_BYTES) {
    // One byte at least, so that an empty object has a buffer too.
    context.buffer = new (std::nothrow) unsigned char[total > 0 ? total : 1];
    context.bufferSize = static_cast<std::uint32_t>(total);
  }
  if (context.buffer == nullptr) {
    std::puts("There is not enough memory.");
    *result = MODULE_RESULT_NO_MEMORY;
    return Gathered::FAILED;
  }
  // Never write past the buffer: a chunk that does not fit, or chunk bytes
  // that are not there, fail the whole object rather than save a cut one.
  if (chunkBytes > context.bufferSize - context.byteCount || (chunkBytes > 0 && data == nullptr)) {
    std::fprintf(stderr, "ERROR: Data chunk runs past the announced size [%u of %u bytes].\n",
                 static_cast<unsigned>(context.byteCount),
                 static_cast<unsigned>(context.bufferSize));
    dropBuffer(context);
    *result = MODULE_RESULT_CANNOT_SAVE;
    return Gathered::FAILED;
  }
  if (chunkBytes > 0) std::memcpy(context.buffer + context.byteCount, data, chunkBytes);
  context.byteCount += static_cast<std::uint32_t>(chunkBytes);
  return context.byteCount < context.bufferSize ? Gathered::INCOMPLETE : Gathered::COMPLETE;
}

void noteRemoval(std::uint32_t type, std::uint32_t removeObject) {
  if (removeObject != 0 && (type & MODULE_DATA_IMAGE) != 0) removeItemFlag = true;
}

// Records a saved object: the saved-file record, savedFileName for the
// image log (raw data included) and the module's removal request.
void recordSave(const char* name, std::uint32_t type, std::uint32_t removeObject) {
  savedFileRecord.saved = true;
  copyName(savedFileRecord.name, name);
  copyName(savedFileName, name);
  noteRemoval(type, removeObject);
}

// The procedure's result for a save, with the line each failure calls for
// (the naming failures printed their own).
std::int32_t saveResult(camera::SaveResult result, const char* name, bool reportOpenFailure,
                        std::uint32_t type, std::uint32_t removeObject) {
  switch (result) {
    case camera::SaveResult::SAVED:
      recordSave(name, type, removeObject);
      return MODULE_RESULT_OK;
    case camera::SaveResult::CANNOT_OPEN:
      if (reportOpenFailure)
        std::fprintf(stderr, "ERROR: Cannot open file for writing [%s].\n", name);
      break;
    case camera::SaveResult::CANNOT_WRITE:
      std::fprintf(stderr, "ERROR: Cannot write file [%s].\n", name);
      break;
    case camera::SaveResult::TOO_LONG:
    case camera::SaveResult::EXHAUSTED:
      break;
  }
  savedFileRecord.refused = true;
  return MODULE_RESULT_CANNOT_SAVE;
}

std::int32_t fileData(DataProcContext& context, const FileDataInfo& info, const void* data) {
  std::int32_t result = MODULE_RESULT_OK;
  switch (gather(context, info.totalLength, info.length, data, &result)) {
    case Gathered::FAILED:
      savedFileRecord.refused = true;
      return result;
    case Gathered::INCOMPLETE:
      return MODULE_RESULT_OK;
    case Gathered::COMPLETE:
      break;
  }
  const char* extension = camera::extensionForFileDataType(info.fileDataType);
  // Every file type goes through the scan; one that is not a JPEG is left
  // exactly as delivered. The capture time is read before the stamp covers it.
  jpeg::CameraClockReading reading;
  jpeg::scanImageBuffer(context.buffer, static_cast<int>(context.bufferSize), &reading);
  if (imageNamer == nullptr || imageNamer(reading)) {
    jpeg::stampScannedImage(context.buffer);
  } else {
    jpeg::releaseScannedImage();
  }
  char name[camera::FILE_NAME_BUFFER] = "";
  const camera::SaveResult saved =
      camera::saveImageFile(imageBaseName, extension, context.buffer, context.bufferSize, name);
  dropBuffer(context);
  return saveResult(saved, name, true, info.type, info.removeObject);
}

std::int32_t rawData(DataProcContext& context, const ImageDataInfo& info, const void* data) {
  // 64-bit products: rows x row bytes can pass 32 bits.
  const std::uint64_t total = std::uint64_t{info.totalHeight} * info.rowBytes;
  const std::uint64_t chunkBytes = std::uint64_t{info.rectHeight} * info.rowBytes;
  std::int32_t result = MODULE_RESULT_OK;
  switch (gather(context, total, chunkBytes, data, &result)) {
    case Gathered::FAILED:
      savedFileRecord.refused = true;
      return result;
    case Gathered::INCOMPLETE:
      return MODULE_RESULT_OK;
    case Gathered::COMPLETE:
      break;
  }
  const char* stem = (info.type & MODULE_DATA_IMAGE) != 0       ? "Image"
                     : (info.type & MODULE_DATA_THUMBNAIL) != 0 ? "Thumb"
                                                                : "Unknown";
  char name[camera::FILE_NAME_BUFFER] = "";
  const camera::SaveResult saved =
      camera::saveRawFile(stem, context.buffer, context.bufferSize, name);
  dropBuffer(context);
  return saveResult(saved, name, false, info.type, info.removeObject);
}

}  // namespace

std::int32_t DataProc(void* reference, void* info, void* data) {
  auto* context = static_cast<DataProcContext*>(reference);
  if (context == nullptr || info == nullptr) return MODULE_RESULT_CANNOT_SAVE;
  // Data arriving keeps a waited acquisition from being given up.
  noteModuleProgress();
  // The records are read by copy: the module's pointer need not be aligned.
  std::uint32_t type = 0;
  std::memcpy(&type, info, sizeof type);
  if ((type & MODULE_DATA_FILE) != 0) {
    FileDataInfo file;
    std::memcpy(&file, info, sizeof file);
    return fileData(*context, file, data);
  }
  ImageDataInfo image;
  std::memcpy(&image, info, sizeof image);
  return rawData(*context, image, data);
}
