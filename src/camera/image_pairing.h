// The camera worker's side of pairing images with triggers: it copies the
// queued names before each download, lets the pairing check choose among
// them once the image's capture time is known, and afterwards takes the
// chosen entry (and the entries the camera missed before it) off the queue,
// logs each decision and writes it to "<prefix>Pairing.csv".
//
// Camera worker thread only, like the download it serves.
#pragma once

#include <string>

#include "core/pairing_mode.h"
#include "jpeg/image_stamp.h"

namespace camera {

// Chooses the check's mode for the run and forgets every offset.
void resetImagePairing(PairingMode mode);

// Before a download, with statusMutex held: first takes off the queue what
// the last save left there, then copies the queued entries, the interval
// and the prefix, and sets imageBaseName and the Exif texts to the oldest
// entry. False when nothing is queued (imageBaseName is then untouched).
bool prepareImagePairing();

// The oldest entry's name and its length, as prepareImagePairing() found
// it; "" and 0 when nothing was queued.
std::string preparedName();
int preparedNameLength();

// The data procedure's hook for a complete file object: the choice, from
// the capture time in it. Sets imageBaseName and the Exif texts to the
// chosen entry, or the name of an image that belongs to no trigger. True:
// the trigger time is to be stamped; false: the image is saved as delivered.
bool pairDeliveredImage(const jpeg::CameraClockReading& reading);

// After a download that saved its image: logs the decision, takes the used
// entries off the queue (later, if statusMutex cannot be had now) and
// writes the pairing record. Before the "GOT FILE" line.
void settleSavedImage();

// After a download that saved nothing: the choice is dropped.
void dropImageChoice();

// True while the check pairs by the camera's time (repair, seeded). A shot
// passed over then leaves the queue alone: the next image's time tells
// whether its trigger had another image.
bool pairingCheckInForce();

// Takes the oldest queued entry off the queue, as prepared before the
// download, for a shot that will never be saved. Needs statusMutex; when it
// cannot be had, the entry goes with the next pass's preparation.
void withdrawPreparedEntry();

}  // namespace camera
