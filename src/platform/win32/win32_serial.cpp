// The serial line on a Windows COM port: synchronous handle, DCB settings.
#include <windows.h>

#include <new>
#include <string>

#include "platform/rfc2217_line.h"
#include "platform/serial.h"

namespace platform {
namespace {

class Win32SerialLine : public SerialLine {
 public:
  explicit Win32SerialLine(const char* portName) : name_(portName) {}
  ~Win32SerialLine() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Win32SerialLine(const Win32SerialLine&) = delete;
  Win32SerialLine& operator=(const Win32SerialLine&) = delete;

  bool open() override {
    if (handle_ != INVALID_HANDLE_VALUE) return fail(ERROR_BUSY);
    // No sharing: a second opener, in this process or another, is refused.
    // No overlapped flag: every call on the port completes before it returns.
    const HANDLE handle = CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return fail(GetLastError());
    handle_ = handle;
    return true;
  }

  bool getState(SerialDcb* dcb) override {
    DCB native{};
    native.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &native)) return fail(GetLastError());
    last_ = native;
    SerialDcb read{};
    read.DCBlength = sizeof(SerialDcb);
    read.BaudRate = native.BaudRate;
    read.fParity = native.fParity;
    read.fRtsControl = native.fRtsControl;
    read.ByteSize = native.ByteSize;
    read.Parity = native.Parity;
    read.StopBits = native.StopBits;
    *dcb = read;
    return true;
  }

  bool setState(const SerialDcb& dcb) override {
    // Every field the record does not carry keeps what GetCommState gave.
    DCB native = last_;
    native.DCBlength = sizeof(DCB);
    native.BaudRate = dcb.BaudRate;
    native.fParity = dcb.fParity != 0 ? 1 : 0;
    native.fRtsControl = dcb.fRtsControl & 3;
    native.ByteSize = dcb.ByteSize;
    native.Parity = dcb.Parity;
    native.StopBits = dcb.StopBits;
    if (!SetCommState(handle_, &native)) return fail(GetLastError());
    last_ = native;
    return true;
  }

  bool transmitByte(unsigned char byte) override {
    if (!TransmitCommChar(handle_, static_cast<char>(byte))) return fail(GetLastError());
    return true;
  }

  bool setRts(bool on) override {
    if (!EscapeCommFunction(handle_, on ? SETRTS : CLRRTS)) return fail(GetLastError());
    return true;
  }

  bool check() override {
    // The driver of a removed device (a USB adapter pulled) fails every
    // request on the handle it left behind.
    DCB native{};
    native.DCBlength = sizeof(DCB);
    if (!GetCommState(handle_, &native)) return fail(GetLastError());
    return true;
  }

  bool close() override {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) return fail(GetLastError());
    return true;
  }

  unsigned long lastError() const override { return lastError_; }

 private:
  bool fail(DWORD error) {
    lastError_ = error;
    return false;
  }

  std::string name_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB last_{};
  unsigned long lastError_ = 0;
};

}  // namespace

std::unique_ptr<SerialLine> createSerialLine(const char* portName) {
  if (isRfc2217PortName(portName)) return createRfc2217SerialLine(portName);
  try {
    return std::unique_ptr<SerialLine>(new Win32SerialLine(portName == nullptr ? "" : portName));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace platform
