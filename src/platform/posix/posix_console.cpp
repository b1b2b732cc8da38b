#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/console.h"

namespace platform {

bool consoleKeyPressed() {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  return poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP)) != 0;
}

bool stdinIsConsole() { return isatty(STDIN_FILENO) == 1; }

// A terminal has no QuickEdit mode: a selection there never pauses output.
bool disableConsoleQuickEdit() { return true; }

void lineBufferStandardOutput() { std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

namespace {

std::atomic<void (*)()> interruptRoutine{nullptr};

void ignoreSignal(int) {}

void runRoutine() {
  if (void (*run)() = interruptRoutine.load()) run();
}

// Ends the process at once with a line on standard error. The line is
// written on a thread of its own and waited for briefly, so that a paused
// terminal cannot hold the exit back.
[[noreturn]] void endAtOnce(int signal) {
  static const char kLine[] = "Siginthandler: Second stop signal received, ending at once.\n";
  std::atomic<bool> written{false};
  try {
    std::thread([&written] {
      const ssize_t ignored = write(STDERR_FILENO, kLine, sizeof kLine - 1);
      (void)ignored;
      written = true;
    }).detach();
  } catch (...) {
    written = true;
  }
  for (int waited = 0; !written && waited < 1000; waited += 10) sleepMs(10);
  _exit(128 + signal);
}

}  // namespace

// The routine takes the status mutex and writes the log, neither of which is
// safe inside a signal handler: a signal arriving while the interrupted thread
// holds the mutex would deadlock. So the stop signals are blocked in every
// thread (the mask is inherited by threads created later; call this first)
// and one watcher thread takes them with sigwait, as Windows runs its Ctrl-C
// handler on a thread of its own. SIGTERM (a service manager's stop) and
// SIGHUP (a closed terminal or SSH connection) are treated as Ctrl-C, so that
// the lasers are lowered and the logs closed. A SIGHUP ignored from the start
// (nohup) stays ignored: whoever started the server wants it to outlive the
// terminal. The routine runs on a thread of its own, so the watcher is free to
// take a second signal while a shutdown hangs; that one ends the process, as
// a second Ctrl-C does on Windows.
bool installInterruptRoutine(void (*routine)()) {
  interruptRoutine.store(routine);
  struct sigaction action {};
  action.sa_handler = ignoreSignal;  // a handler, not SIG_IGN, keeps the signal deliverable
  sigemptyset(&action.sa_mask);
  struct sigaction hangUp {};
  if (sigaction(SIGHUP, nullptr, &hangUp) != 0) return false;
  const bool takeHangUp = hangUp.sa_handler != SIG_IGN;
  if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0 ||
      (takeHangUp && sigaction(SIGHUP, &action, nullptr) != 0)) {
    return false;
  }
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  if (takeHangUp) sigaddset(&stops, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) return false;
  try {
    std::thread([stops] {
      bool first = true;
      for (;;) {
        int signal = 0;
        if (sigwait(&stops, &signal) != 0) continue;
        if (!first) endAtOnce(signal);
        first = false;
        try {
          std::thread(runRoutine).detach();
        } catch (...) {
          runRoutine();
        }
      }
    }).detach();
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace platform
