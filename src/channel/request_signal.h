// Lets the listener end the camera thread's pause between passes as soon
// as a request is queued, so that an idle server answers at once instead of
// at its next pass.
#pragma once

// Marks that a request waits in the received direction and wakes a thread
// in waitForRequest(). Any thread, at any time; never blocks for long.
void signalRequestQueued();

// Waits until a request was signalled since the last return, or at most
// timeoutMs milliseconds. Clears the signal.
void waitForRequest(int timeoutMs);
