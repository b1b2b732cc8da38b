// Runs the skerrow binary as a child process and watches what it writes.
// POSIX only: fork/exec, pipes, signals and waitpid.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// Every wait for an event of the child gives up after this long, so a
// server that hangs fails its test instead of stalling the run.
constexpr std::chrono::seconds kDeadline{20};

// Waits until done() holds or the deadline passes, looking again every few
// milliseconds. Returns whether done() holds at the end of the wait.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = kDeadline);

// Drains one descriptor (a pipe or a FIFO) on a thread of its own into a
// text that tests can wait on. A FIFO with no writer yet is not taken for
// its end: the stream ends only once a writer has come and gone.
class OutputReader {
 public:
  // Takes ownership of fd and closes it when destroyed.
  explicit OutputReader(int fd);
  ~OutputReader();
  OutputReader(const OutputReader&) = delete;
  OutputReader& operator=(const OutputReader&) = delete;

  std::string text() const;

  // Waits until done(text) holds, the stream ends or the deadline passes.
  // Returns whether done(text) holds at the end of the wait.
  bool waitUntil(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds deadline = kDeadline);
  bool waitFor(const std::string& needle, std::chrono::milliseconds deadline = kDeadline);
  // Waits for the end of the stream. Returns false on the deadline.
  bool waitForEnd(std::chrono::milliseconds deadline = kDeadline);

 private:
  void run();

  int fd_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  bool ended_ = false;
  std::thread thread_;
};

struct ExitStatus {
  bool exited = false;  // ended through exit() or a return from main
  int code = -1;        // the exit status when exited
  int signal = 0;       // the terminating signal otherwise
};

// One server process, started in workDir with standard input from
// /dev/null and standard output and error captured. The destructor kills
// (SIGKILL) and reaps a child that is still running.
class ServerProcess {
 public:
  // extraEnv holds "NAME=value" entries added to (or replacing those of)
  // the test's own environment.
  ServerProcess(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                const std::vector<std::string>& extraEnv = {});
  // The same for another program of the project, such as skerrowctl.
  ServerProcess(const std::string& program, const std::filesystem::path& workDir,
                const std::vector<std::string>& args, const std::vector<std::string>& extraEnv);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // False, with the reason in startError(), when the child could not be made.
  bool started() const { return pid_ > 0; }
  const std::string& startError() const { return startError_; }

  bool sendSignal(int number);

  // Waits until every thread of the child sleeps at one moment, that is
  // until the server waits for something (a signal, a timer, a file) and
  // has finished what it was doing. Returns false on the deadline or when
  // the child is gone. Linux only: reads /proc/<pid>/task/*/stat.
  bool waitUntilAsleep(std::chrono::milliseconds deadline = kDeadline);

  // Waits for the child to end. Returns false on the deadline; the child is
  // then left running for the destructor to kill.
  bool waitForExit(ExitStatus* status, std::chrono::milliseconds deadline = kDeadline);

  OutputReader& out() { return *out_; }
  OutputReader& err() { return *err_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string startError_;
  std::unique_ptr<OutputReader> out_;
  std::unique_ptr<OutputReader> err_;
};

}  // namespace e2e
