// The process-wide status record, the fixed settings and the two mutexes
// that every thread meets in.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/pairing_mode.h"
#include "platform/mutex.h"

// Every wait on a shared mutex gives up after this long; none is infinite.
constexpr int kMutexTimeoutMs = 2000;

// Text field sizes, terminator included.
constexpr unsigned kPrefixSize = 128;
constexpr unsigned kLogNameSize = 128;
constexpr unsigned kConfigPathSize = 256;
// Port names hold device paths and remote-port names, not only "COM1".
constexpr unsigned kPortNameSize = 255;
// A dotted IPv4 address.
constexpr unsigned kBindAddressSize = 16;
// Leaves room for a separator and the default prefix, so that the prefix
// field can always fall back to the default name inside the root.
constexpr unsigned kImageRootSize = kPrefixSize - 5;

// Run-time status. Fields touched by more than one thread are read and
// written under statusMutex. imageCount and cameraPreTrigger are touched only
// by the camera thread once start-up is over.
struct ServerStatus {
  bool running;
  bool acquisitionActive;
  bool laserPowerOn;
  // Laser commands stored so far, so that a repeated "lasers 1" is seen as a
  // new request too.
  std::uint32_t laserRequests;
  bool cameraConnected;
  std::int32_t cameraInterval;  // milliseconds between triggers
  std::uint32_t triggerCount;
  std::uint32_t imageCount;
  char cameraFilePrefix[kPrefixSize];
  bool cameraPreTrigger;
};

// Settings fixed once start-up has read them.
struct ServerSettings {
  char configFilePath[kConfigPathSize];
  std::int32_t serverPort;
  std::int32_t serverMaxUsers;
  char bindAddress[kBindAddressSize];  // local address of the listener
  char logfilename[kLogNameSize];
  char triggerPortName[kPortNameSize];
  std::int32_t triggerBaudRate;
  std::uint16_t triggerBits;
  char triggerParity[2];  // the parity letter; only the first character is used
  std::uint16_t triggerStop;
  char laserPortName[kPortNameSize];
  std::int32_t laserBaudRate;
  std::uint16_t laserBits;
  char laserParity[2];
  std::uint16_t laserStop;
  PairingMode cameraPairing;  // zero-filled: REPAIR
  // The folder that every prefix must lie in; empty: anywhere.
  char cameraImageRoot[kImageRootSize];
};

// Zero-filled before main runs.
extern ServerStatus serverStatus;
extern ServerSettings serverSettings;

// statusMutex guards ServerStatus, the image-name queue and every log entry;
// it is re-entrant, since entries are written while it is held.
// messageMutex guards both directions of the message queue. No routine holds
// both. Created by start-up and never destroyed; null until then. Atomic,
// since the interrupt routine may run on its own thread during start-up.
extern std::atomic<platform::TimedMutex*> statusMutex;
extern std::atomic<platform::TimedMutex*> messageMutex;
