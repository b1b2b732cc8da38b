#include "trigger/trigger_serial_port.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char* const kConstructor = "triggerSerialPort()";
const char* const kChange = "triggerSerialPort::changePortSettings()";
const char* const kSend = "triggerSerialPort::sendTrigger()";

bool acceptedBaudRate(std::int32_t rate) {
  switch (rate) {
    case 110:
    case 300:
    case 600:
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 14400:
    case 19200:
    case 38400:
    case 56000:
    case 57600:
    case 115200:
    case 128000:
    case 256000:
      return true;
    default:
      return false;
  }
}

}  // namespace

triggerSerialPort::triggerSerialPort(const char* name)
    : triggerSerialPort(name, platform::createSerialLine(name)) {}

triggerSerialPort::triggerSerialPort(const char* name, std::unique_ptr<platform::SerialLine> line,
                                     std::FILE* messages)
    : portHandle(std::move(line)), messages_(messages) {
  if (name == nullptr) name = "";
  // A longer name is refused rather than cut: a shortened path could name a
  // different device. The copy kept for messages is cut.
  nameTooLong_ = std::strlen(name) > sizeof portName - 1;
  std::snprintf(portName, sizeof portName, "%s", name);
  isOpen = false;
  initialise();
}

void triggerSerialPort::initialise() {
  if (!openSerialPort()) {
    print("%s: ERROR Cannot open serial port `%s'\n", kConstructor, portName);
    return;
  }
  dcb.DCBlength = sizeof dcb;
  if (portHandle->getState(&dcb)) {
    // RTS held inactive and never moved by the driver on its own, so only
    // setRTS changes it.
    dcb.fRtsControl = platform::kSerialRtsControlDisable;
    dcb.BaudRate = 4800;
    if (!portHandle->setState(dcb)) {
      print("ERROR: Cannot set comm port state. ERRNO %lu\n", portHandle->lastError());
      if (!portHandle->close()) {
        print("ERROR: Cannot close serial port. ERRNO %lu\n", portHandle->lastError());
      }
      isOpen = false;
      return;
    }
    if (portHandle->getState(&dcb)) return;
  }
  print("%s: ERROR: Cannot retrieve comm port state. ERRNO %lu\n", kConstructor,
        portHandle->lastError());
  closeAfterFailure(kConstructor);
}

bool triggerSerialPort::openSerialPort() {
  isOpen = false;
  if (nameTooLong_) {
    print("triggerSerialPort::openSerialPort(): ERROR: Port name too long\n");
    return false;
  }
  if (portHandle == nullptr || !portHandle->open()) {
    const unsigned long error =
        portHandle == nullptr ? platform::kSerialNoSuchPort : portHandle->lastError();
    if (error == platform::kSerialNoSuchPort) {
      print("triggerSerialPort::openSerialPort(): ERROR: Invalid COM Port\n");
    } else {
      print("triggerSerialPort::openSerialPort(): ERROR: Unknown Error %lu\n", error);
    }
    return false;
  }
  isOpen = true;
  return true;
}

bool triggerSerialPort::changePortSettings(std::int32_t baudRate, std::uint8_t byteSize,
                                           char parity, std::uint8_t stopBits) {
  if (!isOpen) return false;
  bool valid = true;
  if (!acceptedBaudRate(baudRate)) {
    print("%s: ERROR: Invalid baud rate [%i]\n", kChange, baudRate);
    valid = false;
  }
  // 9 passes here; a driver that cannot send nine data bits refuses it below.
  if (byteSize < 5 || byteSize > 9) {
    print("%s: ERROR: Invalid byte size [%i]\n", kChange, byteSize);
    valid = false;
  }
  std::uint8_t parityValue = platform::kSerialNoParity;
  switch (parity) {
    case 'N':
      parityValue = platform::kSerialNoParity;
      break;
    case 'O':
      parityValue = platform::kSerialOddParity;
      break;
    case 'E':
      parityValue = platform::kSerialEvenParity;
      break;
    default:
      print("%s: ERROR: Invalid parity [int:%i]\n", kChange,
            static_cast<int>(static_cast<signed char>(parity)));
      valid = false;
  }
  std::uint8_t stopValue = platform::kSerialOneStopBit;
  switch (stopBits) {
    case 1:
      stopValue = platform::kSerialOneStopBit;
      break;
    case 2:
      stopValue = platform::kSerialTwoStopBits;
      break;
    default:
      print("%s: ERROR: Invalid stop bits [int:%i]\n", kChange, stopBits);
      valid = false;
  }
  if (!valid) return false;

  dcb.BaudRate = static_cast<std::uint32_t>(baudRate);
  dcb.ByteSize = byteSize;
  dcb.Parity = parityValue;
  dcb.StopBits = stopValue;
  if (portHandle->setState(dcb)) return true;
  print("%s: ERROR: Cannot set comm port state. ERRNO %lu\n", kChange, portHandle->lastError());
  closeAfterFailure(kChange);
  return false;
}

bool triggerSerialPort::sendTrigger() {
  if (!isOpen) return false;
  if (portHandle->transmitByte(0)) return true;
  print("%s: ERROR: Cannot send zero byte. ERRNO %lu\n", kSend, portHandle->lastError());
  closeAfterFailure(kSend);
  return false;
}

bool triggerSerialPort::setRTS(bool on) { return isOpen && portHandle->setRts(on); }

bool triggerSerialPort::checkLine() {
  if (!isOpen) return false;
  if (portHandle->check()) return true;
  print("triggerSerialPort::checkLine(): ERROR: Port `%s' is gone. ERRNO %lu\n", portName,
        portHandle->lastError());
  closeAfterFailure("triggerSerialPort::checkLine()");
  return false;
}

void triggerSerialPort::closeSerialPort() {
  if (!isOpen) return;
  closeAfterFailure("triggerSerialPort::closeSerialPort()");
}

void triggerSerialPort::closeAfterFailure(const char* who) {
  if (!portHandle->close()) {
    print("%s: ERROR: Cannot close serial port. ERRNO %lu\n", who, portHandle->lastError());
  }
  isOpen = false;
}

void triggerSerialPort::print(const char* format, ...) {
  if (messages_ == nullptr) return;
  std::va_list args;
  va_start(args, format);
  std::vfprintf(messages_, format, args);
  va_end(args);
}
