// A camera that misses triggers and shoots on its own, on the simulated rig.
// Each saved image is traced back to the shot it is through the capture time
// the camera wrote into it (DateTimeDigitized, which the stamp leaves alone)
// and the rig's log; its name must carry the time of that shot's trigger.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/acquisition_fixture.h"

namespace e2e {
namespace {

const std::vector<std::string> kFaultyCamera{
    "--lag-ms",     "60", "--lag-jitter-ms",  "25", "--clock-offset-ms", "-3723000",
    "--miss-every", "7",  "--spurious-every", "25"};

struct PairingCounts {
  int saved = 0;
  int missed = 0;     // "No image for" lines
  int noTrigger = 0;  // "matches no trigger" lines
  int mispaired = 0;  // saved under another trigger's time, or a shot of its own under one
};

// "YYYY:MM:DD hh:mm:ss.mmm" as a name's "YYYYMMDD_hh.mm.ss.mmm".
std::string nameTimeOf(const std::string& cameraTime) {
  if (cameraTime.size() != 23) return "";
  return cameraTime.substr(0, 4) + cameraTime.substr(5, 2) + cameraTime.substr(8, 2) + "_" +
         cameraTime.substr(11, 2) + "." + cameraTime.substr(14, 2) + "." +
         cameraTime.substr(17, 2) + "." + cameraTime.substr(20, 3);
}

std::vector<std::string> csvVerdicts(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> verdicts;
  std::string line;
  std::getline(in, line);
  EXPECT_EQ("trigger_utc,camera_time,offset_ms,saved_name,verdict", line);
  while (std::getline(in, line)) verdicts.push_back(line.substr(line.rfind(',') + 1));
  return verdicts;
}

class e2ePairing : public e2eAcquisition {
 protected:
  // Acquires at 250 ms until the rig saw `triggers` triggers and every shot
  // is saved.
  void acquire(const std::string& pairing, std::size_t triggers) {
    std::filesystem::create_directory(dir_.path() / "dive");
    ASSERT_NO_FATAL_FAILURE(
        start("fileprefix=dive/P_\ninterval=250\npairing=" + pairing + "\n", kFaultyCamera));
    expectCtl({"acquire", "1"}, "acquire: 1");
    ASSERT_TRUE(waitForRigTriggers(triggers)) << server_->out().text();
    expectCtl({"acquire", "0"}, "acquire: 0");
    // The last trigger's shot, and a shot of the camera's own after it, are
    // on the card well within a second.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(waitUntil([&] { return savedNames(log()).size() >= rig_->rows("shot").size(); }))
        << server_->out().text();
    ASSERT_NO_FATAL_FAILURE(stopBoth());
  }

  // Judges every saved image against the rig's log.
  PairingCounts judge() {
    const std::vector<LogLine> lines = log();
    std::vector<std::string> queued;
    for (const TriggerPass& pass : triggerPasses(lines))
      if (pass.queued) queued.push_back(pass.name);
    const std::vector<RigRow> triggers = rig_->rows("trigger");
    EXPECT_EQ(queued.size(), triggers.size());
    std::map<std::string, std::string> expected;  // camera time -> base name
    for (std::size_t i = 0; i < triggers.size() && i < queued.size(); ++i)
      expected[triggers[i].cameraTime] = queued[i];
    for (const RigRow& row : rig_->rows("spurious"))
      expected[row.cameraTime] = "dive/P_NOTRIGGER_" + nameTimeOf(row.cameraTime);

    const std::vector<std::string> saved = savedNames(lines);
    std::vector<std::string> paths;
    for (const std::string& name : saved) paths.push_back(dir_.file(name));
    std::map<std::string, ExifTimes> exif;
    std::string error;
    EXPECT_TRUE(readExifTimes(paths, dir_.path().string(), &exif, &error)) << error;

    PairingCounts counts;
    counts.saved = static_cast<int>(saved.size());
    EXPECT_EQ(rig_->rows("shot").size(), saved.size());
    for (std::size_t i = 0; i < saved.size(); ++i) {
      const ExifTimes& times = exif[paths[i]];
      const auto shot = expected.find(times.digitized);
      EXPECT_NE(shot, expected.end()) << saved[i] << " is no shot of the rig";
      if (shot == expected.end() || shot->second + ".jpg" != saved[i]) ++counts.mispaired;
    }
    counts.missed = countPrefix(lines, "CameraWorkerThread(): No image for ");
    counts.noTrigger = countContaining(lines, " matches no trigger; saved as [");
    return counts;
  }

