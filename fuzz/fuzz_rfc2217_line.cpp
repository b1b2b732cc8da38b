// Drives the RFC 2217 serial line against a scripted remote port server:
// the input is the server's side of the conversation and the calls the
// line gets. Checks after every call that the line kept to the protocol.
//
// Input: one byte of peer settings (bit 0 the peer echoes like a real
// server, bit 1 sends go out three bytes at a time, bit 2 receives give one
// byte at a time), then operations, each an opcode byte and its operands:
//   0 L bytes   a chunk the line can read now
//   1 L bytes   a chunk that arrives once the line next sends
//   2           open()
//   3 8 bytes   setState(): rate (4, little-endian), data bits, parity,
//               stop bits, RTS control
//   4 b         transmitByte(b)
//   5 b         setRts(b & 1)
//   6           getState()
//   7           the server closes the connection after what it has sent
//   8           the next send fails
//   9           close()
//   10          the next connect fails
// An opcode is taken modulo 11; operands cut short by the end are dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/rfc2217_codec.h"
#include "platform/rfc2217_connect.h"
#include "platform/rfc2217_line.h"
#include "scripted_peer.h"

namespace platform {

// The line's bounded connect, on the scripted peer, where a connect never
// waits.
bool socketConnectWithin(SocketHandle socket, const char* host, int port, int) {
  return socketConnect(socket, host, port);
}

}  // namespace platform

