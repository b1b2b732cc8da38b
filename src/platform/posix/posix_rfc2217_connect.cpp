// The bounded connect on POSIX: a non-blocking connect watched with poll(),
// which, unlike select(), takes descriptors of any number.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>

#include "platform/rfc2217_connect.h"
#include "platform/posix/posix_address.h"

namespace platform {
namespace {

// Waits for a connect under way to end; returns its outcome as an errno
// value (0: connected).
int waitConnected(int fd, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return ETIMEDOUT;
    pollfd watched{fd, POLLOUT, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (ready == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

}  // namespace

bool socketConnectWithin(SocketHandle socket, const char* host, int port, int timeoutMs) {
  const int fd = static_cast<int>(socket);
  addrinfo* found = resolveTcpAddress(host, port);
  if (found == nullptr) return false;
  int error = 0;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    error = errno;
  } else {
    if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) error = waitConnected(fd, timeoutMs);
    }
    fcntl(fd, F_SETFL, flags);
  }
  freeaddrinfo(found);
  errno = error;
  return error == 0;
}

}  // namespace platform
