// The road of a shot, end to end: the real server with the stand-in camera
// module, a card folder and skerrowctl. Shots are dropped on the card as a
// camera writes them; acquisition stays off, so no trigger names exist and
// every shot gets the generic name.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/ctl_run.h"
#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/server_log.h"
#include "support/temp_dir.h"

namespace e2e {
namespace {

using testing_support::readFile;
using testing_support::TempDir;

const char* const kGenericLine =
    "CameraWorkerThread(): ERROR: No Image name avaiable, using generic.";
const char* const kFailedLine = "CameraWorkerThread(): Error: failed download image.";

std::string gotFile(const std::string& name) {
  return "CameraWorkerThread(): GOT FILE [" + name + "]";
}

// Larger than one chunk (SKERROW_CAM_CHUNK below), so each shot is
// gathered from several deliveries.
constexpr std::size_t kShotSize = 5000;

class e2eCamera : public testing::Test {
 protected:
  // Starts the server with the image file prefix and waits until its run is
  // under way (camera connected, listener listening).
  void startServer(const std::string& prefix) { startServerWith(prefix, holdsRunningServer); }

  // The same, waiting until running(log) holds.
  void startServerWith(const std::string& prefix, bool (*running)(const std::string&)) {
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    port_ = freePort();
    ASSERT_GT(port_, 0);
    dir_.write("Skerrow.ini", rig_.iniSections() + "[server]\nport=" + std::to_string(port_) +
                                  "\n[camera]\nfileprefix=" + prefix + "\n");
    server_ = std::make_unique<ServerProcess>(dir_.path(), std::vector<std::string>{"Skerrow.ini"},
                                              rig_.environment({"SKERROW_CAM_CHUNK=1000"}));
    ASSERT_TRUE(server_->started()) << server_->startError();
    ASSERT_TRUE(server_->out().waitUntil(running)) << server_->out().text();
  }

  CtlRun ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(port_)});
    return runCtl(dir_, args);
  }

  // Waits for one whole log entry of the server.
  bool waitForEntry(const std::string& text) { return server_->out().waitFor("] " + text + "\n"); }

  std::vector<LogLine> log() const { return parseLog(withoutProgressMarks(server_->out().text())); }

  // The entries of the camera thread and of the commands it runs, which
  // come in a fixed order since one thread writes them all.
  std::vector<std::string> cameraEntries() const {
    std::vector<std::string> result;
    for (const LogLine& line : log()) {
      if (line.stamped && (line.text.rfind("CameraWorkerThread()", 0) == 0 ||
                           line.text.rfind("processCommandMessage()", 0) == 0))
        result.push_back(line.text);
    }
    return result;
  }

  std::string savedFile(const std::string& name) const { return readFile(dir_.file(name)); }

  // The image log's lines once it holds count of them (the log is written
  // after the GOT FILE entry), or all it holds at the deadline.
  std::vector<std::string> imageLogLines(const std::string& prefix, std::size_t count) const {
    const std::string path = dir_.file(prefix + "FileLog.log");
    waitUntil([&] { return splitLines(readFile(path)).size() >= count; });
    return splitLines(readFile(path));
  }

  // How often line appears on the server's standard error.
  int errorOutputCount(const std::string& line) const {
    const std::string text = server_->err().text();
    int count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
      ++count;
    return count;
  }

  TempDir dir_;
  RigFolder rig_{dir_};
  int port_ = -1;
  std::unique_ptr<ServerProcess> server_;
};

// One image-log line: "YYYY MM DD hh mm ss mmm triggers images name".
testing::AssertionResult isImageLogLine(const std::string& line, int images,
                                        const std::string& name) {
  char counts[32];
  std::snprintf(counts, sizeof counts, "000000 %06d ", images);
  static const std::regex stamp(R"(^\d{4} \d{2} \d{2} \d{2} \d{2} \d{2} \d{3} )");
  const std::string expectedTail = counts + name;
  if (std::regex_search(line, stamp) && line.size() == 24 + expectedTail.size() &&
      line.compare(24, std::string::npos, expectedTail) == 0)
    return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "image-log line '" << line << "', expected the time then '" << expectedTail << "'";
}

