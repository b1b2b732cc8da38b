// Status accessors for command processing. Each waits at most
// kMutexTimeoutMs for statusMutex and does its one read or write only when
// the wait succeeded; a getter then answers false, a setter stores nothing
// and returns false. A thread that already holds statusMutex may call them.
#pragma once

#include <cstdint>

// The run flag; false also when the mutex is not obtained.
bool getRunning();
bool getAcquisitionActive();
bool setAcquisitionActive(bool active);
bool setLaserPowerOn(bool on);
bool getCameraConnected();
bool setCameraConnected(bool connected);
// Writes the interval to *interval only on success.
bool getCameraInterval(std::int32_t* interval);
bool setCameraInterval(std::int32_t interval);
