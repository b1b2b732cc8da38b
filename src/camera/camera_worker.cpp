#include "camera/camera_worker.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "camera/data_proc.h"
#include "camera/camera_handler.h"
#include "channel/command_processing.h"
#include "channel/image_name_queue.h"
#include "channel/message_queue.h"
#include "channel/request_signal.h"
#include "core/image_names.h"
#include "core/log.h"
#include "core/repeated_line.h"
#include "core/server_state.h"
#include "core/status_access.h"

namespace {

const char* const kWho = "CameraWorkerThread()";

std::thread workerThread;

// A received message, as the listener queued it.
unsigned char messageBuffer[kMaxMessage];

// Lines a lasting camera fault would repeat on every pass: each is written
// once, then summed up, until the step next succeeds.
RepeatedLine itemSelectFault;
RepeatedLine downloadFault;
RepeatedLine keptNameFault;
RepeatedLine genericNameFault;

// Set when a download with a queued name failed. The shot stays on the card
// and, the oldest there, comes again first; it keeps its own name and trigger
// time then, or every later image would carry the name and time of the
// trigger before its own.
bool nameKeptForRetry = false;

// Sets imageBaseName to "<prefix>IMG", or to "IMG" when that does not fit:
// a name is never cut, since a cut prefix may name another folder.
// REQUIRES: statusMutex held.
void useGenericName() {
  const int length =
      std::snprintf(imageBaseName, sizeof imageBaseName, "%sIMG", serverStatus.cameraFilePrefix);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof imageBaseName) {
    logprintf(currentLogStream, "%s: ERROR Generic name %sIMG is too long, using IMG.\n", kWho,
              serverStatus.cameraFilePrefix);
    std::strcpy(imageBaseName, "IMG");
  }
}

// Takes the oldest prepared name and trigger time for the image about to be
// downloaded; without one, the generic name and the previous image's times.
// Returns whether a queued name (or the one kept for a retry) is in use.
bool takeImageName() {
  if (nameKeptForRetry) return true;  // imageBaseName and the Exif texts still hold it
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) {
    logprintf(currentLogStream, "CameraWorkerThread():: Error getting status mutex\n");
    return false;
  }
  std::int32_t length = 0;
  if (!imageNameQueue->popImageName(&length)) {
    // While a download keeps failing, every retry takes the generic name
    // again: the line is written once for the image, not once per try.
    genericNameFault.occurred("%s: ERROR: No Image name avaiable, using generic.\n", kWho);
    useGenericName();
    return false;
  }
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof imageBaseName) {
    // The trigger time stays: it belongs to this image whatever its name.
    logprintf(currentLogStream,
              "%s: ERROR Image name of %d characters is too long, using generic.\n", kWho,
              static_cast<int>(length));
    useGenericName();
  }
  return true;
}

void endDownloadFaults() {
  downloadFault.ended();
  keptNameFault.ended();
  genericNameFault.ended();
}

void downloadImage() {
  const bool named = takeImageName();
  // Only a file that was really saved is reported, counted and logged: a
  // failed save, a failed acquisition or a thumbnail-only item is not.
  if (cameraHandler->itemDownloadDefault() && savedFileRecord.saved) {
    nameKeptForRetry = false;
    endDownloadFaults();
    logprintf(currentLogStream, "%s: GOT FILE [%s]\n", kWho, savedFileRecord.name);
    ++serverStatus.imageCount;
    WriteFileToLog();
  } else {
    downloadFault.occurred("%s: Error: failed download image.\n", kWho);
    nameKeptForRetry = named;
    if (named)
      keptNameFault.occurred("%s: Image name %s kept for the next image.\n", kWho, imageBaseName);
  }
}

}  // namespace

void startCameraWorker() {
  logprintf(currentLogStream, "%s: Starting Camera Control Thread\n", kWho);
  cameraHandler = new (std::nothrow) CameraHandler();
  bool connected = cameraHandler != nullptr && cameraHandler->connectCamera();
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    if (hold.obtained()) {
      serverStatus.cameraConnected = connected;
    } else {
      connected = false;
    }
  }
  if (connected) {
    logprintf(currentLogStream, "%s: Connected to camera on thread start.\n", kWho);
  } else {
    logprintf(currentLogStream, "%s: ERROR Failed to connect to camera on thread start.\n", kWho);
  }
  serverStatus.imageCount = 0;
  nameKeptForRetry = false;
}

bool runCameraWorkerPass() {
  if (!getRunning()) {
    logprintf(currentLogStream, "%s: Thread Execution Complete.\n", kWho);
    return false;
  }
  // The pause ends early when a request arrives, so an idle server answers
  // at once; the pass still runs at least every 10 ms.
  waitForRequest(10);

  std::uint32_t count = 0;
  SessionId session = kNoSession;
  bool taken = false;
  bool more = false;
  bool locked = false;
  {
    platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
    locked = hold.obtained();
    if (locked) {
      taken = messageQueue->popReceived(messageBuffer, &count, &session);
      more = messageQueue->receivedCount() > 0;
    }
  }
  // Requests that arrived together are each taken at the next pass, without
  // the pause.
  if (more) signalRequestQueued();
  // Logged once the message mutex is let go: no routine holds both.
  if (!locked) logprintf(currentLogStream, "CameraWorkerThread():: Error getting msg mutex\n");
  // The command runs outside the lock, so a slow one never blocks the
  // client sessions.
  if (taken) processCommandMessage(messageBuffer, count, session);

  if (!getCameraConnected() || cameraHandler == nullptr) return true;
  const bool asked = cameraHandler->itemSelect();
  if (asked) itemSelectFault.ended();
  if (cameraHandler->itemCollected) {
    downloadImage();
  } else if (asked) {
    // No image waits: a run of failed tries on one image is over.
    endDownloadFaults();
  } else {
    itemSelectFault.occurred("%s: ERROR: Cannot communicate with the camera for item select.\n",
                             kWho);
  }
  return true;
}

int CameraWorkerThread() {
  startCameraWorker();
  while (runCameraWorkerPass()) {
  }
  return kCameraWorkerExitCode;
}

bool startCameraWorkerThread() {
  try {
    workerThread = std::thread([] { CameraWorkerThread(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void joinCameraWorkerThread() {
  if (workerThread.joinable()) workerThread.join();
}
