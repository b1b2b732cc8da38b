// The TCP listener and the client sessions, all on the main thread: bytes
// move between the sockets and the message queue, nothing is executed here.
#pragma once

#include <cstdint>
#include <vector>

#include "channel/command_message.h"
#include "platform/socket.h"

struct ClientSession {
  platform::SocketHandle socket;
  // The bytes of one read, or at another moment of one reply to send.
  unsigned char buffer[kMaxMessage];
  std::int32_t length;
};

// Accepted clients in the order of acceptance. Main thread only.
extern std::vector<ClientSession> clientTable;
// The listener, or kNoSocket.
extern platform::SocketHandle listenSocket;

// Starts the socket layer and opens a non-blocking listener on the
// configured bind address and serverPort. False, after a log line, when any
// step fails.
bool SocketInitialize();

// Accepts clients, queues what they send and sends them queued replies,
// turning about once per millisecond. Returns when running reads false or
// statusMutex cannot be obtained.
void AcceptConnections();

// Fills the read and exception sets with the listener and then the clients
// in table order; a full set takes no more.
void buildSocketSets(platform::SocketSet* readSet, platform::SocketSet* exceptSet);

// Reads once from the client. False when the client is to be shut down.
bool ReadSocketData(ClientSession* client);

// Sends the oldest pending reply, if any, once. Returns the bytes sent, 0,
// or the negated pending socket error.
int sendPendingReply(ClientSession* client);

// Closes the listener and stops the socket layer. Client sockets are left
// to the end of the process.
void closeListener();
