#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/console.h"

namespace platform {

bool consoleKeyPressed() {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  return poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP)) != 0;
}

bool stdinIsConsole() { return isatty(STDIN_FILENO) == 1; }

namespace {

std::atomic<void (*)()> interruptRoutine{nullptr};

void ignoreSignal(int) {}

}  // namespace

// The routine takes the status mutex and writes the log, neither of which is
// safe inside a signal handler: a signal arriving while the interrupted thread
// holds the mutex would deadlock. So SIGINT and SIGTERM are blocked in every
// thread (the mask is inherited by threads created later; call this first)
// and one watcher thread takes them with sigwait and runs the routine there,
// as Windows runs its Ctrl-C handler on a thread of its own. SIGTERM is
// treated as Ctrl-C so that a service manager's stop shuts down in order.
bool installInterruptRoutine(void (*routine)()) {
  interruptRoutine.store(routine);
  struct sigaction action {};
  action.sa_handler = ignoreSignal;  // a handler, not SIG_IGN, keeps the signal deliverable
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) {
    return false;
  }
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) return false;
  try {
    std::thread([stops] {
      for (;;) {
        int signal = 0;
        if (sigwait(&stops, &signal) != 0) continue;
        if (void (*run)() = interruptRoutine.load()) run();
      }
    }).detach();
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace platform
