// The pairing check against simulated dives: triggers at a fixed interval,
// the camera's clock at an offset with a few milliseconds of jitter, images
// delivered in the order they were taken while later triggers already wait
// in the queue. Whatever the camera misses or adds, every image once the
// check is seeded pairs with its own trigger.
#include "camera/pairing_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace camera {
namespace {

constexpr std::int64_t kStart = 1765000000000;    // a trigger time, ms since 1970
constexpr std::int64_t kOffset = -3723000 + 140;  // clock difference plus shutter lag

struct Dive {
  const char* name;
  PairingMode mode = PairingMode::REPAIR;
  int intervalMs = 250;
  int triggers = 40;
  int waiting = 2;                 // triggers queued after the one that took the image
  std::vector<int> missed;         // triggers the camera missed
  std::vector<int> spuriousAfter;  // an extra shot a third of the way after these
  int stepFrom = -1;               // from this trigger on, the camera clock reads stepMs more
  std::int64_t stepMs = 0;
};

// What happened to one delivered image: the trigger it was paired with, or
// -1 for no trigger; and the triggers withdrawn as missed before it.
struct Outcome {
  int own = -1;  // its own trigger, -1 for a shot of its own
  int paired = -1;
  PairingVerdict verdict = PairingVerdict::UNCHECKED;
  bool clockStepped = false;
  std::vector<int> missed;
};

bool contains(const std::vector<int>& values, int value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

std::int64_t triggerTime(const Dive& dive, int i) {
  return kStart + std::int64_t{i} * dive.intervalMs;
}

std::int64_t cameraTime(const Dive& dive, std::int64_t hostMs, int i) {
  const std::int64_t jitter = (i * 37) % 21 - 10;
  const std::int64_t step = dive.stepFrom >= 0 && i >= dive.stepFrom ? dive.stepMs : 0;
  return hostMs + kOffset + jitter + step;
}

std::vector<Outcome> run(const Dive& dive) {
  // The shots in the order they were taken: (own trigger or -1, camera ms,
  // index of the trigger before it).
  struct Shot {
    int own;
    std::int64_t camera;
    int after;
  };
  std::vector<Shot> shots;
  for (int i = 0; i < dive.triggers; ++i) {
    if (!contains(dive.missed, i))
      shots.push_back({i, cameraTime(dive, triggerTime(dive, i), i), i});
    if (contains(dive.spuriousAfter, i))
      shots.push_back({-1, cameraTime(dive, triggerTime(dive, i) + dive.intervalMs / 3, i), i});
  }

  PairingCheck check;
  std::deque<int> queue;
  int queued = 0;
  std::vector<Outcome> outcomes;
  for (const Shot& shot : shots) {
    while (queued < dive.triggers && queued <= shot.after + dive.waiting) queue.push_back(queued++);
    std::vector<std::int64_t> times;
    for (int i : queue) times.push_back(triggerTime(dive, i));
    ClockTime camera;
    camera.present = true;
    camera.ms = shot.camera;
    camera.resolutionMs = 1;
    const PairingChoice choice =
        check.choose(dive.mode, camera, times.data(), times.size(), dive.intervalMs);
    Outcome outcome;
    outcome.own = shot.own;
    outcome.verdict = choice.verdict;
    outcome.clockStepped = choice.clockStepped;
    if (choice.kind == PairingChoice::Kind::ENTRY) {
      for (std::size_t j = 0; j < choice.entry; ++j) outcome.missed.push_back(queue[j]);
      outcome.paired = queue[choice.entry];
      queue.erase(queue.begin(), queue.begin() + static_cast<long>(choice.entry) + 1);
    }
    check.commit(choice);
    outcomes.push_back(outcome);
  }
  return outcomes;
}

class PairingDives : public testing::TestWithParam<Dive> {};

// From the fourth image on (three seed the check), every image pairs with its
// own trigger, a shot of its own with none, and exactly the missed triggers
// are withdrawn, each once.
TEST_P(PairingDives, EveryImageKeepsItsOwnTrigger) {
  const Dive& dive = GetParam();
  const std::vector<Outcome> outcomes = run(dive);
  std::vector<int> withdrawn;
  for (std::size_t n = 3; n < outcomes.size(); ++n) {
    const Outcome& o = outcomes[n];
    withdrawn.insert(withdrawn.end(), o.missed.begin(), o.missed.end());
    EXPECT_EQ(o.own, o.paired) << dive.name << ": image " << n;
    EXPECT_EQ(o.own < 0 ? PairingVerdict::NO_TRIGGER : PairingVerdict::PAIRED, o.verdict)
        << dive.name << ": image " << n;
  }
  std::vector<int> expected;
  for (int i : dive.missed)
    if (i > 3) expected.push_back(i);
  EXPECT_EQ(expected, withdrawn) << dive.name;
}

INSTANTIATE_TEST_SUITE_P(
    Misses, PairingDives,
    testing::Values(Dive{"none"}, Dive{"miss at the head", PairingMode::REPAIR, 250, 40, 2, {10}},
                    Dive{"two in a row", PairingMode::REPAIR, 250, 40, 3, {10, 11}},
                    Dive{"miss at the queue's end", PairingMode::REPAIR, 250, 40, 0, {12}},
                    Dive{"every seventh, spurious every 25th",
                         PairingMode::REPAIR,
                         250,
                         80,
                         2,
                         {6, 13, 20, 27, 34, 41, 48, 55, 62, 69, 76},
                         {24, 49, 74}},
                    Dive{"15 queued", PairingMode::REPAIR, 250, 60, 14, {20, 33, 34}, {40}},
                    Dive{"slow interval", PairingMode::REPAIR, 5000, 30, 2, {8}, {15}}),
    [](const testing::TestParamInfo<Dive>& param) {
      std::string name = param.param.name;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// A clock that steps by 5 s: the two images after the step match nothing,
// the third shows the step, and from then on pairing follows the new offset.
TEST(PairingCheckTest, ClockStepIsFollowedAfterThreeImages) {
  Dive dive{"step"};
  dive.stepFrom = 20;
  dive.stepMs = 5000;
  const std::vector<Outcome> outcomes = run(dive);
  for (std::size_t n = 3; n < outcomes.size(); ++n) {
    const Outcome& o = outcomes[n];
    if (o.own == 20 || o.own == 21) {
      EXPECT_EQ(PairingVerdict::NO_TRIGGER, o.verdict) << n;
    } else if (o.own == 22) {
      EXPECT_TRUE(o.clockStepped);
      EXPECT_EQ(22, o.paired);
      EXPECT_EQ((std::vector<int>{20, 21}), o.missed);
    } else {
      EXPECT_EQ(o.own, o.paired) << n;
      EXPECT_TRUE(o.missed.empty()) << n;
    }
  }
}

// Without the check, a miss shifts every later image onto the trigger
// before its own; verify mode pairs the same way and reports the images
// that do not match, until three in a row show the new offset.
TEST(PairingCheckTest, FifoAndVerifyShiftAfterAMiss) {
  for (PairingMode mode : {PairingMode::FIFO, PairingMode::VERIFY}) {
    Dive dive{"shift", mode};
    dive.missed = {10};
    const std::vector<Outcome> outcomes = run(dive);
    for (std::size_t n = 3; n < outcomes.size(); ++n) {
      const Outcome& o = outcomes[n];
      EXPECT_EQ(o.own < 10 ? o.own : o.own - 1, o.paired) << pairingModeName(mode) << " " << n;
      const bool reported = mode == PairingMode::VERIFY && (o.own == 11 || o.own == 12);
      const bool confirmed = mode == PairingMode::VERIFY && !reported;
      EXPECT_EQ(confirmed ? PairingVerdict::PAIRED : PairingVerdict::UNCHECKED, o.verdict)
          << pairingModeName(mode) << " " << n;
    }
  }
}

// The check stays out where it cannot judge: no camera time, or a clock
// whose step is more than half the interval.
TEST(PairingCheckTest, UndecidedImagesPairFirstInFirstOut) {
  PairingCheck check;
  const std::int64_t triggers[] = {kStart, kStart + 250};
  struct Case {
    ClockTime camera;
    int intervalMs;
    Undecided expected;
  } cases[] = {
      {ClockTime{}, 250, Undecided::NO_CAMERA_TIME},
      {ClockTime{true, kStart + 700, 1000}, 250, Undecided::COARSE_CLOCK},
      {ClockTime{true, kStart + 700, 1000}, 1999, Undecided::COARSE_CLOCK},
      {ClockTime{true, kStart + 700, 1000}, 2000, Undecided::NONE},
      {ClockTime{true, kStart + 700, 100}, 250, Undecided::NONE},
  };
  for (const Case& c : cases) {
    const PairingChoice choice =
        check.choose(PairingMode::REPAIR, c.camera, triggers, 2, c.intervalMs);
    EXPECT_EQ(c.expected, choice.undecided) << c.intervalMs << " " << c.camera.resolutionMs;
    EXPECT_EQ(PairingChoice::Kind::ENTRY, choice.kind);
    EXPECT_EQ(0u, choice.entry);
  }
}

TEST(PairingCheckTest, ExifClockTexts) {
  struct Case {
    const char* dateTime;
    const char* subSec;
    bool present;
    std::int64_t ms;
    int resolutionMs;
  } cases[] = {
      {"1970:01:01 00:00:00", "000", true, 0, 1},
      {"2025:12:06 05:46:40", "042", true, kStart + 42, 1},
      {"2024:02:29 23:59:60", "5", true, 1709251200000 + 500, 100},
      {"2024:03:01 00:00:00", "", true, 1709251200000, 1000},
      {"2024:03:01 00:00:00", nullptr, true, 1709251200000, 1000},
      {"2024:03:01 00:00:00", "12345", true, 1709251200123, 1},
      {"2024:13:01 00:00:00", "000", false, 0, 1000},
      {"2024:03:01 00:00", "000", false, 0, 1000},
      {"2024-03-01 00:00:00", "000", false, 0, 1000},
      {"    :  :     :  :  ", "000", false, 0, 1000},
  };
  for (const Case& c : cases) {
    const ClockTime time = clockTimeOfExif(c.dateTime, c.subSec);
    EXPECT_EQ(c.present, time.present) << c.dateTime;
    if (!c.present) continue;
    EXPECT_EQ(c.ms, time.ms) << c.dateTime;
    EXPECT_EQ(c.resolutionMs, time.resolutionMs) << c.dateTime;
  }
}

}  // namespace
}  // namespace camera
