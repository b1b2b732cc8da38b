// A serial line: open a port for this process alone, read and write its line
// settings, send one byte ahead of pending output, raise and lower RTS.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// Values of SerialDcb::Parity, as a Windows DCB holds them.
constexpr std::uint8_t kSerialNoParity = 0;
constexpr std::uint8_t kSerialOddParity = 1;
constexpr std::uint8_t kSerialEvenParity = 2;
constexpr std::uint8_t kSerialMarkParity = 3;
constexpr std::uint8_t kSerialSpaceParity = 4;

// Values of SerialDcb::StopBits.
constexpr std::uint8_t kSerialOneStopBit = 0;
constexpr std::uint8_t kSerialOne5StopBits = 1;
constexpr std::uint8_t kSerialTwoStopBits = 2;

// Values of SerialDcb::fRtsControl.
constexpr std::uint32_t kSerialRtsControlDisable = 0;    // held inactive; moved only on request
constexpr std::uint32_t kSerialRtsControlEnable = 1;     // raised while the port is open
constexpr std::uint32_t kSerialRtsControlHandshake = 2;  // hardware flow control
constexpr std::uint32_t kSerialRtsControlToggle = 3;     // raised while sending

// The code a missing port gives on both platforms (ERROR_FILE_NOT_FOUND,
// ENOENT).
constexpr unsigned long kSerialNoSuchPort = 2;

// The line settings the server reads and writes, with the names and values
// of the Windows DCB fields they stand for. Settings a line has beyond these
// (flow control, special characters, ...) are kept by the line as the driver
// reported them and written back unchanged.
struct SerialDcb {
  std::uint32_t DCBlength;    // the size of this record; informational
  std::uint32_t BaudRate;     // bits per second
  std::uint32_t fParity;      // nonzero: parity is checked on input
  std::uint32_t fRtsControl;  // kSerialRtsControl*
  std::uint8_t ByteSize;      // data bits
  std::uint8_t Parity;        // kSerial*Parity
  std::uint8_t StopBits;      // kSerial*StopBit(s)
};

// One serial port. Every call is synchronous. A call that fails returns false
// and keeps the operating system's error code, read right after the failing
// call, for lastError(). Not safe for concurrent use: one thread owns a line.
class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Opens the port for reading and writing, refusing to share it with any
  // other opener. A missing port fails with kSerialNoSuchPort.
  virtual bool open() = 0;

  // Reads the current settings into *dcb; *dcb is unchanged on failure. A
  // rate the platform cannot name (a POSIX device left at a custom speed)
  // reads as BaudRate 0; setState still applies any rate it can name.
  virtual bool getState(SerialDcb* dcb) = 0;

  // Applies the settings; everything the record does not hold keeps the
  // value last read from the driver. A rate, size, parity or stop-bit value
  // the device cannot take fails the call, and nothing is then promised
  // about which settings were applied.
  virtual bool setState(const SerialDcb& dcb) = 0;

  // Sends one byte ahead of any output still pending.
  virtual bool transmitByte(unsigned char byte) = 0;

  // Raises (true) or lowers (false) the RTS line.
  virtual bool setRts(bool on) = 0;

  // Asks the driver whether the port is still there: false when the device
  // was removed (a USB adapter pulled) or a remote port's connection was
  // lost. Sends nothing on a local port; cheap enough to call every second.
  virtual bool check() = 0;

  // Closes the port. The line cannot be used afterwards, whatever the result.
  virtual bool close() = 0;

  // The error code of the last failed call; 0 before any failure.
  virtual unsigned long lastError() const = 0;
};

// A line for the port of that name, not yet open. A name starting with
// "rfc2217://" gives a remote port served over TCP (platform/rfc2217_line.h);
// on POSIX every other name is a device path, and no "COMn" name is mapped.
// Returns nullptr only when memory runs out.
std::unique_ptr<SerialLine> createSerialLine(const char* portName);

}  // namespace platform
