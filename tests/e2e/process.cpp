#include "e2e/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

extern char** environ;

namespace e2e {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

OutputReader::OutputReader(int fd) : fd_(fd), thread_([this] { run(); }) {}

OutputReader::~OutputReader() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

void OutputReader::run() {
  char block[4096];
  while (!stop_) {
    pollfd ready{fd_, POLLIN, 0};
    // A short poll lets the destructor stop a reader whose writer lives on.
    const int events = ::poll(&ready, 1, 50);
    if (events < 0 && errno != EINTR) break;
    if (events <= 0) continue;
    const ssize_t got = ::read(fd_, block, sizeof block);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> guard(mutex_);
    text_.append(block, static_cast<std::size_t>(got));
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> guard(mutex_);
  ended_ = true;
  changed_.notify_all();
}

std::string OutputReader::text() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return text_;
}

bool OutputReader::waitUntil(const std::function<bool(const std::string&)>& done,
                             std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> guard(mutex_);
  changed_.wait_for(guard, deadline, [&] { return ended_ || done(text_); });
  return done(text_);
}

bool OutputReader::waitFor(const std::string& needle, std::chrono::milliseconds deadline) {
  return waitUntil([&](const std::string& text) { return text.find(needle) != std::string::npos; },
                   deadline);
}

bool OutputReader::waitForEnd(std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> guard(mutex_);
  return changed_.wait_for(guard, deadline, [&] { return ended_; });
}

namespace {

// The environment for the child: the test's own, with extraEnv's entries
// replacing those of the same name.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extraEnv) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& extra : extraEnv)
      replaced = replaced || extra.substr(0, extra.find('=')) == name;
    if (!replaced) result.push_back(text);
  }
  result.insert(result.end(), extraEnv.begin(), extraEnv.end());
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(&text[0]);
  result.push_back(nullptr);
  return result;
}

}  // namespace

ServerProcess::ServerProcess(const std::filesystem::path& workDir,
                             const std::vector<std::string>& args,
                             const std::vector<std::string>& extraEnv)
    : ServerProcess(SKERROW_BIN, workDir, args, extraEnv) {}

ServerProcess::ServerProcess(const std::string& program, const std::filesystem::path& workDir,
                             const std::vector<std::string>& args,
                             const std::vector<std::string>& extraEnv) {
  // Everything the child needs is prepared before fork: between fork and
  // exec only async-signal-safe calls are allowed.
  std::vector<std::string> argTexts{program};
  argTexts.insert(argTexts.end(), args.begin(), args.end());
  std::vector<char*> argv = pointers(argTexts);
  std::vector<std::string> envTexts = childEnvironment(extraEnv);
  std::vector<char*> envp = pointers(envTexts);
  const std::string dir = workDir.string();

  // Close-on-exec everywhere, so that no other child inherits a write end
  // and keeps a reader from seeing its end.
  int outPipe[2];
  int errPipe[2];
  int execPipe[2];  // carries errno when exec fails
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 ||
      ::pipe2(execPipe, O_CLOEXEC) != 0) {
    startError_ = std::string("pipe2: ") + std::strerror(errno);
    return;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    startError_ = std::string("fork: ") + std::strerror(errno);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], execPipe[0], execPipe[1]})
      ::close(fd);
    return;
  }
  if (pid == 0) {
    // A blocked or ignored signal would survive exec and change what the
    // server sees of SIGINT and SIGTERM.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(SIGINT, &byDefault, nullptr);
    sigaction(SIGTERM, &byDefault, nullptr);
    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0 || ::dup2(outPipe[1], STDOUT_FILENO) < 0 ||
        ::dup2(errPipe[1], STDERR_FILENO) < 0 || ::chdir(dir.c_str()) != 0) {
      const int error = errno;
      (void)!::write(execPipe[1], &error, sizeof error);
      ::_exit(127);
    }
    ::execve(argv[0], argv.data(), envp.data());
    const int error = errno;
    (void)!::write(execPipe[1], &error, sizeof error);
    ::_exit(127);
  }

  pid_ = pid;
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ::close(execPipe[1]);
  out_ = std::make_unique<OutputReader>(outPipe[0]);
  err_ = std::make_unique<OutputReader>(errPipe[0]);
  // The exec pipe closes on a successful exec and carries errno otherwise.
  int childError = 0;
  ssize_t got = 0;
  do {
    got = ::read(execPipe[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(execPipe[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    startError_ =
        std::string("starting ") + program + " in " + dir + ": " + std::strerror(childError);
    ExitStatus ignored;
    waitForExit(&ignored);
    pid_ = -1;
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool ServerProcess::sendSignal(int number) {
  return pid_ > 0 && !reaped_ && ::kill(pid_, number) == 0;
}

namespace {

// Reads the states of all threads of pid: true when each is asleep ('S').
// A thread that ends during the scan is skipped.
bool allThreadsAsleep(pid_t pid) {
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  std::filesystem::directory_iterator entries(tasks, error);
  if (error) return false;
  int seen = 0;
  for (const auto& entry : entries) {
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    if (!std::getline(stat, text)) continue;
    // The state follows the command name, which is in parentheses and may
    // itself hold blanks and parentheses.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    if (text[close + 2] != 'S') return false;
    ++seen;
  }
  return seen > 0;
}

}  // namespace

bool ServerProcess::waitUntilAsleep(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (pid_ > 0 && !reaped_) {
    if (allThreadsAsleep(pid_)) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool ServerProcess::waitForExit(ExitStatus* status, std::chrono::milliseconds deadline) {
  if (pid_ <= 0 || reaped_) return false;
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      status->exited = WIFEXITED(raw);
      status->code = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      status->signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
      // The child's last words may still sit in the pipes.
      out_->waitForEnd();
      err_->waitForEnd();
      return true;
    }
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace e2e
