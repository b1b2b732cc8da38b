// The rig in the test process: a zero byte on the trigger line makes one
// shot on the card after the lag, the shot is a camera-style JPEG, replayed
// shots are the given files in order, and the log records triggers, shots
// and RTS changes.
#include "rig/rig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jpeg/jpeg_segments.h"
#include "jpeg/picture_info.h"
#include "platform/rfc2217_line.h"
#include "platform/serial.h"
#include "platform/socket.h"
#include "sim/rig/rig_fixture.h"
#include "sim/rig/rig_wait.h"
#include "support/temp_dir.h"
#include "support/time_text.h"
#include "trigger/trigger_serial_port.h"

namespace {

using rigtest::rowsOf;
using rigtest::waitFor;
using testing_support::TempDir;

class RigTest : public rigtest::RigFixture {
 protected:
  // Sends the bytes on the trigger line through the project's own serial
  // line, as the server does.
  void sendTrigger(std::initializer_list<unsigned char> bytes) {
    std::unique_ptr<platform::SerialLine> line =
        platform::createSerialLine(rig_->triggerName().c_str());
    ASSERT_TRUE(line->open());
    for (unsigned char byte : bytes) ASSERT_TRUE(line->transmitByte(byte));
    line->close();
  }

  bool waitForShots(std::size_t count) {
    return waitFor([&] { return rowsOf(options_.logPath, "shot").size() >= count; });
  }

  std::vector<std::uint8_t> cardFile(const std::string& name) {
    const std::string text =
        testing_support::readFile((std::filesystem::path(options_.cardDir) / name).string());
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }
};

TEST_F(RigTest, ZeroByteOnTheTerminalMakesExactlyOneShot) {
  start();
  sendTrigger({0x55, 0x00, 0x7F});  // only the zero byte releases the shutter
  ASSERT_TRUE(waitForShots(1));
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir), std::vector<std::string>{"DSC_0001.JPG"});
  const auto triggers = rowsOf(options_.logPath, "trigger");
  ASSERT_EQ(triggers.size(), 1u);
  EXPECT_EQ(triggers[0][2], "1");
  EXPECT_EQ(triggers[0][3], "DSC_0001.JPG");
  EXPECT_EQ(rig_->shotsWritten(), 1u);
}

TEST_F(RigTest, EachZeroByteIsOneShotInTriggerOrder) {
  start();
  sendTrigger({0, 0, 0});
  ASSERT_TRUE(waitForShots(3));
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir),
            (std::vector<std::string>{"DSC_0001.JPG", "DSC_0002.JPG", "DSC_0003.JPG"}));
  const auto shots = rowsOf(options_.logPath, "shot");
  for (std::size_t i = 0; i < shots.size(); ++i) EXPECT_EQ(shots[i][2], std::to_string(i + 1));
}

TEST_F(RigTest, ShotIsACameraJpegOurParserReads) {
  options_.width = 800;
  options_.height = 600;
  options_.make = "ACME";
  options_.model = "SURVEYCAM 9";
  start();
  sendTrigger({0});
  ASSERT_TRUE(waitForShots(1));
  const auto triggers = rowsOf(options_.logPath, "trigger");
  ASSERT_EQ(triggers.size(), 1u);
  const std::string cameraTime = triggers[0][4];  // "YYYY:MM:DD HH:MM:SS.mmm"
  ASSERT_EQ(cameraTime.size(), 23u);

  std::vector<std::uint8_t> file = cardFile("DSC_0001.JPG");
  ASSERT_GT(file.size(), 1000u);
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(file[1], 0xD8);
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
  // Camera files begin with the Exif segment, not JFIF.
  EXPECT_EQ(file[3], 0xE1);
  EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 14), "MM");

  ASSERT_EQ(jpeg::scanJpegBuffer(file.data(), static_cast<int>(file.size())), 1);
  EXPECT_STREQ(jpeg::PictureInfo.make, "ACME");
  EXPECT_STREQ(jpeg::PictureInfo.model, "SURVEYCAM 9");
  EXPECT_EQ(jpeg::PictureInfo.width, 800);
  EXPECT_EQ(jpeg::PictureInfo.height, 600);
  EXPECT_EQ(std::string(jpeg::PictureInfo.dateTimeOriginal), cameraTime.substr(0, 19));
  ASSERT_NE(jpeg::PictureInfo.dateTimeOriginalPos, nullptr);
  ASSERT_NE(jpeg::PictureInfo.subSecTimeOriginalPos, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(jpeg::PictureInfo.subSecTimeOriginalPos), 3),
            cameraTime.substr(20, 3));
  ASSERT_NE(jpeg::PictureInfo.thumbnailStart, nullptr);
  ASSERT_GT(jpeg::PictureInfo.thumbnailLength, 4u);
  EXPECT_EQ(jpeg::PictureInfo.thumbnailStart[0], 0xFF);
  EXPECT_EQ(jpeg::PictureInfo.thumbnailStart[1], 0xD8);
  jpeg::releaseJpegSegments();
}

