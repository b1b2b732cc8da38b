#include "tools/skerrowctl/ctl_client.h"

#include <cerrno>
#include <chrono>

#include "channel/wire.h"
#include "platform/error.h"
#include "platform/rfc2217_connect.h"

namespace {

// How the bounded connect reports its time-out: ETIMEDOUT, or WSAETIMEDOUT
// (10060) on Windows.
bool isTimeOut(unsigned long code) { return code == ETIMEDOUT || code == 10060; }

// Reads exactly count more bytes into *out before the deadline.
bool readExactly(platform::SocketHandle socket, std::size_t count,
                 std::chrono::steady_clock::time_point deadline, std::vector<unsigned char>* out,
                 std::string* error) {
  while (count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      *error = "no reply within the time-out";
      return false;
    }
    platform::SocketSet readable;
    readable.add(socket);
    const int ready = platform::socketSelect(
        &readable, nullptr, static_cast<int>(left.count() < 1000000 ? left.count() : 1000000));
    if (ready < 0) {
      *error = "waiting for the reply failed (error " +
               std::to_string(platform::lastSocketError()) + ")";
      return false;
    }
    if (ready == 0) continue;
    unsigned char chunk[2048];
    int received = 0;
    const int want = static_cast<int>(count < sizeof chunk ? count : sizeof chunk);
    switch (platform::socketReceive(socket, chunk, want, &received)) {
      case platform::SocketResult::kOk:
        out->insert(out->end(), chunk, chunk + received);
        count -= static_cast<std::size_t>(received);
        break;
      case platform::SocketResult::kWouldBlock:
        break;
      case platform::SocketResult::kClosed:
        *error = "the server closed the connection before replying";
        return false;
      case platform::SocketResult::kError:
        *error =
            "reading the reply failed (error " + std::to_string(platform::lastSocketError()) + ")";
        return false;
    }
  }
  return true;
}

}  // namespace

CtlConnection::~CtlConnection() {
  platform::socketClose(socket_);
  platform::socketCleanup();
}

bool CtlConnection::open(const std::string& host, int port, int timeoutMs, std::string* error) {
  if (!platform::socketStartup()) {
    *error = "cannot start the socket layer";
    return false;
  }
  socket_ = platform::socketOpenTcp();
  if (socket_ == platform::kNoSocket) {
    *error = "cannot open a socket (error " + std::to_string(platform::lastSocketError()) + ")";
    return false;
  }
  const auto start = std::chrono::steady_clock::now();
  if (!platform::socketConnectWithin(socket_, host.c_str(), port, timeoutMs)) {
    const unsigned long code = platform::lastSocketError();
    const std::string where = host + ":" + std::to_string(port);
    if (isTimeOut(code) ||
        std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeoutMs)) {
      *error = "no connection to " + where + " within the time-out (" + std::to_string(timeoutMs) +
               " ms)";
    } else {
      *error = "cannot connect to " + where + " (error " + std::to_string(code) +
               "; is the server running?)";
    }
    return false;
  }
  return true;
}

bool CtlConnection::exchange(const CtlRequest& request, int timeoutMs,
                             std::vector<unsigned char>* sent, std::vector<unsigned char>* reply,
                             std::string* error) {
  CommandMessage message;
  if (!message.setMessage(request.type, request.action,
                          request.payload.empty() ? nullptr : request.payload.data(),
                          static_cast<std::uint32_t>(request.payload.size()))) {
    *error = "out of memory";
    return false;
  }
  sent->assign(message.bytes(), message.bytes() + message.size());
  if (platform::socketSend(socket_, message.bytes(), static_cast<int>(message.size())) !=
      static_cast<int>(message.size())) {
    *error =
        "sending the request failed (error " + std::to_string(platform::lastSocketError()) + ")";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  reply->clear();
  if (!readExactly(socket_, kHeaderLength, deadline, reply, error)) return false;
  const std::uint32_t length = wire::readU32(reply->data() + 9);
  if (length >= kPayloadLimit) {
    *error = "the reply claims a payload of " + std::to_string(length) + " bytes, too long";
    return false;
  }
  return readExactly(socket_, length, deadline, reply, error);
}