TEST_F(e2eCamera, ShotsAreSavedUnderGenericNamesCountedLoggedAndSigintStopsInOrder) {
  ASSERT_NO_FATAL_FAILURE(startServer("images/T_"));
  std::filesystem::create_directory(dir_.path() / "images");
  const std::string first = shotBytes(1, kShotSize);
  const std::string second = shotBytes(2, kShotSize);
  // Both at once: the oldest shot is fetched first, the name breaking a
  // tie of times.
  ASSERT_TRUE(rig_.dropShot("a.jpg", first));
  ASSERT_TRUE(rig_.dropShot("b.jpg", second));
  ASSERT_TRUE(waitForEntry(gotFile("images/T_IMG-001.jpg"))) << server_->out().text();

  // Saved whole, under a name that overwrites nothing, and taken off the
  // card.
  EXPECT_EQ(first, savedFile("images/T_IMG.jpg"));
  EXPECT_EQ(second, savedFile("images/T_IMG-001.jpg"));
  EXPECT_EQ(rig_.shotsOnCard(), std::vector<std::string>{});
  const std::vector<std::string> imageLog = imageLogLines("images/T_", 2);
  ASSERT_EQ(2u, imageLog.size()) << readFile(dir_.file("images/T_FileLog.log"));
  EXPECT_TRUE(isImageLogLine(imageLog[0], 1, "images/T_IMG.jpg"));
  EXPECT_TRUE(isImageLogLine(imageLog[1], 2, "images/T_IMG-001.jpg"));

  const CtlRun images = ctl({"images"});
  EXPECT_EQ(0, images.status.code) << images.err;
  EXPECT_EQ("images: 2\n", images.out);

  ASSERT_TRUE(server_->sendSignal(SIGINT));
  ExitStatus status;
  ASSERT_TRUE(server_->waitForExit(&status)) << server_->out().text();
  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(0, status.code);

  EXPECT_EQ(cameraEntries(), (std::vector<std::string>{
                                 kCameraStartLine,
                                 kCameraConnectedLine,
                                 kGenericLine,
                                 gotFile("images/T_IMG.jpg"),
                                 kGenericLine,
                                 gotFile("images/T_IMG-001.jpg"),
                                 "processCommandMessage(): received SKERROW_MESSAGE_IMAGECOUNT ",
                                 kCameraEndLine,
                             }));
  std::vector<std::string> middle;
  EXPECT_TRUE(framedByShutdown(describe(log()), {}, promptLines(), &middle));
  EXPECT_EQ(1, countText(log(), kInterruptLine));
  EXPECT_EQ(errorEntries(middle),
            (std::vector<std::string>{stamped(kGenericLine), stamped(kGenericLine)}));
  EXPECT_EQ(1, errorOutputCount("ERROR: Trying to write to existing file... renaming "
                                "[images/T_IMG-001.jpg].\n"))
      << server_->err().text();
  EXPECT_EQ(1, errorOutputCount("ERROR"));
}

TEST_F(e2eCamera, DisconnectAndReconnectByCommandAndTheShotWaitingOnTheCardIsFetched) {
  ASSERT_NO_FATAL_FAILURE(startServer("images/T_"));
  std::filesystem::create_directory(dir_.path() / "images");

  const CtlRun disconnect = ctl({"connect", "0"});
  EXPECT_EQ(0, disconnect.status.code) << disconnect.err;
  EXPECT_EQ("connect: 0\n", disconnect.out);
  ASSERT_TRUE(waitForEntry("processCommandMessage(): Camera disconnected."))
      << server_->out().text();

  const std::string shot = shotBytes(3, kShotSize);
  ASSERT_TRUE(rig_.dropShot("c.jpg", shot));
  // Each request is run in a pass of its own; a camera polled after the
  // first would have given up the shot before the second is answered.
  for (int i = 0; i < 2; ++i) {
    const CtlRun images = ctl({"images"});
    EXPECT_EQ("images: 0\n", images.out) << images.err;
  }
  EXPECT_EQ(rig_.shotsOnCard(), std::vector<std::string>{"c.jpg"});

  const CtlRun reconnect = ctl({"connect", "1"});
  EXPECT_EQ(0, reconnect.status.code) << reconnect.err;
  EXPECT_EQ("connect: 1\n", reconnect.out);
  ASSERT_TRUE(waitForEntry(gotFile("images/T_IMG.jpg"))) << server_->out().text();
  EXPECT_EQ(shot, savedFile("images/T_IMG.jpg"));
  EXPECT_EQ(rig_.shotsOnCard(), std::vector<std::string>{});
  const CtlRun images = ctl({"images"});
  EXPECT_EQ("images: 1\n", images.out) << images.err;

  EXPECT_EQ(cameraEntries(), (std::vector<std::string>{
                                 kCameraStartLine,
                                 kCameraConnectedLine,
                                 "processCommandMessage(): received SKERROW_MESSAGE_CONNECT",
                                 "processCommandMessage(): Camera disconnected.",
                                 "processCommandMessage(): received SKERROW_MESSAGE_IMAGECOUNT ",
                                 "processCommandMessage(): received SKERROW_MESSAGE_IMAGECOUNT ",
                                 "processCommandMessage(): received SKERROW_MESSAGE_CONNECT",
                                 "processCommandMessage(): Camera connected.",
                                 kGenericLine,
                                 gotFile("images/T_IMG.jpg"),
                                 "processCommandMessage(): received SKERROW_MESSAGE_IMAGECOUNT ",
                             }));
  EXPECT_EQ(0, errorOutputCount("ERROR")) << server_->err().text();
}