namespace {

namespace tn = platform::rfc2217;
using scripted::Bytes;
using scripted::peer;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool take(std::size_t count, const std::uint8_t** bytes) {
    if (size_ - at_ < count) return false;
    *bytes = data_ + at_;
    at_ += count;
    return true;
  }
  bool byte(std::uint8_t* value) {
    const std::uint8_t* bytes = nullptr;
    if (!take(1, &bytes)) return false;
    *value = *bytes;
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// What the line must keep to.
struct Watch {
  bool open = false;    // open() succeeded and close() has not been called
  bool broken = false;  // a call failed because the connection is gone
  std::size_t sentAtBreak = 0;
  Bytes transmitted;  // bytes transmitByte accepted, on every connection
  platform::SerialDcb applied{};

  // Ends the connection's part; what the line keeps across connections
  // stays.
  void closed() {
    open = false;
    broken = false;
  }
};

bool breaksConnection(unsigned long error) {
  return error == platform::kRfc2217Closed || error == scripted::kResetError ||
         error == platform::kRfc2217SocketSet;
}

// Everything the line sent reads as the units it may send; its data is the
// bytes transmitted, in order, as long as no send failed half-way.
void checkSentStream(const Watch& watch) {
  std::vector<tn::Event> events;
  tn::Parser parser;
  parser.feed(peer().sent.data(), peer().sent.size(), &events);
  Bytes data;
  std::size_t negotiations = 0;
  for (const tn::Event& event : events) {
    switch (event.kind) {
      case tn::Event::Kind::kData:
        data.insert(data.end(), event.payload.begin(), event.payload.end());
        break;
      case tn::Event::Kind::kNegotiation:
        ++negotiations;
        break;
      case tn::Event::Kind::kSubnegotiation:
        check(event.option == tn::OPTION_COM_PORT);
        check(!event.payload.empty() && event.payload[0] >= tn::SET_BAUDRATE &&
              event.payload[0] <= tn::SET_CONTROL);
        check(event.payload.size() == (event.payload[0] == tn::SET_BAUDRATE ? 5u : 2u));
        break;
      case tn::Event::Kind::kCommand:
        check(false);
        break;
    }
  }
  if (peer().sendFailures == 0) check(data == watch.transmitted);
  // No answer is sent twice: at most the five offers of each connection,
  // plus one reply for each negotiation the server sent.
  std::size_t received = 0;
  for (const scripted::Delivered& d : peer().delivered) {
    if (d.event.kind == tn::Event::Kind::kNegotiation) ++received;
  }
  check(negotiations <= 5 * static_cast<std::size_t>(peer().startups) + received);
}

// The first answer to the COM-PORT offer among the units delivered since
// index from: DO, DONT, or 0 for none.
std::uint8_t offerAnswer(std::size_t from) {
  const auto& delivered = peer().delivered;
  for (std::size_t i = from; i < delivered.size(); ++i) {
    const tn::Event& event = delivered[i].event;
    if (event.kind == tn::Event::Kind::kNegotiation && event.option == tn::OPTION_COM_PORT &&
        (event.verb == tn::DO || event.verb == tn::DONT)) {
      return event.verb;
    }
  }
  return 0;
}

// True when, among the units delivered since index from after the last
// request was sent, the first confirmation of each setting carries the value
// asked.
bool confirmedAsAsked(std::size_t from) {
  bool seen[4] = {};
  const auto& delivered = peer().delivered;
  for (std::size_t i = from; i < delivered.size(); ++i) {
    const tn::Event& event = delivered[i].event;
    if (delivered[i].requestsSent != peer().requestsSent ||
        event.kind != tn::Event::Kind::kSubnegotiation || event.option != tn::OPTION_COM_PORT ||
        event.payload.empty()) {
      continue;
    }
    const int command = event.payload[0] - tn::SERVER_REPLY_OFFSET;
    if (command < tn::SET_BAUDRATE || command > tn::SET_STOPSIZE || seen[command - 1]) continue;
    seen[command - 1] = true;
    if (!std::equal(event.payload.begin() + 1, event.payload.end(),
                    peer().lastRequest[command].begin(), peer().lastRequest[command].end())) {
      return false;
    }
  }
  return seen[0] && seen[1] && seen[2] && seen[3];
}

// Checks the result of a call other than open() and close(), made with
// sentBefore bytes sent and the connection broken or not.
void afterCall(platform::SerialLine* line, bool ok, bool wasBroken, std::size_t sentBefore,
               Watch* watch) {
  check(!ok || watch->open);
  if (wasBroken) {
    // A connection found gone stays gone, and nothing more is sent on it.
    check(!ok && peer().sent.size() == sentBefore);
  }
  if (!ok) {
    check(line->lastError() != 0);
    if (watch->open && !watch->broken && breaksConnection(line->lastError())) {
      watch->broken = true;
    }
  }
  checkSentStream(*watch);
}

void setState(platform::SerialLine* line, Input* in, Watch* watch) {
  const std::uint8_t* b = nullptr;
  if (!in->take(8, &b)) return;
  platform::SerialDcb dcb{};
  dcb.BaudRate = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                 static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  dcb.ByteSize = b[4];
  dcb.Parity = b[5] % 6;
  dcb.StopBits = b[6] % 4;
  dcb.fRtsControl = b[7] % 5;
  dcb.fParity = b[7] >> 7;
  const bool wasBroken = watch->broken;
  const std::size_t from = peer().delivered.size();
  const std::size_t sentBefore = peer().sent.size();
  const bool ok = line->setState(dcb);
  if (ok) {
    // Success only on the server's word for every value.
    check(confirmedAsAsked(from));
    watch->applied = dcb;
    watch->applied.DCBlength = sizeof(platform::SerialDcb);
  }
  afterCall(line, ok, wasBroken, sentBefore, watch);
}

void getState(platform::SerialLine* line, Watch* watch) {
  platform::SerialDcb dcb{};
  const bool wasBroken = watch->broken;
  const std::size_t sentBefore = peer().sent.size();
  const bool ok = line->getState(&dcb);
  const platform::SerialDcb& a = watch->applied;
  if (ok) {
    check(dcb.DCBlength == a.DCBlength && dcb.BaudRate == a.BaudRate && dcb.fParity == a.fParity &&
          dcb.fRtsControl == a.fRtsControl && dcb.ByteSize == a.ByteSize &&
          dcb.Parity == a.Parity && dcb.StopBits == a.StopBits);
  }
  afterCall(line, ok, wasBroken, sentBefore, watch);
}

void transmit(platform::SerialLine* line, std::uint8_t byte, Watch* watch) {
  const bool wasBroken = watch->broken;
  const std::size_t sentBefore = peer().sent.size();
  const bool ok = line->transmitByte(byte);
  if (ok) watch->transmitted.push_back(byte);
  afterCall(line, ok, wasBroken, sentBefore, watch);
}

void setRts(platform::SerialLine* line, bool on, Watch* watch) {
  const bool wasBroken = watch->broken;
  const std::size_t sentBefore = peer().sent.size();
  const bool ok = line->setRts(on);
  afterCall(line, ok, wasBroken, sentBefore, watch);
}

void open(platform::SerialLine* line, Watch* watch) {
  const bool wasOpen = watch->open;
  const std::size_t from = peer().delivered.size();
  const bool ok = line->open();
  if (wasOpen) {
    check(!ok && line->lastError() == platform::kRfc2217NotOpen);
    return;
  }
  watch->closed();
  if (ok) {
    check(offerAnswer(from) == tn::DO);
    watch->open = true;
  } else {
    check(line->lastError() != 0 && peer().openSockets == 0);
    if (line->lastError() == platform::kRfc2217Refused) check(offerAnswer(from) == tn::DONT);
  }
  checkSentStream(*watch);
}

void close(platform::SerialLine* line, Watch* watch) {
  const bool ok = line->close();
  check(ok == watch->open);
  check(ok || line->lastError() == platform::kRfc2217NotOpen);
  check(peer().openSockets == 0);
  watch->closed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  scripted::resetPeer();
  scripted::Peer& p = peer();
  p.echo = (data[0] & 1) != 0;
  p.sendLimit = (data[0] & 2) != 0 ? 3 : 0;
  p.receiveLimit = (data[0] & 4) != 0 ? 1 : 0;

  Input in(data + 1, size - 1);
  {
    std::unique_ptr<platform::SerialLine> line =
        platform::createRfc2217SerialLine("rfc2217://127.0.0.1:4001");
    check(line != nullptr);
    Watch watch;
    // What getState reports before the first setState.
    watch.applied.DCBlength = sizeof(platform::SerialDcb);
    watch.applied.BaudRate = 9600;
    watch.applied.fRtsControl = platform::kSerialRtsControlEnable;
    watch.applied.ByteSize = 8;
    watch.applied.Parity = platform::kSerialNoParity;
    watch.applied.StopBits = platform::kSerialOneStopBit;
    std::uint8_t op = 0;
    while (in.byte(&op)) {
      std::uint8_t value = 0;
      const std::uint8_t* bytes = nullptr;
      switch (op % 11) {
        case 0:
          if (in.byte(&value) && in.take(value, &bytes)) p.ready.emplace_back(bytes, bytes + value);
          break;
        case 1:
          if (in.byte(&value) && in.take(value, &bytes))
            p.onSend.emplace_back(bytes, bytes + value);
          break;
        case 2:
          open(line.get(), &watch);
          break;
        case 3:
          setState(line.get(), &in, &watch);
          break;
        case 4:
          if (in.byte(&value)) transmit(line.get(), value, &watch);
          break;
        case 5:
          if (in.byte(&value)) setRts(line.get(), (value & 1) != 0, &watch);
          break;
        case 6:
          getState(line.get(), &watch);
          break;
        case 7:
          p.closeWhenDrained = true;
          break;
        case 8:
          p.failNextSend = true;
          break;
        case 9:
          close(line.get(), &watch);
          break;
        case 10:
          p.failNextConnect = true;
          break;
      }
    }
  }
  // The line gave back every socket and every socket-layer start.
  check(p.openSockets == 0);
  check(p.startups == p.cleanups);
  return 0;
}
