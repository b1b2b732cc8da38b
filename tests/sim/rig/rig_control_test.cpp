// The rig's control commands, given through its FIFO as tests and operators
// give them: lines unplugged and back under the same name, a shot the camera
// cannot deliver, shots held while the card folder is away, and commands
// that are refused.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial.h"
#include "platform/socket.h"
#include "rig/rig.h"
#include "sim/rig/rig_fixture.h"
#include "sim/rig/rig_wait.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using rigtest::rowsOf;
using rigtest::waitFor;
using testing_support::TempDir;

class RigControlTest : public rigtest::RigFixture {
 protected:
  void SetUp() override {
    RigFixture::SetUp();
    options_.controlPath = dir_.file("control");
  }

  // Writes one line to the control FIFO, as `echo LINE > control` does.
  void command(const std::string& line) {
    const int fifo = ::open(options_.controlPath.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    const std::string text = line + "\n";
    EXPECT_EQ(static_cast<ssize_t>(text.size()), ::write(fifo, text.data(), text.size()));
    ::close(fifo);
  }

  std::unique_ptr<platform::SerialLine> openLine(const std::string& name) {
    std::unique_ptr<platform::SerialLine> line = platform::createSerialLine(name.c_str());
    if (!line->open()) return nullptr;
    return line;
  }

  // The events of the log in order, those of other kinds left out.
  std::vector<std::string> events(const std::vector<std::string>& kinds) {
    std::vector<std::string> found;
    for (const auto& row : rigtest::logRows(options_.logPath)) {
      for (const std::string& kind : kinds)
        if (row[1] == kind) found.push_back(row[1] + " " + row[3]);
    }
    return found;
  }
};

TEST_F(RigControlTest, UnpluggedLineGoesAwayAndComesBackUnderItsName) {
  struct Case {
    const char* name;
    bool triggerOverTcp;
    const char* command;
    const char* line;  // as the unplug and replug rows name it
  };
  const Case cases[] = {
      {"trigger terminal", false, "unplug-trigger 2", "trigger"},
      {"trigger port", true, "unplug-trigger 2", "trigger"},
      {"laser port", false, "unplug-laser 2", "laser"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig_.reset();
    options_.logPath = dir_.file(std::string(c.name) + ".csv");
    options_.cardDir = dir_.file(std::string(c.name) + " card");
    options_.triggerOverTcp = c.triggerOverTcp;
    ASSERT_NO_FATAL_FAILURE(start());
    const bool laser = std::string(c.line) == "laser";
    const std::string name = laser ? rig_->laserName() : rig_->triggerName();
    std::unique_ptr<platform::SerialLine> before = openLine(name);
    ASSERT_NE(before, nullptr);

    command(c.command);
    ASSERT_TRUE(waitFor([&] { return !rowsOf(options_.logPath, "unplug").empty(); }));
    if (!c.triggerOverTcp && !laser) {
      // The server's open terminal sees the hang-up.
      EXPECT_FALSE(before->transmitByte(0));
    }
    // While away the line cannot be opened; an open that works must come
    // after the line is back.
    const bool backAlready = !rowsOf(options_.logPath, "replug").empty();
    std::unique_ptr<platform::SerialLine> during = openLine(name);
    EXPECT_TRUE(during == nullptr || backAlready);
    during.reset();
    before.reset();

    ASSERT_TRUE(waitFor([&] { return !rowsOf(options_.logPath, "replug").empty(); }));
    std::unique_ptr<platform::SerialLine> after = openLine(name);
    ASSERT_NE(after, nullptr);
    if (laser) {
      ASSERT_TRUE(after->setRts(true));
      ASSERT_TRUE(waitFor([&] { return !rowsOf(options_.logPath, "rts").empty(); }));
    } else {
      ASSERT_TRUE(after->transmitByte(0));
      ASSERT_TRUE(waitFor([&] { return !rowsOf(options_.logPath, "shot").empty(); }));
    }
    after.reset();
    const std::string away = std::string(c.line);
    EXPECT_EQ(events({"control", "unplug", "replug"}),
              (std::vector<std::string>{std::string("control ") + c.command, "unplug " + away,
                                        "replug " + away}));
    // Only the trigger after the replug was taken.
    EXPECT_EQ(rowsOf(options_.logPath, "trigger").size(), laser ? 0u : 1u);
  }
}

TEST_F(RigControlTest, UndeliverableMarksOnlyTheNextShot) {
  start();
  command("undeliverable");
  ASSERT_TRUE(waitFor([&] { return !rowsOf(options_.logPath, "control").empty(); }));
  std::unique_ptr<platform::SerialLine> line = openLine(rig_->triggerName());
  ASSERT_NE(line, nullptr);
  ASSERT_TRUE(line->transmitByte(0));
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "shot").size() == 1; }));
  ASSERT_TRUE(line->transmitByte(0));
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "shot").size() == 2; }));
  EXPECT_EQ(
      rigtest::cardFiles(options_.cardDir),
      (std::vector<std::string>{".DSC_0001.JPG.undeliverable", "DSC_0001.JPG", "DSC_0002.JPG"}));
  const auto marked = rowsOf(options_.logPath, "undeliverable");
  ASSERT_EQ(marked.size(), 1u);
  EXPECT_EQ(marked[0][2], "1");
  EXPECT_EQ(marked[0][3], "DSC_0001.JPG");
}

