// The camera worker thread: the one thread that talks to the camera. It
// builds the camera handler, connects the camera, and then in every pass
// runs at most one received command and downloads at most one new image
// under the name the trigger thread prepared for it.
#pragma once

// Thread exit code when the loop ends.
constexpr int kNikonWorkerExitCode = 14;

// The thread body: start, then passes until running reads false. Returns
// kNikonWorkerExitCode. Every line goes to the server log behind
// "NikonWorkerThread():".
int NikonWorkerThread();

// The start steps: log, build cameraHandler, connect, record the result in
// cameraConnected, zero imageCount.
void startNikonWorker();

// One pass of the loop. False when running read false (the end line was
// logged).
bool runNikonWorkerPass();

// Starts NikonWorkerThread on a thread of its own. False when the thread
// cannot be created.
bool startNikonWorkerThread();

// Waits without a time-out for the thread to end; returns at once when it
// was never started.
void joinNikonWorkerThread();