  static int countPrefix(const std::vector<LogLine>& lines, const std::string& prefix) {
    int count = 0;
    for (const LogLine& line : lines) count += line.text.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }
  static int countContaining(const std::vector<LogLine>& lines, const std::string& text) {
    int count = 0;
    for (const LogLine& line : lines) count += line.text.find(text) != std::string::npos ? 1 : 0;
    return count;
  }
};

// Every seventh trigger missed, a shot of the camera's own every 25, a
// jittered lag: every image keeps its own trigger's time, a shot of its own
// is saved under its camera time, and each fault is logged once and
// recorded once.
TEST_F(e2ePairing, RepairKeepsEveryImageOnItsOwnTrigger) {
  ASSERT_NO_FATAL_FAILURE(acquire("repair", 60));
  const PairingCounts counts = judge();
  std::cout << "repair: saved " << counts.saved << ", missed " << counts.missed << ", no-trigger "
            << counts.noTrigger << ", mispaired " << counts.mispaired << "\n";
  EXPECT_EQ(0, counts.mispaired);
  // A miss is seen once a later shot arrives: those after the last shot
  // are not.
  const std::string lastShot = rig_->rows("shot").back().cameraTime;
  int seen = 0;
  for (const RigRow& row : rig_->rows("miss")) seen += row.cameraTime < lastShot ? 1 : 0;
  EXPECT_EQ(seen, counts.missed);
  EXPECT_EQ(static_cast<int>(rig_->rows("spurious").size()), counts.noTrigger);
  EXPECT_GE(counts.missed, 7);
  EXPECT_GE(counts.noTrigger, 1);

  const std::vector<std::string> verdicts = csvVerdicts(dir_.file("dive/P_Pairing.csv"));
  std::map<std::string, int> byVerdict;
  for (const std::string& verdict : verdicts) ++byVerdict[verdict];
  EXPECT_EQ(counts.missed, byVerdict["missed"]);
  EXPECT_EQ(counts.noTrigger, byVerdict["no-trigger"]);
  EXPECT_EQ(counts.saved, byVerdict["paired"] + byVerdict["no-trigger"] + byVerdict["unchecked"]);
  EXPECT_EQ(3, byVerdict["unchecked"]) << "the three images that seed the check";
}

// The same camera without the check: the first miss shifts the images after
// it onto the triggers before theirs.
TEST_F(e2ePairing, FifoMispairsAfterTheFirstMiss) {
  ASSERT_NO_FATAL_FAILURE(acquire("fifo", 40));
  const PairingCounts counts = judge();
  std::cout << "fifo: saved " << counts.saved << ", missed " << counts.missed << ", no-trigger "
            << counts.noTrigger << ", mispaired " << counts.mispaired << "\n";
  EXPECT_GT(counts.mispaired, counts.saved / 2);
  EXPECT_EQ(0, counts.missed);
  EXPECT_EQ(0, counts.noTrigger);
}

// A camera clock of whole seconds cannot tell 250 ms apart: the check says
// so once and pairing stays first in, first out, which holds while every
// trigger yields one image.
TEST_F(e2ePairing, WholeSecondClockIsLeftToFirstInFirstOut) {
  std::filesystem::create_directory(dir_.path() / "dive");
  ASSERT_NO_FATAL_FAILURE(
      start("fileprefix=dive/W_\ninterval=250\n", {"--lag-ms", "30", "--no-subsec"}));
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_TRUE(waitForRigTriggers(12)) << server_->out().text();
  expectCtl({"acquire", "0"}, "acquire: 0");
  ASSERT_TRUE(waitUntilAllSaved()) << server_->out().text();
  ASSERT_NO_FATAL_FAILURE(stopBoth());

  const std::vector<LogLine> lines = log();
  EXPECT_EQ(1, countText(lines,
                         "CameraWorkerThread(): Pairing check cannot decide: the camera clock "
                         "counts in steps of 1000 ms, more than half the interval of 250 ms; "
                         "pairing first in, first out."));
  std::vector<std::string> queued;
  for (const TriggerPass& pass : triggerPasses(lines))
    if (pass.queued) queued.push_back(pass.name + ".jpg");
  EXPECT_EQ(queued, savedNames(lines));
  for (const std::string& verdict : csvVerdicts(dir_.file("dive/W_Pairing.csv")))
    EXPECT_EQ("unchecked", verdict);
}

}  // namespace
}  // namespace e2e
