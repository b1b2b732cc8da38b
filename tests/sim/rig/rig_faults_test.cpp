// The camera's faults on request, judged from the rig's log and the card as
// the server's pairing check would be: missed triggers leave no shot,
// shots of the camera's own have camera times no trigger has, and every
// shot carries its trigger's camera time in its Exif.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jpeg/jpeg_segments.h"
#include "jpeg/picture_info.h"
#include "platform/socket.h"
#include "rig/rig.h"
#include "sim/rig/rig_fixture.h"
#include "sim/rig/rig_wait.h"
#include "support/temp_dir.h"
#include "support/time_text.h"

namespace {

using rigtest::rowsOf;
using rigtest::waitFor;
using testing_support::TempDir;
using Rows = std::vector<std::vector<std::string>>;

class RigFaultsTest : public rigtest::RigFixture {
 protected:
  void SetUp() override {
    RigFixture::SetUp();
    options_.lagMs = 30;
  }

  void trigger() {
    const std::uint8_t zero = 0;
    rig_->onTriggerBytes(&zero, 1);
  }

  std::string cardPath(const std::string& name) const {
    return (std::filesystem::path(options_.cardDir) / name).string();
  }
};

TEST_F(RigFaultsTest, MissedAndOwnShotsAreLoggedAndShotsPairByCameraTime) {
  options_.missEvery = 3;
  options_.missList = {1};
  options_.spuriousEvery = 2;
  options_.lagJitterMs = 10;
  options_.clockOffsetMs = 2500;
  start();
  // Triggers 1, 3 and 6 are missed; the camera shoots on its own after 2, 4
  // and 6. Each such shot is awaited before the next trigger, which would
  // otherwise come first and call it off.
  std::size_t own = 0;
  for (int ordinal = 1; ordinal <= 6; ++ordinal) {
    // Pacing only, as a survey's trigger spacing: nothing waits on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    trigger();
    if (ordinal % 2 == 0) {
      ++own;
      ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "spurious").size() == own; }));
    }
  }
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "shot").size() == 6; }));

  const Rows triggers = rowsOf(options_.logPath, "trigger");
  const Rows misses = rowsOf(options_.logPath, "miss");
  const Rows spurious = rowsOf(options_.logPath, "spurious");
  const Rows shots = rowsOf(options_.logPath, "shot");
  ASSERT_EQ(triggers.size(), 6u);
  ASSERT_EQ(misses.size(), 3u);
  ASSERT_EQ(spurious.size(), 3u);
  // A missed trigger makes no frame: card names stay consecutive.
  const std::vector<std::string> triggerFrames{"", "1", "", "3", "5", ""};
  std::set<std::string> triggerTimes;
  std::map<std::string, std::string> cameraTimeOfFrame;
  for (std::size_t i = 0; i < triggers.size(); ++i) {
    const auto& row = triggers[i];
    EXPECT_EQ(row[2], triggerFrames[i]) << "trigger " << i + 1;
    EXPECT_EQ(row[3], row[2].empty() ? "" : "DSC_000" + row[2] + ".JPG");
    EXPECT_TRUE(triggerTimes.insert(row[4]).second) << row[4];
    // The exposure moves with the lag's jitter, within its bounds.
    const long long moved = testing_support::timeTextMs(row[4]) -
                            testing_support::timeTextMs(row[0]) - options_.clockOffsetMs;
    EXPECT_LE(moved < 0 ? -moved : moved, options_.lagJitterMs) << row[4];
    if (!row[2].empty()) cameraTimeOfFrame[row[2]] = row[4];
  }
  const std::vector<std::size_t> missedTriggers{0, 2, 5};
  for (std::size_t i = 0; i < misses.size(); ++i) {
    EXPECT_EQ(misses[i][2], "");
    EXPECT_EQ(misses[i][3], "");
    EXPECT_EQ(misses[i][4], triggers[missedTriggers[i]][4]);
  }
  const std::vector<std::string> ownFrames{"2", "4", "6"};
  for (std::size_t i = 0; i < spurious.size(); ++i) {
    EXPECT_EQ(spurious[i][2], ownFrames[i]);
    EXPECT_EQ(spurious[i][3], "DSC_000" + ownFrames[i] + ".JPG");
    EXPECT_EQ(triggerTimes.count(spurious[i][4]), 0u) << spurious[i][4];
    cameraTimeOfFrame[spurious[i][2]] = spurious[i][4];
  }
  // Card order is frame order is camera time order, and each shot has the
  // camera time of its trigger or of the camera's own release.
  std::vector<std::string> expectedCard;
  for (std::size_t i = 0; i < shots.size(); ++i) {
    const std::string frame = std::to_string(i + 1);
    EXPECT_EQ(shots[i][2], frame);
    EXPECT_EQ(shots[i][3], "DSC_000" + frame + ".JPG");
    EXPECT_EQ(shots[i][4], cameraTimeOfFrame[frame]) << "frame " << frame;
    if (i > 0) {
      EXPECT_LT(shots[i - 1][4], shots[i][4]);
    }
    expectedCard.push_back(shots[i][3]);
  }
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir), expectedCard);

  if (!rigtest::haveExiftool()) GTEST_SKIP() << "exiftool not installed";
  for (const auto& shot : shots) {
    std::map<std::string, std::string> tags;
    ASSERT_TRUE(
        rigtest::exiftoolTags(cardPath(shot[3]), "-CreateDate -SubSecTimeDigitized", &tags));
    EXPECT_EQ(tags["CreateDate"] + "." + tags["SubSecTimeDigitized"], shot[4]) << shot[3];
  }
}

