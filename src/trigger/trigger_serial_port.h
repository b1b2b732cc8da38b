// One serial port of the trigger subsystem: the trigger line, on which each
// camera trigger is a single zero byte, or the laser-power line, whose RTS
// line switches the lasers. Every message goes to standard error, never to
// the server log. Takes no locks: one thread uses an object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "core/log.h"
#include "platform/serial.h"

class triggerSerialPort {
 public:
  // Opens the named port through the platform's serial line, holds RTS
  // inactive and sets 4800 baud, then reads the settings back into dcb. The
  // object always exists afterwards; isOpen tells whether the port is usable.
  explicit triggerSerialPort(const char* name);
  // The same through the given line (which must not be open yet); a null
  // line fails like a port that does not exist. messages: where the object
  // prints (standard error by default); nullptr prints nothing, for the
  // repeated attempts to reopen a lost port.
  triggerSerialPort(const char* name, std::unique_ptr<platform::SerialLine> line,
                    std::FILE* messages = stderr);
  triggerSerialPort(const triggerSerialPort&) = delete;
  triggerSerialPort& operator=(const triggerSerialPort&) = delete;

  // Opens portName exclusively. Used by the constructor.
  bool openSerialPort();

  // Checks all four values, printing one message for each value refused, and
  // applies them only when all pass. Returns false at once, silently, when
  // the port is closed. A refusal by the driver closes the port for good.
  bool changePortSettings(std::int32_t baudRate, std::uint8_t byteSize, char parity,
                          std::uint8_t stopBits);

  // Sends one zero byte ahead of pending output. Returns false at once,
  // silently, when the port is closed; a failed send closes it for good.
  bool sendTrigger();

  // Raises (true) or lowers (false) RTS; the result is the system call's.
  // Prints nothing. False on a closed port.
  bool setRTS(bool on);

  // Asks the driver whether the device is still there. False when the port
  // is closed, or when the device is gone: that failure is printed and
  // closes the port.
  bool checkLine();

  // Closes the port when it is open.
  void closeSerialPort();

  // The settings as last read from or written to the driver.
  platform::SerialDcb dcb{};
  // The port name as configured, at most 254 characters.
  char portName[255] = {};
  // True from a successful open until a failure or closeSerialPort().
  bool isOpen = false;

 private:
  void initialise();
  void print(const char* format, ...) SKERROW_PRINTF(2, 3);
  // Closes after a failure, printing the close failure with who's name.
  void closeAfterFailure(const char* who);

  std::unique_ptr<platform::SerialLine> portHandle;
  std::FILE* messages_ = stderr;
  bool nameTooLong_ = false;
};
