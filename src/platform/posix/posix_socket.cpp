#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/socket.h"
#include "platform/posix/posix_address.h"

namespace platform {

bool socketFitsSet(SocketHandle socket) { return socket >= 0 && socket < FD_SETSIZE; }

bool socketStartup() { return true; }
void socketCleanup() {}

SocketHandle socketOpenTcp() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : fd;
}

void socketAllowQuickRebind(SocketHandle socket) {
  // On Linux this only lets a bind pass while old connections sit in
  // TIME_WAIT; a second live listener on the port still fails.
  const int on = 1;
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool socketBind(SocketHandle socket, const char* address, int port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address, &local.sin_addr) != 1) {
    errno = EINVAL;
    return false;
  }
  return ::bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

bool socketListen(SocketHandle socket) {
  return ::listen(static_cast<int>(socket), SOMAXCONN) == 0;
}

bool socketSetNonBlocking(SocketHandle socket) {
  const int fd = static_cast<int>(socket);
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void socketSendAtOnce(SocketHandle socket) {
  const int on = 1;
  setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool socketConnect(SocketHandle socket, const char* host, int port) {
  addrinfo* found = resolveTcpAddress(host, port);
  if (found == nullptr) return false;
  const bool connected =
      ::connect(static_cast<int>(socket), found->ai_addr, found->ai_addrlen) == 0;
  const int error = errno;
  freeaddrinfo(found);
  errno = error;
  return connected;
}

SocketResult socketAccept(SocketHandle listener, SocketHandle* client, char* peerAddress) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int fd = ::accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&peer), &length);
  if (fd < 0)
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? SocketResult::kWouldBlock
                                                     : SocketResult::kError;
  *client = fd;
  if (inet_ntop(AF_INET, &peer.sin_addr, peerAddress, 16) == nullptr) {
    std::strcpy(peerAddress, "0.0.0.0");
  }
  return SocketResult::kOk;
}

SocketResult socketReceive(SocketHandle socket, void* buffer, int size, int* received) {
  const ssize_t got = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), 0);
  if (got > 0) {
    *received = static_cast<int>(got);
    return SocketResult::kOk;
  }
  if (got == 0) return SocketResult::kClosed;
  return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? SocketResult::kWouldBlock
                                                                     : SocketResult::kError;
}

int socketSend(SocketHandle socket, const void* data, int size) {
  // A peer that has gone must not end the whole server with SIGPIPE.
  const ssize_t sent =
      ::send(static_cast<int>(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  return sent < 0 ? -1 : static_cast<int>(sent);
}

int socketLocalPort(SocketHandle socket) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return -1;
  }
  return ntohs(local.sin_port);
}

int socketPendingError(SocketHandle socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
    return errno;
  return error;
}

void socketClose(SocketHandle socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

namespace {

void fill(const SocketSet* set, fd_set* fds, int* highest) {
  FD_ZERO(fds);
  if (set == nullptr) return;
  for (int i = 0; i < set->size(); ++i) {
    const int fd = static_cast<int>(set->at(i));
    FD_SET(fd, fds);  // SocketSet::add refused anything at or above FD_SETSIZE
    if (fd > *highest) *highest = fd;
  }
}

void keepReady(SocketSet* set, const fd_set* fds) {
  if (set == nullptr) return;
  for (int i = set->size() - 1; i >= 0; --i) {
    const SocketHandle socket = set->at(i);
    if (!FD_ISSET(static_cast<int>(socket), fds)) set->remove(socket);
  }
}

}  // namespace

int socketSelect(SocketSet* readSet, SocketSet* exceptSet, int timeoutUs) {
  fd_set reads;
  fd_set excepts;
  int highest = -1;
  fill(readSet, &reads, &highest);
  fill(exceptSet, &excepts, &highest);
  timeval wait{timeoutUs / 1000000, timeoutUs % 1000000};
  const int ready = ::select(highest + 1, &reads, nullptr, &excepts, &wait);
  if (ready < 0) {
    const int error = errno;
    if (readSet) readSet->clear();
    if (exceptSet) exceptSet->clear();
    errno = error;
    return -1;
  }
  keepReady(readSet, &reads);
  keepReady(exceptSet, &excepts);
  return ready;
}

}  // namespace platform
