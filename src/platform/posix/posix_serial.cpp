// The serial line on a POSIX terminal device: termios raw mode, modem-control
// ioctls for RTS, and an exclusive open.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/rfc2217_line.h"
#include "platform/serial.h"

namespace platform {
namespace {

struct BaudEntry {
  std::uint32_t rate;
  speed_t speed;
};

// Every rate termios can name; any other rate is refused.
const BaudEntry kBaudRates[] = {
    {0, B0},
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B500000
    {500000, B500000},
    {576000, B576000},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
#endif
};

bool speedForRate(std::uint32_t rate, speed_t* speed) {
  for (const BaudEntry& entry : kBaudRates) {
    if (entry.rate == rate) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

bool rateForSpeed(speed_t speed, std::uint32_t* rate) {
  for (const BaudEntry& entry : kBaudRates) {
    if (entry.speed == speed) {
      *rate = entry.rate;
      return true;
    }
  }
  return false;
}

bool sizeFlag(std::uint8_t byteSize, tcflag_t* flag) {
  switch (byteSize) {
    case 5:
      *flag = CS5;
      return true;
    case 6:
      *flag = CS6;
      return true;
    case 7:
      *flag = CS7;
      return true;
    case 8:
      *flag = CS8;
      return true;
    default:
      return false;
  }
}

bool parityFlags(std::uint8_t parity, tcflag_t* flags) {
  switch (parity) {
    case kSerialNoParity:
      *flags = 0;
      return true;
    case kSerialOddParity:
      *flags = PARENB | PARODD;
      return true;
    case kSerialEvenParity:
      *flags = PARENB;
      return true;
#ifdef CMSPAR
    case kSerialMarkParity:
      *flags = PARENB | CMSPAR | PARODD;
      return true;
    case kSerialSpaceParity:
      *flags = PARENB | CMSPAR;
      return true;
#endif
    default:
      return false;
  }
}

bool stopFlag(std::uint8_t stopBits, tcflag_t* flag) {
  switch (stopBits) {
    case kSerialOneStopBit:
      *flag = 0;
      return true;
    case kSerialTwoStopBits:
      *flag = CSTOPB;
      return true;
    default:
      return false;  // termios has no one and a half stop bits
  }
}

tcflag_t parityMask() {
#ifdef CMSPAR
  return PARENB | PARODD | CMSPAR;
#else
  return PARENB | PARODD;
#endif
}

class PosixSerialLine : public SerialLine {
 public:
  explicit PosixSerialLine(const char* portName) : name_(portName) {}
  ~PosixSerialLine() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixSerialLine(const PosixSerialLine&) = delete;
  PosixSerialLine& operator=(const PosixSerialLine&) = delete;

  bool open() override {
    if (fd_ >= 0) return fail(EBUSY);
    // Non-blocking, so a port that waits for carrier detect cannot hang the
    // open; the line's own I/O is blocking again right after.
    const int fd = ::open(name_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(errno);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return failClosing(fd, errno);
    // TIOCEXCL refuses later opens of the terminal, as Windows refuses to
    // share a COM port; it fails on things that are no terminal. It does not
    // hold against a privileged opener, so an advisory lock also keeps a
    // second server (or a second line of this one) off the same port.
    if (ioctl(fd, TIOCEXCL) < 0) return failClosing(fd, errno);
    if (flock(fd, LOCK_EX | LOCK_NB) < 0) return failClosing(fd, errno);
    fd_ = fd;
    rtsControl_ = kSerialRtsControlEnable;  // a terminal raises RTS on open
    return true;
  }

  bool getState(SerialDcb* dcb) override {
    termios tio{};
    if (tcgetattr(fd_, &tio) < 0) return fail(errno);
    SerialDcb read{};
    read.DCBlength = sizeof(SerialDcb);
    // A device left at a speed the table cannot name (by another program, or
    // a custom divisor) must still open: its rate reads as 0, and setState
    // replaces it with the configured one.
    if (!rateForSpeed(cfgetospeed(&tio), &read.BaudRate)) read.BaudRate = 0;
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        read.ByteSize = 5;
        break;
      case CS6:
        read.ByteSize = 6;
        break;
      case CS7:
        read.ByteSize = 7;
        break;
      default:
        read.ByteSize = 8;
        break;
    }
    const tcflag_t parity = tio.c_cflag & parityMask();
    if ((parity & PARENB) == 0) {
      read.Parity = kSerialNoParity;
#ifdef CMSPAR
    } else if ((parity & CMSPAR) != 0) {
      read.Parity = (parity & PARODD) != 0 ? kSerialMarkParity : kSerialSpaceParity;
#endif
    } else {
      read.Parity = (parity & PARODD) != 0 ? kSerialOddParity : kSerialEvenParity;
    }
    read.StopBits = (tio.c_cflag & CSTOPB) != 0 ? kSerialTwoStopBits : kSerialOneStopBit;
    read.fParity = (tio.c_iflag & INPCK) != 0 ? 1 : 0;
    read.fRtsControl = (tio.c_cflag & CRTSCTS) != 0 ? kSerialRtsControlHandshake : rtsControl_;
    *dcb = read;
    return true;
  }

  bool setState(const SerialDcb& dcb) override {
    termios tio{};
    if (tcgetattr(fd_, &tio) < 0) return fail(errno);
    speed_t speed;
    tcflag_t size;
    tcflag_t parity;
    tcflag_t stop;
    if (!speedForRate(dcb.BaudRate, &speed) || !sizeFlag(dcb.ByteSize, &size) ||
        !parityFlags(dcb.Parity, &parity) || !stopFlag(dcb.StopBits, &stop)) {
      return fail(EINVAL);
    }
    bool handshake = false;
    switch (dcb.fRtsControl) {
      case kSerialRtsControlDisable:
      case kSerialRtsControlEnable:
        break;
      case kSerialRtsControlHandshake:
        handshake = true;
        break;
      default:
        return fail(EINVAL);  // termios cannot raise RTS only while sending
    }
    // Raw mode: bytes pass unchanged in both directions, no echo, no signals.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | INPCK);
    if (dcb.fParity != 0) tio.c_iflag |= INPCK;
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | CSTOPB | parityMask() | CRTSCTS);
    tio.c_cflag |= size | stop | parity | CLOCAL | CREAD;
    if (handshake) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) < 0 || cfsetospeed(&tio, speed) < 0) return fail(errno);
    if (tcsetattr(fd_, TCSANOW, &tio) < 0) return fail(errno);
    // tcsetattr succeeds when any part was applied; a rate or size the
    // device refused shows only in what it now reports.
    termios applied{};
    if (tcgetattr(fd_, &applied) < 0) return fail(errno);
    if (cfgetospeed(&applied) != speed || (applied.c_cflag & CSIZE) != size ||
        (applied.c_cflag & CSTOPB) != stop || (applied.c_cflag & parityMask()) != parity) {
      return fail(EINVAL);
    }
    if (dcb.fRtsControl != rtsControl_ && !handshake) {
      // Windows moves RTS when its control mode changes. A line without
      // modem-control lines (a pseudo-terminal) has no RTS to move, so the
      // result is not examined.
      int bits = TIOCM_RTS;
      ioctl(fd_, dcb.fRtsControl == kSerialRtsControlEnable ? TIOCMBIS : TIOCMBIC, &bits);
    }
    rtsControl_ = dcb.fRtsControl;
    return true;
  }

