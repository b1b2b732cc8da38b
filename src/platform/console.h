// The console the server runs on, and the ways to stop the process.
#pragma once

namespace platform {

// True when a key press is waiting on the console, or when the console is
// going away (a hung-up terminal; on Windows a closed window, a log-off or a
// shutdown), where no key will come. Does not block.
bool consoleKeyPressed();

// True when standard input is an interactive console (a terminal), false for
// a file, a pipe or nothing.
bool stdinIsConsole();

// Arranges for routine to run, on a thread where it may take locks and write
// the log, when a stop is asked for: Ctrl-C; on POSIX also SIGTERM and SIGHUP
// (SIGHUP only when not ignored from the start, as under nohup); on Windows
// also Ctrl-Break, a closed console window, a log-off and a shutdown, for
// which the system is held off for up to 4 s while the main thread ends the
// process in order. A second Ctrl-C (or stop signal), while the first one's
// shutdown still runs, ends the process at once without an orderly shutdown.
// Returns false on failure.
bool installInterruptRoutine(void (*routine)());

// Switches off the console's QuickEdit mode, in which a mouse selection
// pauses every write to the console (and so the server log) until it is
// cleared. True when done or when standard input is no console; false, with
// lastSystemError() telling why, when the mode could not be changed.
bool disableConsoleQuickEdit();

// Makes standard output hand over each whole line at once, so lines reach a
// pipe or a capturing service manager promptly. Does nothing where the C
// runtime has no true line buffering.
void lineBufferStandardOutput();

}  // namespace platform
