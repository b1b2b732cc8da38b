// The IPv4 address of a TCP peer, shared by the plain and the bounded
// connect.
#pragma once

#include <errno.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdio>

namespace platform {

// Looks host and port up for an IPv4 stream connection. Returns the list
// (release it with freeaddrinfo), or nullptr with errno EHOSTUNREACH.
inline addrinfo* resolveTcpAddress(const char* host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  char service[16];
  std::snprintf(service, sizeof service, "%d", port);
  if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) {
    errno = EHOSTUNREACH;
    return nullptr;
  }
  return found;
}

}  // namespace platform
