// The program's one camera object: loads and opens the camera module, opens
// the camera, finds the image item to fetch, downloads it through the data
// procedure and closes everything again. Error lines go to standard error
// (two named below to standard output); none reaches the server log.
//
// Camera worker thread only, directly or through the command processing that
// runs on it; takes no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "camera/object_record.h"

// What the last itemDownloadDefault came to.
enum class DownloadOutcome {
  NONE,           // nothing was tried (no item collected)
  SAVED,          // the image was saved (savedFileRecord names it)
  NOT_SAVED,      // delivered, but it could not be kept or saved here
  NOT_DELIVERED,  // the item could not be opened, read or delivered
  NO_IMAGE_DATA,  // the item has only a thumbnail: nothing was acquired
  GONE,           // the item or the camera went away meanwhile
};

class CameraHandler {
 public:
  // Sets the fields below and calls connectModule; when that fails prints
  // "CameraHandler::CameraHandler() ERROR: Cannot connect to module.\n". The
  // handler is built either way.
  CameraHandler();
  // Closes the module when it is open. (The server's handler lives until the
  // process ends; tests build and drop their own.)
  ~CameraHandler();
  CameraHandler(const CameraHandler&) = delete;
  CameraHandler& operator=(const CameraHandler&) = delete;

  // Finds "Type0001.md3" in the working directory, loads it, opens the
  // module object, reads its capabilities, registers the procedures and sets
  // the module mode to 1 when that is settable. False, with a line, when the
  // module is already loaded or any step fails; the module object is then
  // closed again and no module record is left. A library once loaded stays
  // loaded.
  bool connectModule();

  // Opens the camera (the module's first listed source), loading the module
  // first when needed; a camera record that an add-child event already
  // opened is taken as it is. False when the camera is already open (with a
  // line), when no camera is listed, or when it cannot be opened.
  bool connectCamera();

  // Looks for an image item on the camera: itemCollected and itemId tell
  // what was found (the oldest shot not passed over). False only when the
  // camera cannot be asked (including when its record was closed by the
  // module meanwhile). A camera record that the module closed and did not
  // replace leaves the camera closed (cameraOpen false).
  bool itemSelect();

  // Downloads the item that itemSelect found: opens it when needed, picks
  // its data type, and acquires its image data, which DataProc stamps and
  // saves. Clears removeItemFlag and savedFileRecord first; afterwards
  // savedFileRecord tells whether an image was saved. When the module asked
  // for the saved image's removal, the item and its data objects are
  // closed; when it did not, the item is passed over for the rest of the
  // connection, so that each is fetched once. True also when the
  // acquisition failed (its line was printed) or when the item has only a
  // thumbnail (nothing acquired, the item stays); false when no item was
  // collected, it cannot be opened, its data type cannot be read, or it
  // vanished meanwhile. lastDownload tells which.
  bool itemDownloadDefault();

  // Acquires the data object dataId of itemRecord, opening it when needed
  // ("Image object is opened.\n" / "Image object can't be opened.\n" on
  // standard output), then closes it. Returns the result of that close.
  bool imageCommandAcquire(ObjectRecord* itemRecord, std::uint32_t dataId);

  // Closes every object (depth first, the module last), unloads the library
  // and clears both state flags. False, with a line, when an object cannot
  // be closed; the flags then stay.
  bool closeModule();

  // True only when both cameraOpen and moduleLoaded are.
  bool isCameraConnected() const { return cameraOpen && moduleLoaded; }

  // The connect command's disconnect: closeModule, counted in
  // disconnectCount whether or not it succeeded.
  bool disconnectCamera();

  // The camera went away without an event saying so (its records fail):
  // closes what is left of it. Afterwards the camera counts as closed.
  void dropCamera();

  // Opens a camera that went away again: on the loaded module first (a
  // camera that an add-child event reopened, or that is listed again), and
  // failing that on a module loaded afresh, which a module that lost its
  // device may need. True when the camera is open.
  bool reopenCamera();

  // Passes over the item id for the rest of this connection: itemSelect no
  // longer takes it; it stays on the camera.
  void passItem(std::uint32_t id);

  // The camera's record, owned by the tree below moduleRecord. Not followed
  // blindly: the module may close the camera through an event, so the
  // handler checks it against the module record's children first.
  ObjectRecord* sourceRecord = nullptr;
  std::unique_ptr<ObjectRecord> moduleRecord;
  bool cameraOpen = false;
  bool moduleLoaded = false;
  bool itemCollected = false;  // the last itemSelect found an item
  std::uint32_t itemId = 0;    // the item it found
  DownloadOutcome lastDownload = DownloadOutcome::NONE;
  // Items passed over in this connection; the module numbers items anew for
  // a camera opened again, so the list starts empty with each.
  std::vector<std::uint32_t> passedItems;
  // Raised each time a camera is opened (connection or reconnection).
  std::uint32_t connectionCount = 0;
  // Raised by each disconnectCamera.
  std::uint32_t disconnectCount = 0;

 private:
  // sourceRecord while the module record still lists it; else the camera
  // record an add-child event opened in its place, or nullptr.
  ObjectRecord* currentSource();
  // Closes what a failed connectModule had opened and drops the record.
  void abandonModuleRecord();
  // A camera record was taken: a new connection.
  void cameraOpened(ObjectRecord* source);
  // cameraOpen, cleared when the camera's record is gone and not replaced.
  bool cameraStillOpen();

  // Set when dropCamera could not close the camera's records: the next
  // reopenCamera starts from a module loaded afresh.
  bool leftovers_ = false;
};

// The one camera handler, set by the camera worker thread once built.
extern CameraHandler* cameraHandler;
