#include "camera/camera_worker.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "camera/data_proc.h"
#include "camera/camera_handler.h"
#include "camera/camera_recovery.h"
#include "camera/image_pairing.h"
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
RepeatedLine statusLockFault;

// Set when a download with a queued name failed. The shot stays on the card
// and, the oldest there, comes again first; its name stays queued with it,
// or every later image would carry the name and time of the trigger before
// its own.
bool nameKeptForRetry = false;

// A camera whose item search fails this many passes in a row is taken for
// gone, as one whose record the module closed.
constexpr int kSelectFailuresForLoss = 3;
int selectFailuresInRow = 0;

// An item the module fails to deliver this many times in a row is passed
// over for the rest of the connection, so that one bad shot cannot hold
// back every shot after it.
constexpr int kTriesPerItem = 3;
struct FailedTries {
  std::uint32_t item = 0;
  std::uint32_t connection = 0;
  int count = 0;
} failedTries;

CameraRecovery recovery;
std::uint32_t disconnectsSeen = 0;

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

enum class NameTaken {
  QUEUED,   // the oldest queued name (the check may choose another)
  GENERIC,  // no name was waiting: the generic name, the previous times
  NO_LOCK,  // statusMutex not obtained: nothing may be downloaded now
};

// Copies the queued names and trigger times for the image about to be
// downloaded, with the oldest one in imageBaseName; without one, the generic
// name and the previous image's times. Nothing leaves the queue before the
// image is saved, so a shot that fails keeps its name for the next try.
NameTaken takeImageName() {
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (!hold.obtained()) {
    // imageBaseName still holds the previous image's name and time: the shot
    // waits on the card for a pass that can take its own.
    statusLockFault.occurred("CameraWorkerThread():: Error getting status mutex\n");
    return NameTaken::NO_LOCK;
  }
  statusLockFault.ended();
  if (!camera::prepareImagePairing()) {
    // While the check pairs by the camera's time, an image with nothing
    // queued is most likely a shot of its own: the line waits for the
    // choice. Otherwise, while a download keeps failing, every retry takes
    // the generic name again: the line is written once for the image.
    if (!camera::pairingCheckInForce())
      genericNameFault.occurred("%s: ERROR: No Image name avaiable, using generic.\n", kWho);
    useGenericName();
    return NameTaken::GENERIC;
  }
  const int length = camera::preparedNameLength();
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof imageBaseName) {
    // The trigger time stays: it belongs to this image whatever its name.
    logprintf(currentLogStream,
              "%s: ERROR Image name of %d characters is too long, using generic.\n", kWho, length);
    useGenericName();
  }
  return NameTaken::QUEUED;
}

void endDownloadFaults() {
  downloadFault.ended();
  keptNameFault.ended();
  genericNameFault.ended();
}

// A kept name no image will take any more leaves, so that the next image
// takes the next name. While the check pairs by the camera's time it stays:
// the next image's time tells whether that trigger had another image.
void withdrawKeptName(const char* why) {
  if (!nameKeptForRetry) return;
  nameKeptForRetry = false;
  if (camera::pairingCheckInForce()) return;
  camera::withdrawPreparedEntry();
  logprintf(currentLogStream,
            "%s: %s; image name %s withdrawn, the next image takes the next name.\n", kWho, why,
            camera::preparedName().c_str());
}

// The failed tries of item in a row, this one included.
int countFailedTry(std::uint32_t item) {
  const std::uint32_t connection = cameraHandler->connectionCount;
  if (failedTries.item != item || failedTries.connection != connection)
    failedTries = FailedTries{item, connection, 0};
  return ++failedTries.count;
}

void passOver(std::uint32_t item, bool named, const char* why) {
  cameraHandler->passItem(item);
  failedTries = FailedTries{};
  endDownloadFaults();
  logprintf(currentLogStream,
            "%s: ERROR Image item %u %s; passed over, it stays on the camera card.\n", kWho,
            static_cast<unsigned>(item), why);
  nameKeptForRetry = named;  // withdrawn at once, with its line
  withdrawKeptName("Item passed over");
}

