// Which queued trigger a delivered image belongs to, judged by the camera's
// own clock. Names are queued at each trigger and taken in order; a camera
// that misses a trigger, or shoots on its own, would shift every later image
// onto another trigger's time. The camera's capture time tells it apart:
// against the trigger that took it, it lies at a steady offset (the clocks'
// difference plus the shutter lag), which drifts only slowly.
//
// Pure logic: no lock, no log. The camera worker feeds it the queue's
// trigger times and acts on its choice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/pairing_mode.h"

namespace camera {

// A clock reading in milliseconds since 1970, and the step of the clock that
// gave it: 1 ms for three subsecond digits or more, 10 for two, 100 for one,
// 1000 for none.
struct ClockTime {
  bool present = false;
  std::int64_t ms = 0;
  int resolutionMs = 1000;
};

// Reads "YYYY:MM:DD hh:mm:ss" (the first 19 characters of dateTime) and the
// decimal digits of subSec (nullptr or "" for none). Not present when the
// text is not of that form or a field is out of range.
ClockTime clockTimeOfExif(const char* dateTime, const char* subSec);

enum class PairingVerdict { PAIRED, MISSED, NO_TRIGGER, UNCHECKED };
const char* pairingVerdictName(PairingVerdict verdict);

// Why the check could not judge an image.
enum class Undecided {
  NONE,
  NO_CAMERA_TIME,  // the image carries no readable capture time
  COARSE_CLOCK,    // its clock's step is larger than half the interval
};

struct PairingChoice {
  enum class Kind {
    ENTRY,       // pair with queued entry `entry`; those before it were missed
    NO_TRIGGER,  // the image belongs to no queued trigger
    GENERIC,     // nothing is queued and nothing could be judged
  };
  Kind kind = Kind::GENERIC;
  std::size_t entry = 0;
  PairingVerdict verdict = PairingVerdict::UNCHECKED;
  // Camera time minus the chosen entry's trigger time; with no entry, none.
  bool hasOffset = false;
  std::int64_t offsetMs = 0;
  Undecided undecided = Undecided::NONE;
  // VERIFY: the check would have chosen otherwise (checkEntry, or no entry
  // when checkNoTrigger).
  bool mismatch = false;
  std::size_t checkEntry = 0;
  bool checkNoTrigger = false;
  // The camera clock moved against the triggers: the estimate starts anew
  // from the images that showed it.
  bool clockStepped = false;
  std::int64_t toleranceMs = 0;  // the match window in force

  // For commit(): which state the choice was made in, and the offset this
  // image shows when it belongs to the entry that first in, first out (or,
  // in a run of unmatched images, the run's own order) gives it.
  enum class Phase { NONE, SEEDING, CHECKED };
  Phase phase = Phase::NONE;
  bool hasRunOffset = false;
  std::int64_t runOffsetMs = 0;
};

class PairingCheck {
 public:
  static constexpr int kWindow = 8;  // accepted offsets the estimate is the median of
  static constexpr int kSeed = 3;    // consecutive agreeing images that seed it
  static constexpr std::int64_t kMaxToleranceMs = 200;

  // Forgets every offset: the next images seed the estimate again.
  void reset();

  // The choice for an image taken at camera, given the trigger times (ms
  // since 1970) of the queued entries, oldest first, and the interval in
  // force. Changes nothing: commit() does, once the image was saved.
  PairingChoice choose(PairingMode mode, const ClockTime& camera, const std::int64_t* triggers,
                       std::size_t count, std::int32_t intervalMs) const;

  // Takes the saved image's choice into the estimate.
  void commit(const PairingChoice& choice);

  bool seeded() const { return seeded_; }
  // The median of the accepted offsets; 0 before seeding.
  std::int64_t estimateMs() const;

 private:
  struct Offsets {
    std::int64_t values[kWindow] = {};
    int count = 0;
    void push(std::int64_t value, int limit);
    void clear() { count = 0; }
    bool agree(std::int64_t tolerance) const;
  };

  bool seeded_ = false;
  Offsets accepted_;   // seeded: the last kWindow offsets of paired images
  Offsets candidate_;  // unseeded: the last kSeed first-in-first-out offsets
  Offsets unmatched_;  // seeded: a run of images that matched no entry
};

}  // namespace camera
