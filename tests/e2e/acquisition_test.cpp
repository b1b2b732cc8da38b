// Whole acquisitions on the simulated rig: skerrow-rig plays the trigger
// line, the laser line and the camera body (a rendered JPEG on the card for
// every trigger byte), the stand-in module reads the card, and the server is
// driven with skerrowctl as an operator drives it. Every check is made from
// what the run left behind: the server log, the rig's log, the image logs
// and the saved files as exiftool reads them.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/acquisition_fixture.h"

namespace e2e {
namespace {

// The one acquisition with the module completing every command inside the
// call; every other run has it complete on later processing calls.
TEST_F(e2eAcquisition, EachTriggerIsOneImageWhileLasersIntervalAndPrefixChange) {
  std::filesystem::create_directory(dir_.path() / "dive1");
  std::filesystem::create_directory(dir_.path() / "dive2");
  ASSERT_NO_FATAL_FAILURE(
      start("fileprefix=dive1/A_\ninterval=100\n", kRigOptions, {"SKERROW_CAM_ASYNC=0"}));

  expectCtl({"connect"}, "connect: 1");
  const long long lasersOn = nowMs();
  expectCtl({"lasers", "1"}, "lasers: 1");
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_TRUE(waitForRigTriggers(6)) << server_->out().text();
  expectCtl({"prefix", "dive2/B_"}, "prefix: dive2/B_");
  expectCtl({"interval", "600"}, "interval: 600 ms");
  const std::size_t atChange = rigTriggers();
  ASSERT_TRUE(waitForRigTriggers(atChange + 3)) << server_->out().text();
  expectCtl({"acquire", "0"}, "acquire: 0");
  const long long lasersOff = nowMs();
  expectCtl({"lasers", "0"}, "lasers: 0");
  ASSERT_TRUE(waitUntilAllSaved()) << server_->out().text();
  ASSERT_TRUE(waitUntil([&] {
    const std::vector<RigRow> rts = rig_->rows("rts");
    return !rts.empty() && rts.back().rts == "off" && timeTextMs(rts.back().utc) >= lasersOff;
  }));
  const std::size_t triggers = rigTriggers();
  expectCtl({"triggers"}, "triggers: " + std::to_string(triggers));
  expectCtl({"images"}, "images: " + std::to_string(triggers));
  ASSERT_NO_FATAL_FAILURE(stopBoth());

  expectOneImagePerTrigger({"dive1/A_FileLog.log", "dive2/B_FileLog.log"});
  std::set<std::string> files = imagesIn("dive1");
  files.merge(imagesIn("dive2"));
  const std::vector<std::string> saved = savedNames(log());
  EXPECT_EQ(std::set<std::string>(saved.begin(), saved.end()), files);

  // The prefix: a pass that began after the change was logged takes the
  // new one; the names switch once, from the old prefix to the new.
  const std::vector<LogLine> lines = log();
  const std::vector<TriggerPass> passes = triggerPasses(lines);
  const std::size_t prefixSet =
      entryIndex(lines, "processCommandMessage(): Set File prefix to: dive2/B_");
  ASSERT_LT(prefixSet, lines.size());
  std::vector<std::string> prefixes;
  for (const TriggerPass& pass : passes) {
    const std::string prefix = pass.name.substr(0, pass.name.find('_') + 1);
    if (pass.line > prefixSet) {
      EXPECT_EQ("dive2/B_", prefix) << pass.name;
    }
    prefixes.push_back(prefix);
  }
  EXPECT_EQ(folded(prefixes), (std::vector<std::string>{"dive1/A_", "dive2/B_"}));

  // The interval: the timer armed while the change arrived runs out with
  // the old one; every pass after that one waits the new interval.
  const std::size_t intervalSet =
      entryIndex(lines, "processCommandMessage(): Interval set to 600.");
  ASSERT_LT(intervalSet, lines.size());
  std::vector<double> before;
  bool first = true;
  int after = 0;
  for (std::size_t i = 1; i < passes.size(); ++i) {
    if (passes[i].line < intervalSet) {
      before.push_back(passes[i].spacingMs);
      EXPECT_GE(passes[i].spacingMs, 100) << "pass " << i;
    } else if (first) {
      first = false;
    } else {
      EXPECT_GE(passes[i].spacingMs, 600) << "pass " << i;
      ++after;
    }
  }
  EXPECT_GE(after, 1);
  ASSERT_FALSE(before.empty());
  std::sort(before.begin(), before.end());
  EXPECT_LT(before[before.size() / 2], 600) << "the old interval was in force before the change";

  // The laser line: lowered at start, raised after the command (and kept
  // up, raised again on every pass), lowered after the command.
  std::vector<std::string> states;
  for (const RigRow& row : rig_->rows("rts")) states.push_back(row.rts);
  EXPECT_EQ(folded(states), (std::vector<std::string>{"off", "on", "off"}));
  for (const RigRow& row : rig_->rows("rts")) {
    if (row.rts == "on") {
      EXPECT_GE(timeTextMs(row.utc), lasersOn) << row.utc;
    }
  }
  EXPECT_EQ(1, countText(lines, "TriggerWorkerThread(): Changed state of laser power to 1."));
  EXPECT_EQ(1, countText(lines, "TriggerWorkerThread(): Changed state of laser power to 0."));
}

// The rig's camera stops writing shots: the fifteen names wait in the queue,
// the trigger thread skips its triggers with the queue-full line, and once
// the shots arrive every one gets its own name and triggering goes on.
TEST_F(e2eAcquisition, StalledCameraFillsTheNameQueueAndRecoversWithoutMispairing) {
  std::filesystem::create_directory(dir_.path() / "dive");
  ASSERT_NO_FATAL_FAILURE(start("fileprefix=dive/S_\ninterval=50\n", kRigOptions));
  ASSERT_TRUE(rig_->stall());
  ASSERT_TRUE(waitUntil([&] { return rig_->rows("stall").size() == 1; }));
  expectCtl({"acquire", "1"}, "acquire: 1");
  const auto skippedPasses = [](const std::vector<LogLine>& lines) {
    int skipped = 0;
    for (const TriggerPass& pass : triggerPasses(lines)) skipped += pass.queued ? 0 : 1;
    return skipped;
  };
  ASSERT_TRUE(server_->out().waitUntil([&](const std::string& text) {
    return skippedPasses(parseLog(withoutProgressMarks(text))) >= 3;
  })) << server_->out().text();
  // Fifteen names wait, so fifteen triggers went out and no more.
  expectCtl({"triggers"}, "triggers: 15");
  EXPECT_EQ(15u, rigTriggers());
  EXPECT_TRUE(savedNames(log()).empty());

  // Each download takes several polling steps of 10 ms with a module that
  // completes later, longer than 50 ms: triggers slow down before the
  // camera goes on, so the queue drains and the fault stays one.
  expectCtl({"interval", "1000"}, "interval: 1000 ms");
  ASSERT_TRUE(rig_->resume());
  ASSERT_TRUE(waitForRigTriggers(18)) << server_->out().text();
  expectCtl({"acquire", "0"}, "acquire: 0");
  ASSERT_TRUE(waitUntilAllSaved()) << server_->out().text();
  ASSERT_NO_FATAL_FAILURE(stopBoth());

  expectOneImagePerTrigger({"dive/S_FileLog.log"});
  // The full queue is one fault: its line once, then a summary of the
  // other skipped passes when the queue takes names again.
  const int skipped = skippedPasses(log());
  EXPECT_GE(skipped, 3);
  const std::string full = "TriggerWorkerThread(): ERROR Cannot Enqueue filename. Queue is full.";
  EXPECT_EQ(1, countText(log(), full));
  int summaries = 0;
  for (const LogLine& line : log()) {
    if (line.text.rfind(full + " (repeated ", 0) == 0) {
      ++summaries;
      EXPECT_EQ(0u, line.text.find(full + " (repeated " + std::to_string(skipped - 1) + " times "))
          << line.text;
    }
  }
  EXPECT_EQ(1, summaries);
}

// The camera is unplugged while a shot is coming down (the module stops the
// delivery and drops the camera). The shot stays on the card, and so do
// those of the triggers that follow; reconnected by command, the server
// fetches them all, each under its own trigger's name.
TEST_F(e2eAcquisition, CameraUnpluggedMidDownloadLosesNothingOnceReconnected) {
  std::filesystem::create_directory(dir_.path() / "dive");
  std::vector<std::string> rigOptions = kRigOptions;
  // A textured picture, so that every shot spans several chunks.
  rigOptions.insert(rigOptions.end(), {"--noise", "60"});
  ASSERT_NO_FATAL_FAILURE(
      start("fileprefix=dive/U_\ninterval=150\n", rigOptions,
            {"SKERROW_CAM_CHUNK=4096", "SKERROW_CAM_UNPLUG_FILE=" + dir_.file("unplug-now")}));
  dir_.write("unplug-now", "");  // the first shot's download is cut halfway
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_TRUE(server_->out().waitFor("] CameraWorkerThread(): Error: failed download image.\n"))
      << server_->out().text();
  ASSERT_TRUE(waitForRigTriggers(4)) << server_->out().text();

  expectCtl({"connect", "0"}, "connect: 0");
  expectCtl({"connect", "1"}, "connect: 1");
  const std::size_t atReconnect = rigTriggers();
  ASSERT_TRUE(waitForRigTriggers(atReconnect + 3)) << server_->out().text();
  expectCtl({"acquire", "0"}, "acquire: 0");
  ASSERT_TRUE(waitUntilAllSaved()) << server_->out().text();
  ASSERT_NO_FATAL_FAILURE(stopBoth());

  expectOneImagePerTrigger({"dive/U_FileLog.log"});
  const std::vector<LogLine> lines = log();
  const std::vector<TriggerPass> passes = triggerPasses(lines);
  ASSERT_FALSE(passes.empty());
  EXPECT_EQ(1, countText(lines, "CameraWorkerThread(): Image name " + passes[0].name +
                                    " kept for the next image."));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "card")) << "shots left on the card";
}

}  // namespace
}  // namespace e2e