// A camera plugged in after start-up (its card folder appears) is not
// polled until a connect command opens it.
TEST_F(e2eCamera, CameraMissingAtStartIsConnectedByCommandOnceThere) {
  std::filesystem::remove(rig_.card());
  ASSERT_NO_FATAL_FAILURE(startServerWith("images/T_", [](const std::string& log) {
    return log.find(
               "] CameraWorkerThread(): ERROR Failed to connect to camera on thread start.\n") !=
               std::string::npos &&
           log.find("] SocketInitialize(): listen() successful.\n") != std::string::npos;
  }));
  std::filesystem::create_directory(dir_.path() / "images");
  const CtlRun absent = ctl({"connect"});
  EXPECT_EQ("connect: 0\n", absent.out) << absent.err;

  std::filesystem::create_directory(rig_.card());
  const std::string shot = shotBytes(5, kShotSize);
  ASSERT_TRUE(rig_.dropShot("e.jpg", shot));
  const CtlRun connect = ctl({"connect", "1"});
  EXPECT_EQ(0, connect.status.code) << connect.err;
  EXPECT_EQ("connect: 1\n", connect.out);
  ASSERT_TRUE(waitForEntry(gotFile("images/T_IMG.jpg"))) << server_->out().text();
  EXPECT_EQ(shot, savedFile("images/T_IMG.jpg"));

  EXPECT_EQ(cameraEntries(),
            (std::vector<std::string>{
                kCameraStartLine,
                "CameraWorkerThread(): ERROR Failed to connect to camera on thread "
                "start.",
                "processCommandMessage(): received SKERROW_MESSAGE_CONNECT",
                "processCommandMessage(): received SKERROW_MESSAGE_CONNECT",
                "processCommandMessage(): Camera connected.",
                kGenericLine,
                gotFile("images/T_IMG.jpg"),
            }));
}

// Tests run as root, where a read-only folder is written all the same; a
// folder that does not exist yet fails the save just as surely.
TEST_F(e2eCamera, ShotThatCannotBeSavedStaysOnTheCardUntilItsFolderExists) {
  ASSERT_NO_FATAL_FAILURE(startServer("later/T_"));
  const std::string shot = shotBytes(4, kShotSize);
  ASSERT_TRUE(rig_.dropShot("d.jpg", shot));
  ASSERT_TRUE(waitForEntry(kFailedLine)) << server_->out().text();

  EXPECT_EQ(0, countText(log(), gotFile("later/T_IMG.jpg")));
  EXPECT_EQ(rig_.shotsOnCard(), std::vector<std::string>{"d.jpg"});
  const CtlRun before = ctl({"images"});
  EXPECT_EQ("images: 0\n", before.out) << before.err;

  std::filesystem::create_directory(dir_.path() / "later");
  ASSERT_TRUE(waitForEntry(gotFile("later/T_IMG.jpg"))) << server_->out().text();
  EXPECT_EQ(shot, savedFile("later/T_IMG.jpg"));
  ASSERT_TRUE(waitUntil([&] { return rig_.shotsOnCard().empty(); }))
      << "the saved shot stayed on the card";
  const std::vector<std::string> imageLog = imageLogLines("later/T_", 1);
  ASSERT_EQ(1u, imageLog.size());
  EXPECT_TRUE(isImageLogLine(imageLog[0], 1, "later/T_IMG.jpg"));
  const CtlRun after = ctl({"images"});
  EXPECT_EQ("images: 1\n", after.out) << after.err;

  // Every try before the folder existed failed and was not counted. The
  // retries are one fault: the first try's lines, then summaries of the
  // others once the save succeeds. Commands between passes are left out.
  std::vector<std::string> passes;
  for (const std::string& entry : cameraEntries())
    if (entry.rfind("CameraWorkerThread()", 0) == 0) passes.push_back(entry);
  ASSERT_GE(passes.size(), 5u);
  EXPECT_EQ(
      (std::vector<std::string>{kCameraStartLine, kCameraConnectedLine, kGenericLine, kFailedLine}),
      std::vector<std::string>(passes.begin(), passes.begin() + 4));
  EXPECT_EQ(gotFile("later/T_IMG.jpg"), passes.back());
  int tries = 1;
  const std::string failedSummary = std::string(kFailedLine) + " (repeated ";
  for (std::size_t i = 4; i + 1 < passes.size(); ++i) {
    if (passes[i].rfind(failedSummary, 0) == 0) {
      tries += std::atoi(passes[i].c_str() + failedSummary.size());
    } else {
      EXPECT_EQ(0u, passes[i].rfind(std::string(kGenericLine) + " (repeated ", 0)) << passes[i];
    }
  }
  EXPECT_EQ(1, countText(log(), gotFile("later/T_IMG.jpg")));
  EXPECT_EQ(tries, errorOutputCount("ERROR: Cannot open file for writing [later/T_IMG.jpg].\n"))
      << server_->err().text();
}

}  // namespace
}  // namespace e2e
