// Connecting the socket of a remote serial port within a time limit. A
// device server that is switched off, or a host that is gone, can leave a
// plain connect waiting for a minute or more, and the line is reopened by a
// thread that shutdown waits for.
#pragma once

#include "platform/socket.h"

namespace platform {

// Connects socket to host:port (a dotted IPv4 address or a name) and gives up
// after timeoutMs; a time-out fails with ETIMEDOUT (WSAETIMEDOUT). On failure
// lastSocketError() tells why and the socket must be closed. The socket is
// blocking again afterwards. A name is looked up first by the system's
// resolver, whose own time-outs apply; a dotted address needs no lookup.
bool socketConnectWithin(SocketHandle socket, const char* host, int port, int timeoutMs);

}  // namespace platform
