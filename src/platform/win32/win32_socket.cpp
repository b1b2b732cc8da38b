#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/socket.h"
#include "platform/win32/win32_address.h"

namespace platform {

bool socketFitsSet(SocketHandle socket) { return socket != kNoSocket; }

bool socketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void socketCleanup() { WSACleanup(); }

SocketHandle socketOpenTcp() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

// SO_REUSEADDR on Windows lets a second server steal a port in use.
void socketAllowQuickRebind(SocketHandle) {}

bool socketBind(SocketHandle socket, const char* address, int port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<u_short>(port));
  if (inet_pton(AF_INET, address, &local.sin_addr) != 1) {
    WSASetLastError(WSAEINVAL);
    return false;
  }
  return ::bind(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&local), sizeof local) ==
         0;
}

bool socketListen(SocketHandle socket) {
  return ::listen(static_cast<SOCKET>(socket), SOMAXCONN) == 0;
}

bool socketSetNonBlocking(SocketHandle socket) {
  u_long on = 1;
  return ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &on) == 0;
}

void socketSendAtOnce(SocketHandle socket) {
  const BOOL on = TRUE;
  setsockopt(static_cast<SOCKET>(socket), IPPROTO_TCP, TCP_NODELAY,
             reinterpret_cast<const char*>(&on), sizeof on);
}

bool socketConnect(SocketHandle socket, const char* host, int port) {
  addrinfo* found = resolveTcpAddress(host, port);
  if (found == nullptr) return false;
  const bool connected = ::connect(static_cast<SOCKET>(socket), found->ai_addr,
                                   static_cast<int>(found->ai_addrlen)) == 0;
  const int error = WSAGetLastError();
  freeaddrinfo(found);
  WSASetLastError(error);
  return connected;
}

SocketResult socketAccept(SocketHandle listener, SocketHandle* client, char* peerAddress) {
  sockaddr_in peer{};
  int length = sizeof peer;
  const SOCKET s =
      ::accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&peer), &length);
  if (s == INVALID_SOCKET) {
    return WSAGetLastError() == WSAEWOULDBLOCK ? SocketResult::kWouldBlock : SocketResult::kError;
  }
  *client = static_cast<SocketHandle>(s);
  if (inet_ntop(AF_INET, &peer.sin_addr, peerAddress, 16) == nullptr) {
    std::strcpy(peerAddress, "0.0.0.0");
  }
  return SocketResult::kOk;
}

SocketResult socketReceive(SocketHandle socket, void* buffer, int size, int* received) {
  const int got = ::recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), size, 0);
  if (got > 0) {
    *received = got;
    return SocketResult::kOk;
  }
  if (got == 0) return SocketResult::kClosed;
  return WSAGetLastError() == WSAEWOULDBLOCK ? SocketResult::kWouldBlock : SocketResult::kError;
}

int socketSend(SocketHandle socket, const void* data, int size) {
  const int sent = ::send(static_cast<SOCKET>(socket), static_cast<const char*>(data), size, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int socketLocalPort(SocketHandle socket) {
  sockaddr_in local{};
  int length = sizeof local;
  if (getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return -1;
  }
  return ntohs(local.sin_port);
}

int socketPendingError(SocketHandle socket) {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                 &length) != 0) {
    return WSAGetLastError();
  }
  return error;
}

void socketClose(SocketHandle socket) {
  if (socket != kNoSocket) closesocket(static_cast<SOCKET>(socket));
}

namespace {

void fill(const SocketSet* set, fd_set* fds) {
  FD_ZERO(fds);
  if (set == nullptr) return;
  for (int i = 0; i < set->size(); ++i) FD_SET(static_cast<SOCKET>(set->at(i)), fds);
}

void keepReady(SocketSet* set, fd_set* fds) {
  if (set == nullptr) return;
  for (int i = set->size() - 1; i >= 0; --i) {
    const SocketHandle socket = set->at(i);
    if (!FD_ISSET(static_cast<SOCKET>(socket), fds)) set->remove(socket);
  }
}

}  // namespace

int socketSelect(SocketSet* readSet, SocketSet* exceptSet, int timeoutUs) {
  fd_set reads;
  fd_set excepts;
  fill(readSet, &reads);
  fill(exceptSet, &excepts);
  // Windows' select refuses three empty sets; sleep out the time-out instead.
  if (reads.fd_count == 0 && excepts.fd_count == 0) {
    Sleep(static_cast<DWORD>(timeoutUs / 1000));
    return 0;
  }
  timeval wait{timeoutUs / 1000000, timeoutUs % 1000000};
  const int ready = ::select(0, &reads, nullptr, &excepts, &wait);
  if (ready == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (readSet) readSet->clear();
    if (exceptSet) exceptSet->clear();
    WSASetLastError(error);
    return -1;
  }
  keepReady(readSet, &reads);
  keepReady(exceptSet, &excepts);
  return ready;
}

}  // namespace platform