TEST_F(RigTest, ExiftoolReadsTheBigEndianExifAndTheThumbnail) {
  if (!rigtest::haveExiftool()) GTEST_SKIP() << "exiftool not installed";
  start();
  sendTrigger({0});
  ASSERT_TRUE(waitForShots(1));
  const std::string cameraTime = rowsOf(options_.logPath, "trigger")[0][4];
  const std::string path = (std::filesystem::path(options_.cardDir) / "DSC_0001.JPG").string();
  std::map<std::string, std::string> tags;
  ASSERT_TRUE(rigtest::exiftoolTags(path,
                                    "-ExifByteOrder -Make -Model -DateTimeOriginal "
                                    "-SubSecTimeOriginal -ThumbnailLength -ImageWidth -Error "
                                    "-Warning",
                                    &tags));
  EXPECT_EQ(tags["ExifByteOrder"], "Big-endian (Motorola, MM)");
  EXPECT_EQ(tags["Make"], "SKERROW");
  EXPECT_EQ(tags["Model"], "SIMCAM D1");
  EXPECT_EQ(tags["DateTimeOriginal"], cameraTime.substr(0, 19));
  EXPECT_EQ(tags["SubSecTimeOriginal"], cameraTime.substr(20, 3));
  EXPECT_EQ(tags["ImageWidth"], "640");
  EXPECT_FALSE(tags["ThumbnailLength"].empty());
  EXPECT_EQ(tags.count("Error"), 0u) << tags["Error"];
  EXPECT_EQ(tags.count("Warning"), 0u) << tags["Warning"];
}

TEST_F(RigTest, CameraClockIsTheHostClockPlusTheOffset) {
  options_.clockOffsetMs = -3 * 3600 * 1000 - 1234;
  start();
  sendTrigger({0});
  ASSERT_TRUE(waitForShots(1));
  const auto triggers = rowsOf(options_.logPath, "trigger");
  ASSERT_EQ(triggers.size(), 1u);
  const long long host = testing_support::timeTextMs(triggers[0][0]);
  const long long camera = testing_support::timeTextMs(triggers[0][4]);
  ASSERT_GT(host, 0);
  ASSERT_GT(camera, 0);
  EXPECT_EQ(camera - host, options_.clockOffsetMs);
}

TEST_F(RigTest, ReplayedShotsAreTheGivenFilesInNameOrderRoundAndRound) {
  TempDir given;
  given.write("b.nef", "second");
  given.write("a.jpg", "first");
  given.write(".hidden", "never");
  given.write("c.jpg.tmp", "never");
  options_.replayDir = given.path().string();
  options_.triggerOverTcp = true;
  start();
  // The trigger line served over RFC 2217 this time, through the driver.
  triggerSerialPort port(rig_->triggerName().c_str());
  ASSERT_TRUE(port.isOpen);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(port.sendTrigger());
  ASSERT_TRUE(waitForShots(3));
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir),
            (std::vector<std::string>{"DSC_0001.jpg", "DSC_0002.nef", "DSC_0003.jpg"}));
  const auto text = [](const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(text(cardFile("DSC_0001.jpg")), "first");
  EXPECT_EQ(text(cardFile("DSC_0002.nef")), "second");
  EXPECT_EQ(text(cardFile("DSC_0003.jpg")), "first");
  const auto shots = rowsOf(options_.logPath, "shot");
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_EQ(shots[1][3], "DSC_0002.nef");
}

