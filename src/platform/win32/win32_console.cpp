#include <windows.h>
#include <conio.h>

#include <atomic>

#include "platform/console.h"

namespace platform {

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
std::atomic<bool> stopTaken{false};
std::atomic<bool> consoleEnding{false};

// Windows ends the process once the handler of a close, log-off or shutdown
// event returns, and at the latest about 5 s after a close. The handler
// waits this long for the main thread to finish the orderly end and leave
// through exit(); past that it lets the system end the process.
constexpr DWORD kEndingWaitMs = 4000;

// Runs on a thread the system creates for each event, where taking locks and
// writing the log is safe.
BOOL WINAPI onConsoleEvent(DWORD event) {
  const DWORD start = GetTickCount();
  const bool ending =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (!ending && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // A second Ctrl-C or Ctrl-Break goes to the system's own handler, which
  // ends the process at once: the way out of a shutdown that hangs.
  if (stopTaken.exchange(true) && !ending) return FALSE;
  // No one is left to press the key the console's last prompt waits for.
  if (ending) consoleEnding.store(true);
  if (void (*run)() = interruptRoutine.load()) run();
  if (!ending) return TRUE;
  while (GetTickCount() - start < kEndingWaitMs) Sleep(50);
  return TRUE;
}

}  // namespace

bool consoleKeyPressed() { return consoleEnding.load() || _kbhit() != 0; }

// Console events rather than the C runtime's SIGINT: the runtime passes on
// Ctrl-C only, and a closed window, a log-off or a shutdown would end the
// server with the lasers on and the log unclosed.
bool installInterruptRoutine(void (*routine)()) {
  interruptRoutine.store(routine);
  return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

}  // namespace platform
