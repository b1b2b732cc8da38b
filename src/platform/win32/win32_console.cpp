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

bool disableConsoleQuickEdit() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  // No console (a service, a pipe, a file): no selection can pause output.
  if (input == INVALID_HANDLE_VALUE || input == nullptr || GetConsoleMode(input, &mode) == 0) {
    return true;
  }
  // QuickEdit is only honoured, and only cleared, with the extended flags.
  const DWORD wanted = (mode & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE)) | ENABLE_EXTENDED_FLAGS;
  if (wanted == mode) return true;
  return SetConsoleMode(input, wanted) != 0;
}

// The runtime's _IOLBF is full buffering; every server-log entry is flushed
// on its own, and the rest of standard output keeps the runtime's default.
void lineBufferStandardOutput() {}

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
