#include "camera/pairing_check.h"

#include <algorithm>
#include <cstring>

namespace camera {

namespace {

bool digitsAt(const char* text, int count, int* value) {
  int result = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    result = result * 10 + (text[i] - '0');
  }
  *value = result;
  return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(int year, int month, int day) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return std::int64_t{era} * 146097 + dayOfEra - 719468;
}

std::int64_t distance(std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; }

PairingChoice firstInFirstOut(const ClockTime& camera, const std::int64_t* triggers,
                              std::size_t count) {
  PairingChoice choice;
  if (count == 0) return choice;  // GENERIC
  choice.kind = PairingChoice::Kind::ENTRY;
  choice.entry = 0;
  if (camera.present) {
    choice.hasOffset = true;
    choice.offsetMs = camera.ms - triggers[0];
  }
  return choice;
}

}  // namespace

const char* pairingVerdictName(PairingVerdict verdict) {
  switch (verdict) {
    case PairingVerdict::PAIRED:
      return "paired";
    case PairingVerdict::MISSED:
      return "missed";
    case PairingVerdict::NO_TRIGGER:
      return "no-trigger";
    case PairingVerdict::UNCHECKED:
      return "unchecked";
  }
  return "unchecked";
}

ClockTime clockTimeOfExif(const char* dateTime, const char* subSec) {
  ClockTime time;
  if (dateTime == nullptr) return time;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // Each field is read only once the separator before it matched, so the
  // read stops at the text's terminator.
  const bool form = digitsAt(dateTime, 4, &year) && dateTime[4] == ':' &&
                    digitsAt(dateTime + 5, 2, &month) && dateTime[7] == ':' &&
                    digitsAt(dateTime + 8, 2, &day) && dateTime[10] == ' ' &&
                    digitsAt(dateTime + 11, 2, &hour) && dateTime[13] == ':' &&
                    digitsAt(dateTime + 14, 2, &minute) && dateTime[16] == ':' &&
                    digitsAt(dateTime + 17, 2, &second);
  if (!form || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 60)
    return time;
  int millisecond = 0;
  int digits = 0;
  int scale = 100;
  for (; subSec != nullptr && subSec[digits] >= '0' && subSec[digits] <= '9'; ++digits) {
    millisecond += (subSec[digits] - '0') * scale;
    scale /= 10;  // digits past the third are below the millisecond
  }
  time.present = true;
  time.resolutionMs = digits >= 3 ? 1 : digits == 2 ? 10 : digits == 1 ? 100 : 1000;
  time.ms = ((daysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000 +
            std::int64_t{second} * 1000 + millisecond;
  return time;
}

void PairingCheck::Offsets::push(std::int64_t value, int limit) {
  if (count == limit) {
    std::memmove(values, values + 1, sizeof values[0] * static_cast<std::size_t>(limit - 1));
    --count;
  }
  values[count++] = value;
}

bool PairingCheck::Offsets::agree(std::int64_t tolerance) const {
  if (count == 0) return false;
  const auto range = std::minmax_element(values, values + count);
  return *range.second - *range.first <= tolerance;
}

void PairingCheck::reset() {
  seeded_ = false;
  accepted_.clear();
  candidate_.clear();
  unmatched_.clear();
}

std::int64_t PairingCheck::estimateMs() const {
  if (!seeded_ || accepted_.count == 0) return 0;
  // At most eight values: sorted by insertion, which also keeps an
  // optimising compiler's bounds analysis of std::sort quiet.
  std::int64_t sorted[kWindow];
  for (int i = 0; i < accepted_.count; ++i) {
    const std::int64_t value = accepted_.values[i];
    int j = i;
    for (; j > 0 && sorted[j - 1] > value; --j) sorted[j] = sorted[j - 1];
    sorted[j] = value;
  }
  const int middle = accepted_.count / 2;
  return accepted_.count % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

PairingChoice PairingCheck::choose(PairingMode mode, const ClockTime& camera,
                                   const std::int64_t* triggers, std::size_t count,
                                   std::int32_t intervalMs) const {
  PairingChoice choice = firstInFirstOut(camera, triggers, count);
  const std::int64_t half = std::max<std::int64_t>(intervalMs / 2, 1);
  choice.toleranceMs = std::min(half, kMaxToleranceMs);
  if (mode == PairingMode::FIFO) return choice;
  if (!camera.present) {
    choice.undecided = Undecided::NO_CAMERA_TIME;
    return choice;
  }
  if (camera.resolutionMs > half) {
    choice.undecided = Undecided::COARSE_CLOCK;
    return choice;
  }
  // A clock that counts in steps puts the capture anywhere within its step
  // before the reading: the window widens by it, never past half the interval.
  const std::int64_t window = std::min(choice.toleranceMs + camera.resolutionMs - 1, half);
  choice.toleranceMs = window;
  if (!seeded_) {
    if (count > 0) {
      choice.phase = PairingChoice::Phase::SEEDING;
      choice.hasRunOffset = true;
      choice.runOffsetMs = choice.offsetMs;
    }
    return choice;
  }
  choice.phase = PairingChoice::Phase::CHECKED;

  const std::int64_t estimate = estimateMs();
  bool found = false;
  std::size_t best = 0;
  std::int64_t bestDistance = 0;
  for (std::size_t j = 0; j < count; ++j) {
    const std::int64_t d = distance(camera.ms - triggers[j], estimate);
    if (d <= window && (!found || d < bestDistance)) {
      found = true;
      best = j;
      bestDistance = d;
    }
  }

  // An image in a run that matches nothing belongs, if the camera's clock
  // moved, to the entry the run's own order gives it: the k-th such image in
  // a row to the k-th entry (in VERIFY each one took the head).
  if (!found || (mode == PairingMode::VERIFY && best != 0)) {
    const std::size_t k =
        mode == PairingMode::REPAIR ? static_cast<std::size_t>(unmatched_.count) : 0;
    if (k < count) {
      choice.hasRunOffset = true;
      choice.runOffsetMs = camera.ms - triggers[k];
      Offsets run = unmatched_;
      run.push(choice.runOffsetMs, kSeed);
      if (run.count == kSeed && run.agree(window)) {
        // Three images in a row agree among themselves and with none of
        // the queue: the camera's clock (or this one) moved.
        choice.clockStepped = true;
        choice.kind = PairingChoice::Kind::ENTRY;
        choice.entry = k;
        choice.hasOffset = true;
        choice.offsetMs = choice.runOffsetMs;
        choice.verdict = PairingVerdict::PAIRED;
        return choice;
      }
    }
  }

  if (mode == PairingMode::VERIFY) {
    if (count > 0 && found && best == 0) {
      choice.verdict = PairingVerdict::PAIRED;
    } else if (count > 0) {
      choice.mismatch = true;
      choice.checkNoTrigger = !found;
      choice.checkEntry = best;
    }
    return choice;
  }
  if (found) {
    choice.kind = PairingChoice::Kind::ENTRY;
    choice.entry = best;
    choice.hasOffset = true;
    choice.offsetMs = camera.ms - triggers[best];
    choice.verdict = PairingVerdict::PAIRED;
  } else {
    choice.kind = PairingChoice::Kind::NO_TRIGGER;
    choice.hasOffset = false;
    choice.verdict = PairingVerdict::NO_TRIGGER;
  }
  return choice;
}

void PairingCheck::commit(const PairingChoice& choice) {
  switch (choice.phase) {
    case PairingChoice::Phase::NONE:
      return;
    case PairingChoice::Phase::SEEDING:
      candidate_.push(choice.runOffsetMs, kSeed);
      if (candidate_.count == kSeed && candidate_.agree(choice.toleranceMs)) {
        seeded_ = true;
        accepted_ = candidate_;
        candidate_.clear();
        unmatched_.clear();
      }
      return;
    case PairingChoice::Phase::CHECKED:
      break;
  }
  if (choice.clockStepped) {
    accepted_ = unmatched_;
    accepted_.push(choice.runOffsetMs, kWindow);
    unmatched_.clear();
    return;
  }
  if (choice.verdict == PairingVerdict::PAIRED) {
    accepted_.push(choice.offsetMs, kWindow);
    unmatched_.clear();
    return;
  }
  if (choice.hasRunOffset) {
    unmatched_.push(choice.runOffsetMs, kSeed);
  } else {
    unmatched_.clear();
  }
}

}  // namespace camera
