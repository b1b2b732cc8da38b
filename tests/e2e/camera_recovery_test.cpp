// The camera recovers by itself, and one bad shot never stops the rest: the
// whole server on the simulated rig, with the stand-in module completing on
// later processing calls and refusing loudly any command on an object that
// was closed or removed. Pairing is judged from the rig's log against the
// saved files' Exif times as exiftool reads them.
#include <signal.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/acquisition_fixture.h"

namespace e2e {
namespace {

const char* const kLostLine =
    "CameraWorkerThread(): Camera lost; trying to open it again every 2 s.";
const char* const kBackLine = "CameraWorkerThread(): Camera back after ";

class e2eCameraRecovery : public e2eAcquisition {
 protected:
  // interval: ms between triggers; the camera must keep up with it while
  // it is there, so that names remain free for the shots taken meanwhile.
  void start(const std::string& prefix, int interval) {
    std::filesystem::create_directory(dir_.path() / "dive");
    e2eAcquisition::start(
        "interval=" + std::to_string(interval) + "\nfileprefix=dive/" + prefix + "\n", kRigOptions,
        {"SKERROW_CAM_STRICT=1"});
  }

  std::size_t saved() const { return savedNames(log()).size(); }
  std::size_t triggers() const { return rig_->rows("trigger").size(); }

  bool waitForSaved(std::size_t count) {
    return waitUntil([&] { return saved() >= count; });
  }
  bool waitForTriggers(std::size_t count) {
    return waitUntil([&] { return triggers() >= count; });
  }

  void stopAcquisition() { expectCtl({"acquire", "0"}, "acquire: 0"); }

  void endRun() {
    ASSERT_TRUE(server_->sendSignal(SIGINT));
    ExitStatus status;
    ASSERT_TRUE(server_->waitForExit(&status)) << server_->out().text();
    EXPECT_EQ(0, status.code);
    ASSERT_TRUE(server_->out().waitForEnd());
    EXPECT_TRUE(rig_->stop());
    // No command reached a closed or removed object.
    EXPECT_EQ(std::string::npos, server_->err().text().find("refused")) << server_->err().text();
  }

  // Every saved image is the shot of the trigger whose name it carries (its
  // camera time is the one the rig wrote for that trigger) and its capture
  // time is the one in its name. Returns the trigger names without an image.
  std::vector<std::string> expectPairedAndListMissing() {
    std::vector<std::string> queued;
    for (const TriggerPass& pass : triggerPasses(log()))
      if (pass.queued) queued.push_back(pass.name);
    const std::vector<RigRow> rigTriggers = rig_->rows("trigger");
    EXPECT_EQ(queued.size(), rigTriggers.size()) << "names queued and trigger bytes the rig saw";
    const std::vector<std::string> names = savedNames(log());
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(dir_.file(name));
    std::map<std::string, ExifTimes> exif;
    std::string error;
    EXPECT_TRUE(readExifTimes(paths, dir_.path().string(), &exif, &error)) << error;
    std::vector<std::string> missing;
    std::size_t next = 0;
    for (std::size_t i = 0; i < queued.size() && i < rigTriggers.size(); ++i) {
      if (next >= names.size() || names[next] != queued[i] + ".jpg") {
        missing.push_back(queued[i]);
        continue;
      }
      const std::string path = paths[next++];
      EXPECT_EQ(triggerTimeOfName(queued[i]), exif[path].original) << path;
      EXPECT_EQ(rigTriggers[i].cameraTime, exif[path].digitized)
          << path << " is not the shot of rig frame " << rigTriggers[i].frame;
    }
    EXPECT_EQ(names.size(), next) << "images saved out of trigger order or twice";
    return missing;
  }
};

TEST_F(e2eCameraRecovery, CameraUnpluggedAndPluggedBackWithNoCommandLosesNoShot) {
  ASSERT_NO_FATAL_FAILURE(start("R_", 600));
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_TRUE(waitForSaved(2)) << server_->out().text();

  ASSERT_TRUE(rig_->unplugCamera());
  ASSERT_TRUE(server_->out().waitFor(std::string("] ") + kLostLine + "\n"))
      << server_->out().text();
  // Triggering goes on; the rig holds the shots until the camera is back.
  const std::size_t atLoss = triggers();
  ASSERT_TRUE(waitForTriggers(atLoss + 3)) << server_->out().text();
  ASSERT_TRUE(rig_->plugCamera());
  ASSERT_TRUE(server_->out().waitFor(std::string("] ") + kBackLine)) << server_->out().text();
  ASSERT_TRUE(waitForTriggers(triggers() + 2)) << server_->out().text();
  stopAcquisition();
  ASSERT_TRUE(waitUntil([&] { return saved() >= triggers(); })) << server_->out().text();
  ASSERT_NO_FATAL_FAILURE(endRun());

  EXPECT_EQ(std::vector<std::string>{}, expectPairedAndListMissing());
  const std::vector<LogLine> lines = log();
  EXPECT_EQ(1, countText(lines, kLostLine));
  // One return line, and no line of the camera thread between the two.
  std::size_t lost = lines.size(), back = lines.size();
  int returns = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].text == kLostLine) lost = i;
    if (lines[i].text.rfind(kBackLine, 0) == 0) {
      back = i;
      ++returns;
    }
  }
  EXPECT_EQ(1, returns);
  ASSERT_LT(lost, back);
  for (std::size_t i = lost + 1; i < back; ++i)
    EXPECT_NE(0u, lines[i].text.rfind("CameraWorkerThread()", 0)) << lines[i].text;
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "card")) << "shots left on the card";
}

TEST_F(e2eCameraRecovery, UndeliverableShotIsPassedOverAndEveryGoodShotKeepsItsName) {
  ASSERT_NO_FATAL_FAILURE(start("B_", 150));
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_TRUE(waitForSaved(2)) << server_->out().text();
  ASSERT_TRUE(rig_->control("undeliverable"));
  ASSERT_TRUE(waitUntil([&] { return !rig_->rows("undeliverable").empty(); }));
  const RigRow bad = rig_->rows("undeliverable").front();
  ASSERT_TRUE(waitForTriggers(triggers() + 4)) << server_->out().text();
  stopAcquisition();
  ASSERT_TRUE(waitUntil([&] { return saved() + 1 >= triggers(); })) << server_->out().text();
  ASSERT_NO_FATAL_FAILURE(endRun());

  // Only the bad shot's trigger has no image; it is still on the card.
  const std::vector<std::string> missing = expectPairedAndListMissing();
  ASSERT_EQ(1u, missing.size());
  const std::vector<RigRow> rigTriggers = rig_->rows("trigger");
  const std::size_t badFrame = std::stoul(bad.frame);
  ASSERT_LE(badFrame, rigTriggers.size());
  EXPECT_EQ(bad.cardName, rigTriggers[badFrame - 1].cardName);
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "card" / bad.cardName)) << bad.cardName;

  const std::vector<LogLine> lines = log();
  int passed = 0;
  for (const LogLine& line : lines)
    if (line.text.find("not downloaded after 3 tries; passed over, it stays on the camera card.") !=
        std::string::npos)
      ++passed;
  EXPECT_EQ(1, passed) << server_->out().text();
  EXPECT_EQ(1, countText(lines, "CameraWorkerThread(): Item passed over; image name " + missing[0] +
                                    " withdrawn, the next image takes the next name."));
  EXPECT_EQ(1, countText(lines, "CameraWorkerThread(): Error: failed download image."));
}

}  // namespace
}  // namespace e2e