  bool transmitByte(unsigned char byte) override {
    // POSIX has no way to put a byte ahead of queued output; this line writes
    // nothing else, so nothing is ever queued ahead of it.
    for (;;) {
      const ssize_t written = ::write(fd_, &byte, 1);
      if (written == 1) return true;
      if (written < 0 && errno == EINTR) continue;
      return fail(written < 0 ? errno : EIO);
    }
  }

  bool setRts(bool on) override {
    int bits = TIOCM_RTS;
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) < 0) return fail(errno);
    return true;
  }

  bool check() override {
    // A terminal whose device went away (a USB adapter pulled, the other side
    // of a pseudo-terminal closed) is hung up: every ioctl on it then fails
    // with EIO.
    termios tio{};
    if (tcgetattr(fd_, &tio) < 0) return fail(errno);
    return true;
  }

  bool close() override {
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is released even when close reports an error.
    if (::close(fd) < 0) return fail(errno);
    return true;
  }

  unsigned long lastError() const override { return lastError_; }

 private:
  bool fail(int error) {
    lastError_ = static_cast<unsigned long>(error);
    return false;
  }

  bool failClosing(int fd, int error) {
    ::close(fd);
    return fail(error);
  }

  std::string name_;
  int fd_ = -1;
  std::uint32_t rtsControl_ = kSerialRtsControlEnable;
  unsigned long lastError_ = 0;
};

}  // namespace

std::unique_ptr<SerialLine> createSerialLine(const char* portName) {
  if (isRfc2217PortName(portName)) return createRfc2217SerialLine(portName);
  try {
    return std::unique_ptr<SerialLine>(new PosixSerialLine(portName == nullptr ? "" : portName));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace platform
