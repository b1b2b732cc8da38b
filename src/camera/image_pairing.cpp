#include "camera/image_pairing.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "camera/data_proc.h"
#include "camera/pairing_check.h"
#include "channel/image_name_queue.h"
#include "core/image_names.h"
#include "core/log.h"
#include "core/repeated_line.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "jpeg/exif_timestamp.h"

namespace camera {

namespace {

const char* const kWho = "CameraWorkerThread()";

constexpr std::size_t kMaxEntries = ImageNameQueue::kLimit;

PairingMode mode = PairingMode::REPAIR;
PairingCheck check;

// The queue as it stood before the download.
ImageNameEntry entries[kMaxEntries];
std::int64_t triggerMs[kMaxEntries];
std::size_t entryCount = 0;
std::int32_t intervalMs = 1000;
char prefix[kPrefixSize] = "";

// The choice for the download under way; none until the data procedure
// made one (raw data, or a module that delivered nothing, take the oldest).
bool choiceMade = false;
PairingChoice choice;
jpeg::CameraClockReading reading;

// Entries a saved image used, still to be taken off the queue: the first
// `pendingCount` of `pending`, oldest first.
ImageNameEntry pending[kMaxEntries];
std::size_t pendingCount = 0;

Undecided undecidedSaid = Undecided::NONE;
// The check was in force when the download was prepared: a generic name is
// then reported with the choice, not before the download.
bool inForceAtPreparation = false;
RepeatedLine recordFault;

bool sameEntry(const ImageNameEntry& a, const ImageNameEntry& b) {
  return a.nameLength == b.nameLength &&
         std::memcmp(a.name, b.name, static_cast<std::size_t>(a.nameLength)) == 0 &&
         std::memcmp(a.exifDate, b.exifDate, sizeof a.exifDate) == 0 &&
         std::memcmp(a.subSec, b.subSec, sizeof a.subSec) == 0;
}

// REQUIRES: statusMutex held. Entries are only ever added at the back, so
// the used ones are still the oldest; one that is not there any more was
// taken already.
void takeOffPending() {
  for (std::size_t i = 0; i < pendingCount; ++i) {
    ImageNameEntry oldest;
    if (imageNameQueue->copyEntries(&oldest, 1) != 1 || !sameEntry(oldest, pending[i])) break;
    imageNameQueue->dropOldest();
  }
  pendingCount = 0;
}

void takeOff(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) pending[pendingCount++] = entries[i];
  platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
  if (hold.obtained()) takeOffPending();
  // Otherwise the next preparation does it, before it copies the queue.
}

std::string entryName(const ImageNameEntry& entry) {
  return std::string(entry.name, static_cast<std::size_t>(entry.nameLength));
}

// "YYYY-MM-DDThh:mm:ss.mmmZ" of a queued trigger.
std::string triggerUtc(const ImageNameEntry& entry) {
  const char* d = entry.exifDate;
  char text[32];
  std::snprintf(text, sizeof text, "%.4s-%.2s-%.2sT%.8s.%.3sZ", d, d + 5, d + 8, d + 11,
                entry.subSec);
  return text;
}

std::string cameraText() {
  if (!reading.present) return "";
  std::string text = reading.dateTime;
  if (reading.subSec[0] != '\0') text += std::string(".") + reading.subSec;
  return text;
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string csvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string csvRow(const std::string& trigger, const std::string& camera, const std::string& offset,
                   const std::string& saved, PairingVerdict verdict) {
  return csvField(trigger) + "," + csvField(camera) + "," + offset + "," + csvField(saved) + "," +
         pairingVerdictName(verdict) + "\n";
}

// Appends rows to "<prefix>Pairing.csv", with the column line first in a new
// file. Opened and closed for each image, so every decision is on disk once
// the image is counted.
void writeRecord(const std::string& rows) {
  char path[kPrefixSize + sizeof "Pairing.csv"];
  std::snprintf(path, sizeof path, "%sPairing.csv", prefix);
  std::FILE* file = std::fopen(path, "a");
  bool written = file != nullptr;
  if (written) {
    std::fseek(file, 0, SEEK_END);
    if (std::ftell(file) == 0)
      written = std::fputs("trigger_utc,camera_time,offset_ms,saved_name,verdict\n", file) >= 0;
    written = written && std::fputs(rows.c_str(), file) >= 0;
    written = std::fclose(file) == 0 && written;
  }
  if (written) {
    recordFault.ended();
  } else {
    recordFault.occurred("%s: ERROR cannot write the pairing record %s.\n", kWho, path);
  }
}

void sayUndecided() {
  if (choice.undecided == undecidedSaid) return;
  undecidedSaid = choice.undecided;
  if (choice.undecided == Undecided::NO_CAMERA_TIME) {
    logprintf(currentLogStream,
              "%s: Pairing check cannot decide: the images carry no camera time; pairing first "
              "in, first out.\n",
              kWho);
  } else if (choice.undecided == Undecided::COARSE_CLOCK) {
    const ClockTime time = clockTimeOfExif(reading.dateTime, reading.subSec);
    logprintf(currentLogStream,
              "%s: Pairing check cannot decide: the camera clock counts in steps of %d ms, more "
              "than half the interval of %d ms; pairing first in, first out.\n",
              kWho, time.resolutionMs, static_cast<int>(intervalMs));
  }
}

// Sets imageBaseName to "<prefix>NOTRIGGER_YYYYMMDD_hh.mm.ss.mmm" of the
// camera's time, or without the prefix when that does not fit.
void useNoTriggerName() {
  const char* d = reading.dateTime;
  char digits[4] = "000";
  for (int i = 0; i < 3 && reading.subSec[i] != '\0'; ++i) digits[i] = reading.subSec[i];
  char stem[64];
  std::snprintf(stem, sizeof stem, "NOTRIGGER_%.4s%.2s%.2s_%.2s.%.2s.%.2s.%s", d, d + 5, d + 8,
                d + 11, d + 14, d + 17, digits);
  const int length = std::snprintf(imageBaseName, sizeof imageBaseName, "%s%s", prefix, stem);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof imageBaseName)
    std::snprintf(imageBaseName, sizeof imageBaseName, "%s", stem);
}

}  // namespace

