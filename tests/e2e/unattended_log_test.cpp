// An unattended server and its logs: a log that stops taking lines for a
// while (a paused console, a pipe nobody reads, a slow disk) must not stop
// the run; a second Ctrl-C ends a shutdown that hangs on such a log; and a
// killed server leaves every line it wrote on disk.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

const char* const kKeptRunningLine =
    "getRunning(): ERROR status mutex busy for 2000 ms, could not read running; kept its last "
    "value (1).";

// The reading end of the server's log FIFO, which stops reading on demand.
// Its pipe is cut to one page, so that a few dozen entries fill it and the
// server's next log write blocks.
class PausingReader {
 public:
  explicit PausingReader(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK)) {
    if (fd_ >= 0) {
      ::fcntl(fd_, F_SETPIPE_SZ, 4096);
      thread_ = std::thread([this] { run(); });
    }
  }
  ~PausingReader() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }

  bool ok() const { return fd_ >= 0; }
  // Stops reading for the time given (for ever when it is zero).
  void pause(std::chrono::milliseconds span = std::chrono::milliseconds(0)) {
    std::lock_guard<std::mutex> guard(mutex_);
    paused_ = true;
    resumeAt_ = span.count() == 0 ? std::chrono::steady_clock::time_point::max()
                                  : std::chrono::steady_clock::now() + span;
  }
  bool paused() { return pausedNow(); }
  std::string text() {
    std::lock_guard<std::mutex> guard(mutex_);
    return text_;
  }

 private:
  void run() {
    char block[4096];
    while (!stop_) {
      if (pausedNow()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 10) <= 0) continue;
      const ssize_t got = ::read(fd_, block, sizeof block);
      if (got <= 0) continue;  // no writer yet, or gone: the test decides
      std::lock_guard<std::mutex> guard(mutex_);
      text_.append(block, static_cast<std::size_t>(got));
    }
  }

  bool pausedNow() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (paused_ && std::chrono::steady_clock::now() >= resumeAt_) paused_ = false;
    return paused_;
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  bool paused_ = false;
  std::chrono::steady_clock::time_point resumeAt_;
  std::string text_;
  std::thread thread_;
};

class e2eUnattendedLog : public testing::Test {
 protected:
  // Starts the server with its log on a FIFO and waits until it runs.
  void startServerLoggingToFifo() {
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    port_ = freePort();
    ASSERT_GT(port_, 0);
    ASSERT_EQ(::mkfifo(dir_.file("server.fifo").c_str(), 0600), 0);
    log_ = std::make_unique<PausingReader>(dir_.file("server.fifo"));
    ASSERT_TRUE(log_->ok());
    dir_.write("Skerrow.ini", rig_.iniSections() + "[server]\nport=" + std::to_string(port_) +
                                  "\nlogfilename=server.fifo\n");
    server_ = std::make_unique<ServerProcess>(dir_.path(), std::vector<std::string>{"Skerrow.ini"},
                                              rig_.environment());
    ASSERT_TRUE(server_->started()) << server_->startError();
    ASSERT_TRUE(waitUntil([&] { return holdsRunningServer(log_->text()); })) << log_->text();
  }

  // One request as an operator sends it; each one logs a few entries.
  CtlRun images() { return runCtl(dir_, {"--port", std::to_string(port_), "images"}); }

