// The bounded connect on Windows: a non-blocking connect watched with
// select(), which reports success as writable and failure as an exception.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>

#include "platform/rfc2217_connect.h"
#include "platform/win32/win32_address.h"

namespace platform {
namespace {

// Waits for a connect under way to end; returns its outcome as a Winsock
// error code (0: connected).
int waitConnected(SOCKET s, int timeoutMs) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int ready = select(0, nullptr, &writable, &failed, &limit);
  if (ready < 0) return WSAGetLastError();
  if (ready == 0) return WSAETIMEDOUT;
  if (!FD_ISSET(s, &failed)) return 0;
  int error = 0;
  int length = sizeof error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  return error != 0 ? error : WSAECONNREFUSED;
}

}  // namespace

bool socketConnectWithin(SocketHandle socket, const char* host, int port, int timeoutMs) {
  const SOCKET s = static_cast<SOCKET>(socket);
  addrinfo* found = resolveTcpAddress(host, port);
  if (found == nullptr) return false;
  int error = 0;
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) {
    error = WSAGetLastError();
  } else {
    if (::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) error = waitConnected(s, timeoutMs);
    }
    u_long off = 0;
    ioctlsocket(s, FIONBIO, &off);
  }
  freeaddrinfo(found);
  WSASetLastError(error);
  return error == 0;
}

}  // namespace platform
