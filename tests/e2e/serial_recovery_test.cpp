// Serial lines that go away during a run and come back, and an interval
// corrected during a long wait, on the simulated rig: the rig unplugs a line
// on command, and every check is made from the server log and the rig's log.
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/acquisition_fixture.h"

namespace e2e {
namespace {

class e2eSerialRecovery : public e2eAcquisition {
 protected:
  void start(const std::string& cameraSection) {
    std::filesystem::create_directory(dir_.path() / "images");
    e2eAcquisition::start("fileprefix=images/R_\n" + cameraSection, {"--lag-ms", "30"});
  }

  bool logged(const std::string& head) const {
    return server_->out().waitUntil(
        [&](const std::string& text) { return text.find("] " + head) != std::string::npos; });
  }

  // The line goes away for five seconds while the server triggers.
  void unplug(const std::string& line) {
    ASSERT_TRUE(waitUntil([&] { return rigTriggers() >= 3; })) << server_->out().text();
    ASSERT_TRUE(rig_->control("unplug-" + line + " 5"));
    ASSERT_TRUE(waitUntil([&] { return rig_->lineRows(line).size() >= 2; }))
        << "the rig did not serve the " << line << " line again";
  }

  // Stops acquisition, waits for every shot, and stops both programs.
  void finish() {
    expectCtl({"acquire", "0"}, "acquire: 0");
    ASSERT_TRUE(waitUntil([&] { return savedNames(log()).size() >= rigTriggers(); }))
        << server_->out().text();
    ASSERT_TRUE(server_->sendSignal(SIGINT));
    ExitStatus status;
    ASSERT_TRUE(server_->waitForExit(&status)) << server_->out().text();
    EXPECT_EQ(0, status.code);
    ASSERT_TRUE(server_->out().waitForEnd());
    EXPECT_TRUE(rig_->stop());
  }

  // Every name queued (and not withdrawn) went with one trigger the rig saw
  // and is the name of its image, in order.
  void expectPairing() {
    std::vector<std::string> queued;
    for (const LogLine& line : log()) {
      const std::string next = "TriggerWorkerThread(): Next File: ";
      if (line.text.rfind(next, 0) == 0) queued.push_back(line.text.substr(next.size()));
      if (line.text == "TriggerWorkerThread(): ERROR Trigger not sent, image name withdrawn.")
        queued.pop_back();
    }
    const std::vector<std::string> saved = savedNames(log());
    EXPECT_EQ(queued.size(), rigTriggers());
    EXPECT_EQ(queued, saved);
  }

  // Rig triggers logged between the line's unplug and replug rows.
  std::size_t triggersWhileAway(const std::string& line) const {
    const std::vector<RigRow> rows = rig_->lineRows(line);
    std::size_t count = 0;
    for (const RigRow& trigger : rig_->rows("trigger")) {
      const long long at = timeTextMs(trigger.utc);
      if (at > timeTextMs(rows.at(0).utc) && at < timeTextMs(rows.at(1).utc)) ++count;
    }
    return count;
  }
};

TEST_F(e2eSerialRecovery, TriggerLineUnpluggedComesBackAndEveryImageKeepsItsName) {
  ASSERT_NO_FATAL_FAILURE(start("interval=200\n"));
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_NO_FATAL_FAILURE(unplug("trigger"));
  ASSERT_TRUE(logged("TriggerWorkerThread(): Trigger serial port back after"))
      << server_->out().text();
  const std::size_t atReturn = rigTriggers();
  ASSERT_TRUE(waitUntil([&] { return rigTriggers() >= atReturn + 3; })) << server_->out().text();
  ASSERT_NO_FATAL_FAILURE(finish());

  EXPECT_EQ(0u, triggersWhileAway("trigger"));
  expectPairing();
  EXPECT_EQ(1, countText(log(),
                         "TriggerWorkerThread(): ERROR Trigger serial port lost; "
                         "reopening it every 2 s."));
}

// Triggering goes on while the laser line is away; once back, the lasers,
// still wanted on, are raised again.
TEST_F(e2eSerialRecovery, LaserLineUnpluggedComesBackRaised) {
  ASSERT_NO_FATAL_FAILURE(start("interval=200\n"));
  expectCtl({"lasers", "1"}, "lasers: 1");
  expectCtl({"acquire", "1"}, "acquire: 1");
  ASSERT_NO_FATAL_FAILURE(unplug("laser"));
  ASSERT_TRUE(logged("TriggerWorkerThread(): Laser power serial port back after"))
      << server_->out().text();
  const long long replug = timeTextMs(rig_->lineRows("laser").at(1).utc);
  ASSERT_TRUE(waitUntil([&] {
    for (const RigRow& row : rig_->rows("rts"))
      if (row.rts == "on" && timeTextMs(row.utc) > replug) return true;
    return false;
  })) << "RTS was not raised again";
  ASSERT_NO_FATAL_FAILURE(finish());

  EXPECT_GT(triggersWhileAway("laser"), 0u);
  expectPairing();
  EXPECT_EQ(1, countText(log(),
                         "TriggerWorkerThread(): ERROR Laser power serial port lost; "
                         "reopening it every 2 s."));
  EXPECT_EQ(2, countText(log(), "TriggerWorkerThread(): Changed state of laser power to 1."));
}

// "interval 60000" by mistake, corrected by "interval 200": the trigger
// thread does not sit out the minute.
TEST_F(e2eSerialRecovery, IntervalCorrectedDuringALongWaitTakesEffectAtOnce) {
  ASSERT_NO_FATAL_FAILURE(start("interval=60000\n"));
  expectCtl({"acquire", "1"}, "acquire: 1");
  expectCtl({"interval", "200"}, "interval: 200 ms");
  EXPECT_TRUE(waitUntil([&] { return rigTriggers() >= 1; }))
      << "no trigger within the deadline, well short of the minute";
  ASSERT_NO_FATAL_FAILURE(finish());
  expectPairing();
}

}  // namespace
}  // namespace e2e
