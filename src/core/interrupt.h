// The routine a stop request (Ctrl-C, a service manager's stop, a closed
// terminal or console) runs, and shutdown runs again first.
#pragma once

// Logs the interrupt line and clears the run flag. Its body runs at most once
// per process, however many threads call it at the same time.
void onInterrupt();

// onInterrupt for a stop request from outside the process: the routine to
// install for the stop signals.
void onStopRequest();

// True once onInterrupt has run (or is running).
bool interruptReceived();

// True once onInterrupt has finished. The run is over from then on, also when
// the routine could not obtain statusMutex to clear the run flag.
bool interruptFinished();

// True when a stop request ended the run: it found the run flag still raised
// and lowered it. False when the run had already ended by itself (a failure)
// or no request came.
bool stopRequestEndedRun();
