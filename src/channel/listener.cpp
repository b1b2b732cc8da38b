#include "channel/listener.h"

#include <cstdio>

#include "channel/request_signal.h"
#include "core/log.h"
#include "core/repeated_line.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "platform/clock.h"
#include "platform/error.h"

std::vector<ClientSession> clientTable;
platform::SocketHandle listenSocket = platform::kNoSocket;

namespace {

const char* const kInit = "SocketInitialize()";
const char* const kRead = "ReadSocketData()";

SessionId lastSession = kNoSession;

// A failed accept: the listener is left out of the socket sets until the
// rest is over, and the error line is written once per fault.
bool acceptResting = false;
std::uint32_t acceptRestStartMs = 0;
RepeatedLine acceptFault(60000, nullptr, stdout);
RepeatedLine selectFault;
RepeatedLine receivedFull;

ClientSession* findSession(SessionId session) {
  for (ClientSession& client : clientTable) {
    if (client.session == session) return &client;
  }
  return nullptr;
}

// Runs a framer step that may deliver requests, and queues each one with the
// client's session under one hold of messageMutex. False when the mutex
// could not be had (the bytes are then dropped).
template <typename Step>
bool queueRequests(ClientSession* client, const Step& step) {
  bool obtained = false;
  bool queued = false;
  bool dropped = false;
  {
    platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
    obtained = hold.obtained();
    if (obtained) {
      step([&](const unsigned char* bytes, std::uint32_t count) {
        if (messageQueue->pushReceived(client->session, bytes, count)) {
          queued = true;
        } else {
          dropped = true;
        }
      });
    }
  }
  // Logged after the message mutex is let go: no routine holds both.
  if (!obtained) {
    logprintf(currentLogStream, "%s: ERROR Failed to enqueue message.\n", kRead);
    return false;
  }
  if (dropped) {
    receivedFull.occurred("%s: ERROR Too many requests waiting, request dropped.\n", kRead);
  } else if (queued) {
    receivedFull.ended();
  }
  if (queued) signalRequestQueued();
  return true;
}

void shutDownClient(std::size_t index) {
  ClientSession& client = clientTable[index];
  // No rest can come now: a partial request is run as it stands, as one
  // that waited too long would be.
  if (client.framer.pending() > 0) {
    queueRequests(&client,
                  [&](const RequestFramer::Deliver& deliver) { client.framer.flush(deliver); });
  }
  logprintf(currentLogStream, "AcceptConnections(): Shutting down client\n");
  const platform::SocketHandle socket = client.socket;
  if (platform::socketPendingError(socket) != 0) {
    logprintf(currentLogStream, "AcceptConnections(): Exception on client socket: %ld.\n",
              static_cast<long>(platform::lastSocketError()));
  }
  platform::socketClose(socket);
  clientTable.erase(clientTable.begin() + static_cast<std::ptrdiff_t>(index));
}

// Reads, flushes or drops each client in table order.
void serviceClients(platform::SocketSet* readSet, platform::SocketSet* exceptSet) {
  std::size_t i = 0;
  while (i < clientTable.size()) {
    ClientSession& client = clientTable[i];
    bool keep = true;
    if (exceptSet->contains(client.socket)) {
      exceptSet->remove(client.socket);
      keep = false;
    } else if (readSet->contains(client.socket)) {
      keep = ReadSocketData(&client);
      readSet->remove(client.socket);
    } else {
      keep = flushPartialRequest(&client);
    }
    if (keep) {
      ++i;
    } else {
      shutDownClient(i);
    }
  }
}

void acceptClient() {
  platform::SocketHandle socket = platform::kNoSocket;
  char peer[16] = "";
  const platform::SocketResult result = platform::socketAccept(listenSocket, &socket, peer);
  const unsigned long error = platform::lastSocketError();
  if (result == platform::SocketResult::kWouldBlock) return;  // the peer left first
  if (result != platform::SocketResult::kOk) {
    acceptFault.occurred("AcceptConnections(): Error occurred while accepting socket: %ld.\n",
                         static_cast<long>(error));
    acceptResting = true;
    acceptRestStartMs = platform::tickMs();
    return;
  }
  acceptFault.ended();
  if (clientTable.size() >= kMaxClients || !platform::socketFitsSet(socket)) {
    // A client the loop cannot watch would wait for ever for its replies.
    platform::socketClose(socket);
    logprintf(currentLogStream,
              "AcceptConnections(): ERROR Too many clients, connection from %s closed.\n", peer);
    return;
  }
  logprintf(currentLogStream, "AcceptConnections(): Client connected from: %s\n", peer);
  ClientSession client{};
  client.socket = socket;
  client.session = ++lastSession;
  clientTable.push_back(client);
  platform::socketSetNonBlocking(socket);
}

bool listenerRested() {
  if (acceptResting && platform::tickMs() - acceptRestStartMs >= kAcceptRestMs) {
    acceptResting = false;
  }
  return !acceptResting;
}

}  // namespace

