// A stand-in for the socket seam (platform/socket.h) and the millisecond
// tick, so that the RFC 2217 line can be fuzzed without a network: one
// scripted remote port server, a clock that moves only while the line waits,
// and a record of what went each way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/rfc2217_codec.h"

namespace scripted {

using Bytes = std::vector<std::uint8_t>;

// A unit of the server's stream as the line read it, with the number of
// SET-BAUDRATE requests the line had sent when it arrived.
struct Delivered {
  platform::rfc2217::Event event;
  int requestsSent;
};

struct Peer {
  // Script: chunks the line can read now, and chunks that become readable
  // once the line next sends. Both belong to the next or current
  // connection.
  std::deque<Bytes> ready;
  std::vector<Bytes> onSend;
  bool closeWhenDrained = false;  // the server closes once ready is read
  bool failNextSend = false;
  bool failNextConnect = false;
  // Answer WILL COM-PORT with DO and confirm every COM-PORT command with
  // the value asked, as a real server would.
  bool echo = false;
  std::size_t sendLimit = 0;     // most bytes one send takes; 0: all
  std::size_t receiveLimit = 0;  // most bytes one receive gives; 0: all

  // Record.
  Bytes sent;                         // every byte the line sent
  std::vector<Delivered> delivered;   // every unit the line was given
  std::vector<Bytes> lastRequest{6};  // value of the last COM-PORT command n
  int requestsSent = 0;               // SET-BAUDRATE commands seen
  int sendFailures = 0;
  int startups = 0;
  int cleanups = 0;
  int openSockets = 0;
  bool connected = false;
  std::uint32_t clockMs = 0;
  unsigned long error = 0;

  // Readers of both directions, to see units rather than bytes.
  platform::rfc2217::Parser fromLine;
  platform::rfc2217::Parser toLine;
};

// The one peer of this process.
Peer& peer();

// A fresh peer: empty script and record.
void resetPeer();

// The error code a failed send or connect reports (ECONNRESET's value).
constexpr unsigned long kResetError = 104;

}  // namespace scripted
