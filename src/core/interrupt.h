// The routine Ctrl-C runs, and shutdown runs again first.
#pragma once

// Logs the interrupt line and clears the run flag. Its body runs at most once
// per process, however many threads call it at the same time.
void onInterrupt();

// True once onInterrupt has run (or is running).
bool interruptReceived();

// True once onInterrupt has finished. The run is over from then on, also when
// the routine could not obtain statusMutex to clear the run flag.
bool interruptFinished();
