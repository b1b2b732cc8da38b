// Status accessors for command processing. Each waits at most
// kMutexTimeoutMs for statusMutex and does its one read or write only when
// the wait succeeded; a getter then answers false, a setter stores nothing
// and returns false. A thread that already holds statusMutex may call them.
#pragma once

#include <cstdint>

// The run flag. A read that does not obtain the mutex answers the last value
// read, so that a slow log write (a paused console, a full pipe, a slow disk)
// holding the mutex cannot end the run; such reads are reported once the
// mutex is obtained again, in at most one server-log line a minute. False
// once the interrupt routine has finished, whether or not it could clear the
// flag.
bool getRunning();
bool getAcquisitionActive();
bool setAcquisitionActive(bool active);
bool setLaserPowerOn(bool on);
bool getCameraConnected();
bool setCameraConnected(bool connected);
// Writes the interval to *interval only on success.
bool getCameraInterval(std::int32_t* interval);
bool setCameraInterval(std::int32_t interval);
