// The console the server runs on, and the interrupt key.
#pragma once

namespace platform {

// True when a key press is waiting on the console. Does not block.
bool consoleKeyPressed();

// True when standard input is an interactive console (a terminal), false for
// a file, a pipe or nothing.
bool stdinIsConsole();

// Arranges for routine to run, on a thread where it may take locks and write
// the log, when the operator presses Ctrl-C. Returns false on failure.
bool installInterruptRoutine(void (*routine)());

}  // namespace platform
