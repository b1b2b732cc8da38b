// The data procedure: gathers the chunks of one delivered object, stamps the
// trigger time into it, and saves it under a name that overwrites nothing.
// Its lines go straight to standard output and standard error.
//
// Camera worker thread only: DataProc runs inside the module command that the
// thread is waiting on, and every value below is touched by that thread
// alone, without a lock.
#pragma once

#include <cstdint>

#include "camera/module_api.h"
#include "core/image_names.h"
#include "jpeg/image_stamp.h"

// The reference of DataProc for one acquisition. The acquisition makes it
// with new, empty; its completion frees it with releaseDataProcContext.
struct DataProcContext {
  // The object being gathered: allocated (new[]) at its first chunk and freed
  // once it is written or dropped; owned by DataProc meanwhile.
  unsigned char* buffer = nullptr;
  std::uint32_t byteCount = 0;  // bytes gathered so far
  // The total announced with the first chunk, which is the buffer's size;
  // later chunks are checked against it, not against their own total.
  std::uint32_t bufferSize = 0;
  std::uint32_t reserved1 = 0;
  std::uint32_t reserved2 = 0;
};

// Frees context and any buffer still in it. Accepts nullptr.
void releaseDataProcContext(DataProcContext* context);

// Set by DataProc when the module asks for the removal of a delivered image
// (remove-object flag and the image bit) that was saved; cleared by the
// camera handler before each acquisition. False at start.
extern bool removeItemFlag;

// Whether the current acquisition really saved a file, and under which name
// (raw data included), or whether DataProc refused an object it could not
// keep or save (a fault on this side, not the camera's). The camera handler
// clears it before each acquisition; the camera worker counts and logs an
// image only when saved is true.
struct SavedFileRecord {
  bool saved;
  bool refused;
  char name[kSavedFileNameSize];
};
extern SavedFileRecord savedFileRecord;
void clearSavedFileRecord();

// Chooses, once a file object is complete and before it is stamped, the name
// and trigger time it is saved under, from the capture time the camera
// wrote into it: it sets imageBaseName and the Exif texts. True: the
// trigger time is stamped; false: the image is saved exactly as delivered.
// Null: the name and times set before the download are used, stamped.
using ImageNamer = bool (*)(const jpeg::CameraClockReading& reading);
extern ImageNamer imageNamer;

// The data procedure (DataProcType). reference is the DataProcContext, info
// a FileDataInfo or an ImageDataInfo (by the MODULE_DATA_FILE bit of its first
// field), data this chunk's bytes. Results:
//   0     the chunk was stored; when it completed the object, the object was
//         saved (savedFileName and savedFileRecord name it);
//   -118  no buffer: "There is not enough memory." on standard output; the
//         context is unchanged;
//   -117  the object could not be saved (the file could not be opened or
//         written, no usable name, or a chunk ran past the announced total);
//         its data is dropped, no file is left behind, the context is empty
//         and removeItemFlag keeps its value, so the camera keeps the shot.
// Every failure sets savedFileRecord.refused. Each call counts as progress
// of the waited acquisition (noteModuleProgress).
std::int32_t DataProc(void* reference, void* info, void* data);