void resetImagePairing(PairingMode newMode) {
  mode = newMode;
  check.reset();
  choiceMade = false;
  entryCount = 0;
  pendingCount = 0;
  undecidedSaid = Undecided::NONE;
  imageNamer = &pairDeliveredImage;
}

bool prepareImagePairing() {
  takeOffPending();
  entryCount = imageNameQueue->copyEntries(entries, kMaxEntries);
  for (std::size_t i = 0; i < entryCount; ++i) {
    const ClockTime time = clockTimeOfExif(entries[i].exifDate, entries[i].subSec);
    triggerMs[i] = time.ms;
  }
  intervalMs = serverStatus.cameraInterval;
  std::snprintf(prefix, sizeof prefix, "%s", serverStatus.cameraFilePrefix);
  choiceMade = false;
  inForceAtPreparation = pairingCheckInForce();
  if (entryCount == 0) return false;
  deliverImageName(entries[0]);
  return true;
}

std::string preparedName() { return entryCount > 0 ? entryName(entries[0]) : ""; }
int preparedNameLength() { return entryCount > 0 ? entries[0].nameLength : 0; }

bool pairDeliveredImage(const jpeg::CameraClockReading& delivered) {
  reading = delivered;
  const ClockTime camera =
      reading.present ? clockTimeOfExif(reading.dateTime, reading.subSec) : ClockTime{};
  choice = check.choose(mode, camera, triggerMs, entryCount, intervalMs);
  choiceMade = true;
  switch (choice.kind) {
    case PairingChoice::Kind::ENTRY:
      deliverImageName(entries[choice.entry]);
      return true;
    case PairingChoice::Kind::NO_TRIGGER:
      useNoTriggerName();
      return false;
    case PairingChoice::Kind::GENERIC:
      break;
  }
  return true;  // the generic name and the previous image's times, as set
}

void settleSavedImage() {
  if (!choiceMade) {
    // No capture time was read (raw data): the oldest entry, unchecked.
    choice = PairingChoice{};
    if (entryCount > 0) choice.kind = PairingChoice::Kind::ENTRY;
    reading = jpeg::CameraClockReading{};
  }
  choiceMade = false;
  // With nothing queued there is nothing to decide.
  if (entryCount > 0) sayUndecided();
  if (choice.undecided == Undecided::NONE && mode != PairingMode::FIFO)
    undecidedSaid = Undecided::NONE;

  const bool wasSeeded = check.seeded();
  const std::int64_t before = check.estimateMs();
  check.commit(choice);
  if (choice.clockStepped) {
    logprintf(currentLogStream,
              "%s: The camera clock moved by %lld ms against the triggers; pairing follows it.\n",
              kWho, static_cast<long long>(check.estimateMs() - before));
  } else if (!wasSeeded && check.seeded()) {
    logprintf(currentLogStream,
              "%s: Pairing check in force: the camera clock reads %lld ms after the trigger.\n",
              kWho, static_cast<long long>(check.estimateMs()));
  }

  const std::string saved = savedFileRecord.name;
  const std::string camera = cameraText();
  const std::string offset = choice.hasOffset ? std::to_string(choice.offsetMs) : "";
  std::string rows;
  switch (choice.kind) {
    case PairingChoice::Kind::ENTRY: {
      for (std::size_t i = 0; i < choice.entry; ++i) {
        logprintf(currentLogStream, "%s: No image for %s; the camera missed that trigger.\n", kWho,
                  entryName(entries[i]).c_str());
        rows += csvRow(triggerUtc(entries[i]), "", "", "", PairingVerdict::MISSED);
      }
      if (choice.mismatch) {
        const std::string other = choice.checkNoTrigger
                                      ? std::string("no queued trigger")
                                      : "the trigger of " + entryName(entries[choice.checkEntry]);
        logprintf(currentLogStream,
                  "%s: Pairing check: image [%s] taken at camera time %s matches %s; paired first "
                  "in, first out.\n",
                  kWho, saved.c_str(), camera.c_str(), other.c_str());
      }
      rows += csvRow(triggerUtc(entries[choice.entry]), camera, offset, saved, choice.verdict);
      takeOff(choice.entry + 1);
      break;
    }
    case PairingChoice::Kind::NO_TRIGGER:
      logprintf(currentLogStream,
                "%s: Image taken at camera time %s matches no trigger; saved as [%s] with its own "
                "time.\n",
                kWho, camera.c_str(), saved.c_str());
      rows += csvRow("", camera, "", saved, PairingVerdict::NO_TRIGGER);
      break;
    case PairingChoice::Kind::GENERIC:
      if (inForceAtPreparation)
        logprintf(currentLogStream, "%s: ERROR: No Image name avaiable, using generic.\n", kWho);
      rows += csvRow("", camera, "", saved, PairingVerdict::UNCHECKED);
      break;
  }
  writeRecord(rows);
}

void dropImageChoice() { choiceMade = false; }

bool pairingCheckInForce() { return mode == PairingMode::REPAIR && check.seeded(); }

void withdrawPreparedEntry() {
  if (entryCount == 0) return;
  takeOff(1);
}

}  // namespace camera
