// The IPv4 address of a TCP peer, shared by the plain and the bounded
// connect.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>

namespace platform {

// Looks host and port up for an IPv4 stream connection. Returns the list
// (release it with freeaddrinfo), or nullptr with the socket error
// WSAEHOSTUNREACH.
inline addrinfo* resolveTcpAddress(const char* host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  char service[16];
  std::snprintf(service, sizeof service, "%d", port);
  if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) {
    WSASetLastError(WSAEHOSTUNREACH);
    return nullptr;
  }
  return found;
}

}  // namespace platform
