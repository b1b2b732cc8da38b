#include <windows.h>
#include <conio.h>

#include <atomic>
#include <csignal>

#include "platform/console.h"

namespace platform {

bool consoleKeyPressed() { return _kbhit() != 0; }

bool stdinIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

namespace {

std::atomic<void (*)()> interruptRoutine{nullptr};

// The runtime calls SIGINT handlers on a thread of its own, where taking
// locks and writing the log is safe.
void onSignal(int) {
  if (void (*run)() = interruptRoutine.load()) run();
}

}  // namespace

bool installInterruptRoutine(void (*routine)()) {
  interruptRoutine.store(routine);
  return std::signal(SIGINT, onSignal) != SIG_ERR;
}

}  // namespace platform
