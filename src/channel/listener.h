// The TCP listener and the client sessions, all on the main thread: bytes
// move between the sockets and the message queue, nothing is executed here.
// Each request is queued with its client's session, and each reply goes
// back to the session that sent the request.
#pragma once

#include <cstdint>
#include <vector>

#include "channel/command_message.h"
#include "channel/message_queue.h"
#include "channel/request_framer.h"
#include "platform/socket.h"

struct ClientSession {
  platform::SocketHandle socket;
  // Names the client in the message queue; never reused within the process.
  SessionId session;
  // Joins and splits the client's requests across receives.
  RequestFramer framer;
  // The bytes of the last read.
  unsigned char buffer[kMaxMessage];
  std::int32_t length;
};

// The most clients watched at once: a socket set holds 64 sockets, one of
// which is the listener. Further connections are closed as they come.
constexpr std::size_t kMaxClients = platform::SocketSet::kCapacity - 1;

// How long the listener rests after a failed accept (out of descriptors,
// say): the listener stays readable, and accepting again at once would only
// spin.
constexpr std::uint32_t kAcceptRestMs = 10;

// Accepted clients in the order of acceptance. Main thread only.
extern std::vector<ClientSession> clientTable;
// The listener, or kNoSocket.
extern platform::SocketHandle listenSocket;

// Starts the socket layer and opens a non-blocking listener on the
// configured bind address and serverPort. False, after a log line, when any
// step fails.
bool SocketInitialize();

// Accepts clients, queues what they send and sends them their replies,
// turning about once per millisecond. Returns when running reads false or
// statusMutex cannot be obtained.
void AcceptConnections();

// Fills the read and exception sets with the listener (unless
// watchListener is false) and then the clients in table order; a full set
// takes no more.
void buildSocketSets(platform::SocketSet* readSet, platform::SocketSet* exceptSet,
                     bool watchListener = true);

// Reads once from the client and queues every request the read completes.
// False when the client is to be shut down.
bool ReadSocketData(ClientSession* client);

// Queues the client's partial request as it stands once it has waited long
// enough for its rest. False when the client is to be shut down.
bool flushPartialRequest(ClientSession* client);

// Sends every queued reply, once, to the session that sent its request.
// The reply of a session that has closed is dropped with a log line. A
// reply that cannot be sent whole loses its unsent rest.
void sendQueuedReplies();

// Closes the listener and stops the socket layer. Client sockets are left
// to the end of the process.
void closeListener();