TEST_F(RigControlTest, ShotsWaitWhileTheCardFolderIsAwayThenFollowInOrder) {
  start();
  const std::string away = dir_.file("card.away");
  fs::rename(options_.cardDir, away);
  std::unique_ptr<platform::SerialLine> line = openLine(rig_->triggerName());
  ASSERT_NE(line, nullptr);
  ASSERT_TRUE(line->transmitByte(0));
  ASSERT_TRUE(line->transmitByte(0));
  ASSERT_TRUE(waitFor([&] {
    return rowsOf(options_.logPath, "trigger").size() == 2 &&
           !rowsOf(options_.logPath, "card-gone").empty();
  }));
  EXPECT_FALSE(fs::exists(options_.cardDir)) << "the rig made the card folder again";
  EXPECT_TRUE(fs::is_empty(away));

  fs::rename(away, options_.cardDir);
  ASSERT_TRUE(waitFor([&] { return rowsOf(options_.logPath, "shot").size() == 2; }));
  EXPECT_EQ(rigtest::cardFiles(options_.cardDir),
            (std::vector<std::string>{"DSC_0001.JPG", "DSC_0002.JPG"}));
  EXPECT_EQ(events({"card-gone", "card-back", "shot", "error"}),
            (std::vector<std::string>{"card-gone ", "card-back ", "shot DSC_0001.JPG",
                                      "shot DSC_0002.JPG"}));
}

TEST_F(RigControlTest, CommandsComeThroughTheFifoAndOthersAreRefused) {
  start();
  EXPECT_TRUE(fs::is_fifo(options_.controlPath));
  command("stall");
  command("unplug-laser 0");
  command("bogus, \x01x");
  command("");
  command(std::string(300, 'x'));
  command("resume\r");
  ASSERT_TRUE(waitFor([&] { return !rowsOf(options_.logPath, "resume").empty(); }));
  EXPECT_EQ(events({"control", "refused", "stall", "resume"}),
            (std::vector<std::string>{"control stall", "stall ", "refused unplug-laser 0",
                                      "refused bogus? ?x", "refused " + std::string(64, 'x'),
                                      "control resume", "resume "}));
  rig_->stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(options_.controlPath)));
}

TEST_F(RigControlTest, AFileInThePlaceOfTheFifoIsNeverReplaced) {
  dir_.write("control", "keep me");
  rig::Rig simulated(options_);
  EXPECT_FALSE(simulated.start());
  simulated.stop();
  EXPECT_EQ(testing_support::readFile(options_.controlPath), "keep me");
}

}  // namespace
