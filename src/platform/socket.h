// TCP sockets: Winsock on Windows, BSD sockets on POSIX.
#pragma once

#include <cstdint>

namespace platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// What a receive or accept came to.
enum class SocketResult {
  kOk,          // bytes moved, or a connection taken
  kClosed,      // the peer closed the connection (receive only)
  kWouldBlock,  // nothing to do now on a non-blocking socket
  kError,       // anything else; lastSocketError() tells what
};

// Starts and stops the socket layer (WSAStartup 2.2 / WSACleanup on Windows).
bool socketStartup();
void socketCleanup();

// A new IPv4 TCP socket, or kNoSocket (lastSocketError() tells why).
SocketHandle socketOpenTcp();

// Lets a restarted server bind its port while connections of the previous
// run sit in TIME_WAIT. POSIX only; on Windows the option would let a second
// server take a port that is in use, so this does nothing there.
void socketAllowQuickRebind(SocketHandle socket);

// Binds to a dotted IPv4 address and a port. False on failure, or when the
// address is not a dotted IPv4 address.
bool socketBind(SocketHandle socket, const char* address, int port);
// Listens with the platform's largest backlog.
bool socketListen(SocketHandle socket);
// Makes the socket non-blocking; the result is not examined by callers.
bool socketSetNonBlocking(SocketHandle socket);
// Sends small writes at once instead of holding them back for more data
// (TCP_NODELAY): a trigger byte must leave when it is sent.
void socketSendAtOnce(SocketHandle socket);
// Connects to host:port (a dotted address or a name), blocking.
bool socketConnect(SocketHandle socket, const char* host, int port);

// Takes one pending connection. On kOk stores the new socket and the peer's
// dotted address (at least 16 bytes) .
SocketResult socketAccept(SocketHandle listener, SocketHandle* client, char* peerAddress);

// Receives at most size bytes once. On kOk stores the count (> 0).
SocketResult socketReceive(SocketHandle socket, void* buffer, int size, int* received);
// Sends once; never raises SIGPIPE. Returns the count sent, or -1.
int socketSend(SocketHandle socket, const void* data, int size);

// The local port a bound socket got (useful after binding port 0), or -1.
int socketLocalPort(SocketHandle socket);

// The socket's pending error (SO_ERROR), 0 for none.
int socketPendingError(SocketHandle socket);
void socketClose(SocketHandle socket);

// Whether a socket can be watched by select(): on POSIX a descriptor at or
// above FD_SETSIZE cannot.
bool socketFitsSet(SocketHandle socket);

// The sockets one select() watches: at most 64, as a Windows set holds. On
// POSIX a descriptor at or above FD_SETSIZE is refused, since FD_SET would
// write past the set.
class SocketSet {
 public:
  static constexpr int kCapacity = 64;

  void clear() { count_ = 0; }
  // False when the set is full or the socket cannot be watched. Adding a
  // socket already in the set succeeds without a second copy.
  bool add(SocketHandle socket);
  bool contains(SocketHandle socket) const;
  void remove(SocketHandle socket);
  int size() const { return count_; }
  SocketHandle at(int index) const { return sockets_[index]; }

 private:
  SocketHandle sockets_[kCapacity] = {};
  int count_ = 0;
};

// Waits at most timeoutUs microseconds for a socket of readSet to become
// readable or one of exceptSet to show an exception; afterwards each set
// holds only its ready sockets. Returns the number of ready sockets, or -1 on
// failure (lastSocketError() tells why; the sets are then emptied).
int socketSelect(SocketSet* readSet, SocketSet* exceptSet, int timeoutUs);

}  // namespace platform
