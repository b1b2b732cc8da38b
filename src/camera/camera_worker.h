// The camera worker thread: the one thread that talks to the camera. It
// builds the camera handler, connects the camera, and then in every pass
// runs at most one received command and downloads at most one new image
// under the name the trigger thread prepared for it.
#pragma once

// Thread exit code when the loop ends.
constexpr int kCameraWorkerExitCode = 14;

// The thread body: start, then passes until running reads false. Returns
// kCameraWorkerExitCode. Every line goes to the server log behind
// "CameraWorkerThread():".
int CameraWorkerThread();

// The start steps: log, build cameraHandler, connect, record the result in
// cameraConnected, zero imageCount.
void startCameraWorker();

// One pass of the loop. False when running read false (the end line was
// logged).
bool runCameraWorkerPass();

// Starts CameraWorkerThread on a thread of its own. False when the thread
// cannot be created.
bool startCameraWorkerThread();

// Waits without a time-out for the thread to end; returns at once when it
// was never started.
void joinCameraWorkerThread();
