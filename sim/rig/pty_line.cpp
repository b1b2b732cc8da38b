#include "rig/pty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace rig {

PtyLine::~PtyLine() { close(); }

void PtyLine::close() {
  if (!link_.empty()) ::unlink(link_.c_str());
  link_.clear();
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

bool PtyLine::open(const std::string& link) {
  close();
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot make a pseudo-terminal: %s\n", std::strerror(error));
    return false;
  }
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot unlock the pseudo-terminal: %s\n",
                 std::strerror(error));
    return false;
  }
  char name[256] = {};
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot name the pseudo-terminal: %s\n",
                 std::strerror(error));
    return false;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot open %s: %s\n", name, std::strerror(error));
    return false;
  }
  // Raw mode, so that a zero byte arrives as it was sent, whatever the
  // server sets later.
  termios settings{};
  if (::tcgetattr(slave_, &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(slave_, TCSANOW, &settings);
  }
  if (!link.empty()) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0) {
      if (!S_ISLNK(info.st_mode)) {
        std::fprintf(stderr, "skerrow-rig: %s exists and is not a symlink; not replaced\n",
                     link.c_str());
        return false;
      }
      ::unlink(link.c_str());
    }
    if (::symlink(name, link.c_str()) != 0) {
      const int error = errno;
      std::fprintf(stderr, "skerrow-rig: cannot link %s to %s: %s\n", link.c_str(), name,
                   std::strerror(error));
      return false;
    }
    link_ = link;
  }
  return true;
}

int PtyLine::read(std::uint8_t* buffer, std::size_t size, int timeoutMs) {
  // A closed terminal is polled as no descriptor: the wait still times out.
  pollfd watched{master_, POLLIN, 0};
  const int ready = ::poll(&watched, 1, timeoutMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  const ssize_t n = ::read(master_, buffer, size);
  if (n < 0) return (errno == EINTR || errno == EAGAIN) ? 0 : -1;
  return static_cast<int>(n);
}

}  // namespace rig