  TempDir dir_;
  RigFolder rig_{dir_};
  int port_ = -1;
  std::unique_ptr<PausingReader> log_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(e2eUnattendedLog, LogThatBlocksForSecondsDoesNotStopTheServer) {
  ASSERT_NO_FATAL_FAILURE(startServerLoggingToFifo());
  log_->pause(std::chrono::seconds(5));
  // Requests go on until the reader reads again; the last ones wait for
  // their replies until then, or give up.
  while (log_->paused()) images();

  const CtlRun after = images();
  EXPECT_EQ(0, after.status.code) << after.err;
  EXPECT_EQ("images: 0\n", after.out);
  ASSERT_TRUE(server_->sendSignal(SIGINT));
  ExitStatus status;
  ASSERT_TRUE(server_->waitForExit(&status)) << log_->text();
  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(0, status.code);
  ASSERT_TRUE(waitUntil([&] { return log_->text().find(kEndLine) != std::string::npos; }));
  const std::vector<LogLine> lines = parseLog(log_->text());
  EXPECT_EQ(1, countText(lines, kInterruptLine)) << "the run ended before the interrupt";
  EXPECT_EQ(1, countText(lines, kKeptRunningLine)) << "no read of running waited long enough";
  EXPECT_EQ(1, countText(lines, kEndLine));
}

// A reader that never comes back: the shutdown after Ctrl-C hangs on the
// log, and the operator presses Ctrl-C again. Signals sent close together
// may arrive as one, so the second is repeated until the process ends.
TEST_F(e2eUnattendedLog, SecondSigintEndsAShutdownThatHangsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(startServerLoggingToFifo());
  log_->pause();
  // A request left unanswered: a thread the server needs is stuck on the log.
  ASSERT_TRUE(waitUntil([&] { return images().status.code != 0; }));

  ASSERT_TRUE(server_->sendSignal(SIGINT));
  ExitStatus status;
  ASSERT_TRUE(waitUntil([&] {
    server_->sendSignal(SIGINT);
    return server_->waitForExit(&status, std::chrono::milliseconds(200));
  })) << "two interrupts did not end the process";
  EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
  EXPECT_EQ(128 + SIGINT, status.code);
  EXPECT_TRUE(
      server_->err().waitFor("Siginthandler: Second stop signal received, ending at once.\n"))
      << server_->err().text();
}

// Killed without warning, as by a power cut: every image saved so far has
// its image-log line, and the server log has every entry written, the last
// image's GOT FILE included.
TEST_F(e2eUnattendedLog, KilledServerLeavesTheLinesOfEverySavedImage) {
  ASSERT_TRUE(rig_.ok()) << rig_.error();
  dir_.write(
      "Skerrow.ini",
      rig_.iniSections() + "[server]\nport=0\nlogfilename=server.log\n[camera]\nfileprefix=T_\n");
  server_ = std::make_unique<ServerProcess>(dir_.path(), std::vector<std::string>{"Skerrow.ini"},
                                            rig_.environment());
  ASSERT_TRUE(server_->started()) << server_->startError();
  const std::string serverLog = dir_.file("server.log");
  ASSERT_TRUE(waitUntil([&] { return holdsRunningServer(readFile(serverLog)); }))
      << readFile(serverLog);
  constexpr int kImages = 3;
  for (int i = 0; i < kImages; ++i)
    ASSERT_TRUE(rig_.dropShot("shot" + std::to_string(i) + ".jpg", shotBytes(i, 3000)));
  const std::string imageLog = dir_.file("T_FileLog.log");
  ASSERT_TRUE(waitUntil([&] { return splitLines(readFile(imageLog)).size() == kImages; }))
      << readFile(imageLog);

  ASSERT_TRUE(server_->sendSignal(SIGKILL));
  ExitStatus status;
  ASSERT_TRUE(server_->waitForExit(&status));
  EXPECT_EQ(SIGKILL, status.signal);
  const std::vector<std::string> imageLines = splitLines(readFile(imageLog));
  ASSERT_EQ(static_cast<std::size_t>(kImages), imageLines.size());
  const std::vector<LogLine> lines = parseLog(readFile(serverLog));
  for (const std::string& line : imageLines) {
    const std::string name = line.substr(line.rfind(' ') + 1);
    EXPECT_EQ(1, countText(lines, "CameraWorkerThread(): GOT FILE [" + name + "]")) << name;
  }
}

}  // namespace
}  // namespace e2e