TEST_F(RigTest, EmptyReplayFolderFailsTheStart) {
  TempDir empty;
  options_.replayDir = empty.path().string();
  rig::Rig simulated(options_);
  EXPECT_FALSE(simulated.start());
}

TEST_F(RigTest, LogHasTheHeaderAndWellFormedRows) {
  start();
  sendTrigger({0});
  ASSERT_TRUE(waitForShots(1));
  const std::string text = testing_support::readFile(options_.logPath);
  EXPECT_EQ(text.substr(0, text.find('\n')), "utc,event,frame,card_name,camera_time,rts");
  for (const auto& row : rigtest::logRows(options_.logPath)) {
    ASSERT_EQ(row.size(), 6u);
    // 2024-05-01T12:00:00.123456Z
    ASSERT_EQ(row[0].size(), 27u) << row[0];
    EXPECT_EQ(row[0][10], 'T');
    EXPECT_EQ(row[0][19], '.');
    EXPECT_EQ(row[0].back(), 'Z');
  }
}

TEST_F(RigTest, RtsChangesOnTheLaserLineAreLogged) {
  start();
  triggerSerialPort laser(rig_->laserName().c_str());
  ASSERT_TRUE(laser.isOpen);
  ASSERT_TRUE(laser.setRTS(true));
  ASSERT_TRUE(laser.setRTS(false));
  ASSERT_TRUE(laser.setRTS(true));
  std::vector<std::vector<std::string>> rows;
  ASSERT_TRUE(waitFor([&] {
    rows = rowsOf(options_.logPath, "rts");
    return rows.size() >= 4;  // the driver's open holds RTS inactive first
  }));
  std::vector<std::string> states;
  for (const auto& row : rows) {
    EXPECT_EQ(row[2], "");
    states.push_back(row[5]);
  }
  EXPECT_EQ(states, (std::vector<std::string>{"off", "on", "off", "on"}));
  EXPECT_TRUE(rowsOf(options_.logPath, "trigger").empty());
}

TEST_F(RigTest, StopDropsShotsNotYetDue) {
  options_.lagMs = 60000;
  start();
  sendTrigger({0});
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "trigger").size() == 1; }));
  rig_->stop();
  EXPECT_TRUE(rigtest::cardFiles(options_.cardDir).empty());
  EXPECT_EQ(rig_->shotsWritten(), 0u);
}

TEST_F(RigTest, StalledCameraHoldsShotsBackAndWritesThemInOrderOnResume) {
  start();
  rig_->setStalled(true);
  sendTrigger({0, 0});
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "trigger").size() == 2; }));
  rig_->setStalled(true);  // no second stall line
  sendTrigger({0});
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "trigger").size() == 3; }));
  EXPECT_TRUE(rigtest::cardFiles(options_.cardDir).empty());

  rig_->setStalled(false);
  ASSERT_TRUE(waitForShots(3));
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir),
            (std::vector<std::string>{"DSC_0001.JPG", "DSC_0002.JPG", "DSC_0003.JPG"}));
  std::vector<std::string> events;
  for (const auto& row : rigtest::logRows(options_.logPath)) events.push_back(row[1]);
  EXPECT_EQ(events, (std::vector<std::string>{"stall", "trigger", "trigger", "trigger", "resume",
                                              "shot", "shot", "shot"}));
}

TEST_F(RigTest, StopRemovesTheTerminalLink) {
  start();
  EXPECT_TRUE(std::filesystem::is_symlink(options_.triggerLink));
  rig_.reset();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options_.triggerLink)));
}

}  // namespace
