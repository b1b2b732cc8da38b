#include "channel/listener.h"

#include <cstdio>

#include "channel/message_queue.h"
#include "core/log.h"
#include "core/server_state.h"
#include "core/status_access.h"
#include "platform/error.h"

std::vector<ClientSession> clientTable;
platform::SocketHandle listenSocket = platform::kNoSocket;

namespace {

const char* const kInit = "SocketInitialize()";
const char* const kRead = "ReadSocketData()";

void shutDownClient(std::size_t index) {
  logprintf(currentLogStream, "AcceptConnections(): Shutting down client\n");
  const platform::SocketHandle socket = clientTable[index].socket;
  if (platform::socketPendingError(socket) != 0) {
    logprintf(currentLogStream, "AcceptConnections(): Exception on client socket: %ld.\n",
              static_cast<long>(platform::lastSocketError()));
  }
  platform::socketClose(socket);
  clientTable.erase(clientTable.begin() + static_cast<std::ptrdiff_t>(index));
}

// Sends, then reads or drops, each client in table order. A client shut down
// restarts the pass from the top; clients already read were taken out of the
// sets, so they only get another send step.
void serviceClients(platform::SocketSet* readSet, platform::SocketSet* exceptSet) {
  std::size_t i = 0;
  while (i < clientTable.size()) {
    ClientSession& client = clientTable[i];
    sendPendingReply(&client);
    bool shutDown = false;
    if (exceptSet->contains(client.socket)) {
      exceptSet->remove(client.socket);
      shutDown = true;
    } else if (readSet->contains(client.socket)) {
      shutDown = !ReadSocketData(&client);
      readSet->remove(client.socket);
    }
    if (shutDown) {
      shutDownClient(i);
      i = 0;
      continue;
    }
    ++i;
  }
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
  return true;
}

void buildSocketSets(platform::SocketSet* readSet, platform::SocketSet* exceptSet) {
  readSet->clear();
  exceptSet->clear();
  readSet->add(listenSocket);
  exceptSet->add(listenSocket);
  for (const ClientSession& client : clientTable) {
    readSet->add(client.socket);
    exceptSet->add(client.socket);
  }
}

void AcceptConnections() {
  platform::SocketSet readSet;
  platform::SocketSet exceptSet;
  while (getRunning()) {
    buildSocketSets(&readSet, &exceptSet);
    if (platform::socketSelect(&readSet, &exceptSet, 1000) < 0) {
      logprintf(currentLogStream, "AcceptConnections(): ERROR select: %i\n",
                static_cast<int>(platform::lastSocketError()));
      continue;
    }
    if (readSet.contains(listenSocket)) {
      ClientSession client{};
      char peer[16] = "";
      if (platform::socketAccept(listenSocket, &client.socket, peer) !=
          platform::SocketResult::kOk) {
        std::printf("AcceptConnections(): Error occurred while accepting socket: %ld.\n",
                    static_cast<long>(platform::lastSocketError()));
        continue;
      }
      logprintf(currentLogStream, "AcceptConnections(): Client connected from: %s\n", peer);
      clientTable.push_back(client);
      platform::socketSetNonBlocking(client.socket);
    } else if (exceptSet.contains(listenSocket)) {
      std::fprintf(stderr, "AcceptConnections(): Exception on listener socket: %ld.\n",
                   static_cast<long>(platform::lastSocketError()));
      continue;
    }
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
  bool queued = false;
  {
    platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
    if (hold.obtained()) {
      // A full queue drops the message; the client stays.
      messageQueue->pushReceived(client->buffer, static_cast<std::uint32_t>(received));
      queued = true;
    }
  }
  if (!queued) {
    // Logged after the message mutex is let go: no routine holds both.
    logprintf(currentLogStream, "%s: ERROR Failed to enqueue message.\n", kRead);
  }
  return queued;
}

int sendPendingReply(ClientSession* client) {
  client->length = 0;
  {
    platform::MutexHold hold(messageMutex, kMutexTimeoutMs);
    if (!hold.obtained()) return 0;
    std::uint32_t count = 0;
    if (!messageQueue->popReply(client->buffer, &count)) return 0;
    client->length = static_cast<std::int32_t>(count);
  }
  const int sent = platform::socketSend(client->socket, client->buffer, client->length);
  if (sent < 0) return -platform::socketPendingError(client->socket);
  // A partial send is not completed later; the rest of that reply is lost.
  if (sent == client->length) client->length = 0;
  return sent;
}

void closeListener() {
  if (listenSocket != platform::kNoSocket) platform::socketClose(listenSocket);
  listenSocket = platform::kNoSocket;
  platform::socketCleanup();
}
