// The socket seam and the tick, served by the scripted peer. Linked in place
// of the platform's own, for the fuzz target only.
#include "scripted_peer.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/socket.h"

namespace scripted {
namespace {

namespace tn = platform::rfc2217;

constexpr platform::SocketHandle kHandle = 7;

Peer* thePeer = new Peer();

// Reads what the line sent; a COM-PORT command is remembered and, when the
// peer echoes, confirmed, and so is the COM-PORT offer.
void readFromLine(const std::uint8_t* bytes, std::size_t size) {
  Peer& p = *thePeer;
  std::vector<tn::Event> events;
  p.fromLine.feed(bytes, size, &events);
  for (const tn::Event& event : events) {
    if (event.kind == tn::Event::Kind::kSubnegotiation && event.option == tn::OPTION_COM_PORT &&
        !event.payload.empty()) {
      const std::uint8_t command = event.payload[0];
      if (command < p.lastRequest.size()) {
        p.lastRequest[command].assign(event.payload.begin() + 1, event.payload.end());
      }
      if (command == tn::SET_BAUDRATE) ++p.requestsSent;
      if (p.echo) {
        Bytes answer;
        tn::appendComPortCommand(static_cast<std::uint8_t>(command + tn::SERVER_REPLY_OFFSET),
                                 event.payload.data() + 1, event.payload.size() - 1, &answer);
        p.ready.push_back(answer);
      }
    }
    if (p.echo && event.kind == tn::Event::Kind::kNegotiation && event.verb == tn::WILL &&
        event.option == tn::OPTION_COM_PORT) {
      Bytes answer;
      tn::appendNegotiation(tn::DO, tn::OPTION_COM_PORT, &answer);
      p.ready.push_back(answer);
    }
  }
}

void dropEmptyChunks() {
  Peer& p = *thePeer;
  while (!p.ready.empty() && p.ready.front().empty()) p.ready.pop_front();
}

bool readable() {
  dropEmptyChunks();
  return !thePeer->ready.empty() || thePeer->closeWhenDrained;
}

}  // namespace

Peer& peer() { return *thePeer; }

void resetPeer() {
  delete thePeer;
  thePeer = new Peer();
}

}  // namespace scripted

namespace platform {

using scripted::peer;

bool socketStartup() {
  ++peer().startups;
  return true;
}

void socketCleanup() { ++peer().cleanups; }

SocketHandle socketOpenTcp() {
  ++peer().openSockets;
  return scripted::kHandle;
}

void socketSendAtOnce(SocketHandle) {}

bool socketConnect(SocketHandle, const char*, int) {
  scripted::Peer& p = peer();
  if (p.failNextConnect) {
    p.failNextConnect = false;
    p.error = scripted::kResetError;
    return false;
  }
  p.connected = true;
  return true;
}

SocketResult socketReceive(SocketHandle, void* buffer, int size, int* received) {
  scripted::Peer& p = peer();
  if (!scripted::readable() || size <= 0) return SocketResult::kWouldBlock;
  if (p.ready.empty()) return SocketResult::kClosed;
  scripted::Bytes& chunk = p.ready.front();
  std::size_t count = std::min(chunk.size(), static_cast<std::size_t>(size));
  if (p.receiveLimit != 0) count = std::min(count, p.receiveLimit);
  std::memcpy(buffer, chunk.data(), count);
  // The units the line completes with these bytes, marked with what it had
  // asked for by then.
  std::vector<rfc2217::Event> events;
  p.toLine.feed(chunk.data(), count, &events);
  for (rfc2217::Event& event : events) p.delivered.push_back({std::move(event), p.requestsSent});
  chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
  *received = static_cast<int>(count);
  return SocketResult::kOk;
}

int socketSend(SocketHandle, const void* data, int size) {
  scripted::Peer& p = peer();
  if (p.failNextSend) {
    p.failNextSend = false;
    ++p.sendFailures;
    p.error = scripted::kResetError;
    return -1;
  }
  std::size_t count = static_cast<std::size_t>(size);
  if (p.sendLimit != 0) count = std::min(count, p.sendLimit);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  p.sent.insert(p.sent.end(), bytes, bytes + count);
  for (scripted::Bytes& chunk : p.onSend) p.ready.push_back(std::move(chunk));
  p.onSend.clear();
  scripted::readFromLine(bytes, count);
  return static_cast<int>(count);
}

void socketClose(SocketHandle) {
  scripted::Peer& p = peer();
  --p.openSockets;
  // The connection's script ends with it.
  p.connected = false;
  p.ready.clear();
  p.onSend.clear();
  p.closeWhenDrained = false;
  p.fromLine = rfc2217::Parser();
  p.toLine = rfc2217::Parser();
}

bool socketFitsSet(SocketHandle socket) { return socket >= 0; }

int socketSelect(SocketSet* readSet, SocketSet* exceptSet, int timeoutUs) {
  if (exceptSet != nullptr) exceptSet->clear();
  if (readSet != nullptr && readSet->contains(scripted::kHandle) && scripted::readable()) {
    readSet->clear();
    readSet->add(scripted::kHandle);
    return 1;
  }
  if (readSet != nullptr) readSet->clear();
  // Nothing comes: the whole wait passes at once.
  peer().clockMs += static_cast<std::uint32_t>(timeoutUs < 0 ? 0 : timeoutUs) / 1000;
  return 0;
}

unsigned long lastSocketError() { return peer().error; }

std::uint32_t tickMs() { return peer().clockMs; }

}  // namespace platform