bool SocketInitialize() {
  if (!platform::socketStartup()) {
    logprintf(currentLogStream, "%s: Error occurred while executing WSAStartup().\n", kInit);
    return false;
  }
  logprintf(currentLogStream, "%s: WSAStartup() successful.\n", kInit);
  listenSocket = platform::socketOpenTcp();
  if (listenSocket == platform::kNoSocket) {
    const unsigned long error = platform::lastSocketError();
    logprintf(currentLogStream, "%s: Error occurred while opening socket: %ld.\n", kInit,
              static_cast<long>(error));
    return false;
  }
  logprintf(currentLogStream, "%s: socket() successful.\n", kInit);
  platform::socketAllowQuickRebind(listenSocket);
  if (!platform::socketBind(listenSocket, serverSettings.bindAddress, serverSettings.serverPort)) {
    platform::socketClose(listenSocket);
    listenSocket = platform::kNoSocket;
    logprintf(currentLogStream, "%s: Error occurred while binding.\n", kInit);
    return false;
  }
  logprintf(currentLogStream, "%s: bind() successful.\n", kInit);
  if (!platform::socketListen(listenSocket)) {
    platform::socketClose(listenSocket);
    listenSocket = platform::kNoSocket;
    logprintf(currentLogStream, "%s: Error occurred while listening.\n", kInit);
    return false;
  }
  logprintf(currentLogStream, "%s: listen() successful.\n", kInit);
  platform::socketSetNonBlocking(listenSocket);
  acceptResting = false;
  return true;
}

void buildSocketSets(platform::SocketSet* readSet, platform::SocketSet* exceptSet,
                     bool watchListener) {
  readSet->clear();
  exceptSet->clear();
  if (watchListener) {
    readSet->add(listenSocket);
    exceptSet->add(listenSocket);
  }
  for (const ClientSession& client : clientTable) {
    readSet->add(client.socket);
    exceptSet->add(client.socket);
  }
}

void AcceptConnections() {
  platform::SocketSet readSet;
  platform::SocketSet exceptSet;
  while (getRunning()) {
    buildSocketSets(&readSet, &exceptSet, listenerRested());
    if (platform::socketSelect(&readSet, &exceptSet, 1000) < 0) {
      const unsigned long error = platform::lastSocketError();
      selectFault.occurred("AcceptConnections(): ERROR select: %i\n", static_cast<int>(error));
      continue;
    }
    selectFault.ended();
    if (readSet.contains(listenSocket)) {
      acceptClient();
    } else if (exceptSet.contains(listenSocket)) {
      std::fprintf(stderr, "AcceptConnections(): Exception on listener socket: %ld.\n",
                   static_cast<long>(platform::lastSocketError()));
      continue;
    }
    sendQueuedReplies();
    serviceClients(&readSet, &exceptSet);
  }
}

bool ReadSocketData(ClientSession* client) {
  int received = 0;
  switch (
      platform::socketReceive(client->socket, client->buffer, sizeof client->buffer, &received)) {
    case platform::SocketResult::kClosed:
      logprintf(currentLogStream, "%s: Socket was closed by the client.\n", kRead);
      return false;
    case platform::SocketResult::kWouldBlock:
      return true;
    case platform::SocketResult::kError:
      return false;
    case platform::SocketResult::kOk:
      break;
  }
  client->length = received;
  return queueRequests(client, [&](const RequestFramer::Deliver& deliver) {
    // A partial request that waited its time goes first, as it stands;
    // these bytes are then judged on their own.
    client->framer.expire(deliver);
    client->framer.take(client->buffer, static_cast<std::uint32_t>(received), deliver);
  });
}

bool flushPartialRequest(ClientSession* client) {
  if (!client->framer.due()) return true;
  return queueRequests(
      client, [&](const RequestFramer::Deliver& deliver) { client->framer.expire(deliver); });
}

void sendQueuedReplies() {
  unsigned char reply[kMaxMessage];
  // At most one queue's worth per turn, so that a busy camera thread cannot
  // keep the loop here.
  for (std::size_t n = 0; n < MessageQueue::kLimit; ++n) {
    std::uint32_t count = 0;
    SessionId session = kNoSession;
    {
      platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
      if (!hold.obtained() || !messageQueue->popReply(reply, &count, &session)) return;
    }
    const ClientSession* client = findSession(session);
    if (client == nullptr) {
      logprintf(currentLogStream,
                "AcceptConnections(): Reply for session %lu dropped, its client has gone.\n",
                static_cast<unsigned long>(session));
      continue;
    }
    // Sent once: a reply that does not go out whole loses its rest.
    platform::socketSend(client->socket, reply, static_cast<int>(count));
  }
}

void closeListener() {
  if (listenSocket != platform::kNoSocket) platform::socketClose(listenSocket);
  listenSocket = platform::kNoSocket;
  platform::socketCleanup();
}