TEST_F(RigFaultsTest, WholeSecondClockLeavesOutEverySubSecondTag) {
  options_.subSeconds = false;
  start();
  trigger();
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "shot").size() == 1; }));
  const std::string cameraTime = rowsOf(options_.logPath, "shot")[0][4];
  EXPECT_EQ(cameraTime.substr(19), ".000");
  EXPECT_EQ(rowsOf(options_.logPath, "trigger")[0][4], cameraTime);

  const std::string text = testing_support::readFile(cardPath("DSC_0001.JPG"));
  std::vector<std::uint8_t> file(text.begin(), text.end());
  ASSERT_EQ(jpeg::scanJpegBuffer(file.data(), static_cast<int>(file.size())), 1);
  EXPECT_EQ(std::string(jpeg::PictureInfo.dateTimeOriginal), cameraTime.substr(0, 19));
  EXPECT_EQ(jpeg::PictureInfo.subSecTimeOriginalPos, nullptr);
  jpeg::releaseJpegSegments();

  if (!rigtest::haveExiftool()) GTEST_SKIP() << "exiftool not installed";
  std::map<std::string, std::string> tags;
  ASSERT_TRUE(rigtest::exiftoolTags(cardPath("DSC_0001.JPG"),
                                    "-CreateDate -SubSecTime -SubSecTimeOriginal "
                                    "-SubSecTimeDigitized -Warning",
                                    &tags));
  EXPECT_EQ(tags["CreateDate"], cameraTime.substr(0, 19));
  for (const char* name : {"SubSecTime", "SubSecTimeOriginal", "SubSecTimeDigitized", "Warning"})
    EXPECT_EQ(tags.count(name), 0u) << name;
}

TEST_F(RigFaultsTest, ReplayedOwnShotTakesTheNextFile) {
  TempDir given;
  given.write("a.jpg", "first");
  given.write("b.nef", "second");
  options_.replayDir = given.path().string();
  options_.spuriousEvery = 2;
  start();
  trigger();
  trigger();
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "shot").size() == 3; }));
  const Rows spurious = rowsOf(options_.logPath, "spurious");
  ASSERT_EQ(spurious.size(), 1u);
  EXPECT_EQ(spurious[0][3], "DSC_0003");  // the extension is known once the file is read
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir),
            (std::vector<std::string>{"DSC_0001.jpg", "DSC_0002.nef", "DSC_0003.jpg"}));
  EXPECT_EQ(testing_support::readFile(cardPath("DSC_0003.jpg")), "first");
}

}  // namespace