void downloadImage() {
  const NameTaken taken = takeImageName();
  if (taken == NameTaken::NO_LOCK) return;
  const bool named = taken == NameTaken::QUEUED;
  const std::uint32_t item = cameraHandler->itemId;
  cameraHandler->itemDownloadDefault();
  switch (cameraHandler->lastDownload) {
    case DownloadOutcome::SAVED:
      // Only a file that was really saved is reported, counted and logged.
      nameKeptForRetry = false;
      failedTries = FailedTries{};
      endDownloadFaults();
      camera::settleSavedImage();
      logprintf(currentLogStream, "%s: GOT FILE [%s]\n", kWho, savedFileRecord.name);
      ++serverStatus.imageCount;
      WriteFileToLog();
      return;
    case DownloadOutcome::NO_IMAGE_DATA:
      camera::dropImageChoice();
      passOver(item, named, "has no image data");
      return;
    case DownloadOutcome::NOT_DELIVERED:
      if (countFailedTry(item) >= kTriesPerItem) {
        camera::dropImageChoice();
        char why[64];
        std::snprintf(why, sizeof why, "not downloaded after %d tries", kTriesPerItem);
        passOver(item, named, why);
        return;
      }
      break;
    case DownloadOutcome::NONE:
    case DownloadOutcome::NOT_SAVED:
    case DownloadOutcome::GONE:
      // A save that failed here, or a shot that went with its camera, is
      // the item's fault no more than the next one's: tried again.
      break;
  }
  camera::dropImageChoice();
  downloadFault.occurred("%s: Error: failed download image.\n", kWho);
  nameKeptForRetry = named;
  if (named)
    keptNameFault.occurred("%s: Image name %s kept for the next image.\n", kWho,
                           camera::preparedName().c_str());
}

// A disconnect command ends the tries to bring the camera back. A kept name
// stays kept: its shot stays on the card, the oldest there, and comes first
// after the reconnection, as every queued name stays with its own shot.
void followDisconnect() {
  if (cameraHandler->disconnectCount == disconnectsSeen) return;
  disconnectsSeen = cameraHandler->disconnectCount;
  recovery.stop();
  selectFailuresInRow = 0;
  failedTries = FailedTries{};
  endDownloadFaults();
  if (nameKeptForRetry)
    logprintf(currentLogStream,
              "%s: Camera disconnected; image name %s stays kept for its shot on the card.\n", kWho,
              camera::preparedName().c_str());
}

void cameraLost() {
  selectFailuresInRow = 0;
  itemSelectFault.ended();
  recovery.retry(*cameraHandler, kWho);
}

// The camera part of a pass, while the camera is wanted.
void pollCamera() {
  if (!cameraHandler->isCameraConnected()) {
    recovery.retry(*cameraHandler, kWho);
    return;
  }
  recovery.found(kWho);  // reopened by a connect command meanwhile
  const bool asked = cameraHandler->itemSelect();
  // The module closed the camera's record: gone, with no command.
  if (!cameraHandler->isCameraConnected()) return cameraLost();
  if (asked) {
    selectFailuresInRow = 0;
    itemSelectFault.ended();
  }
  if (cameraHandler->itemCollected) {
    downloadImage();
    // The camera may have gone during the download: taken up next pass.
  } else if (asked) {
    // No image waits: a run of failed tries on one image is over.
    endDownloadFaults();
  } else if (++selectFailuresInRow >= kSelectFailuresForLoss) {
    // Its records fail every pass: closed, and opened again.
    cameraHandler->dropCamera();
    cameraLost();
  } else if (selectFailuresInRow == 1) {
    itemSelectFault.occurred("%s: ERROR: Cannot communicate with the camera for item select.\n",
                             kWho);
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
  camera::resetImagePairing(serverSettings.cameraPairing);
  nameKeptForRetry = false;
  failedTries = FailedTries{};
  selectFailuresInRow = 0;
  recovery.stop();
  disconnectsSeen = cameraHandler != nullptr ? cameraHandler->disconnectCount : 0;
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

  if (cameraHandler == nullptr) return true;
  followDisconnect();
  if (getCameraConnected()) pollCamera();
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
