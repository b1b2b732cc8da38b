// A serial line served over TCP by a remote port server (RFC 2217, the
// Telnet COM Port Control Option). It uses only the socket seam, so one
// implementation serves every platform.
#pragma once

#include <memory>

#include "platform/serial.h"

namespace platform {

// The port-name prefix that selects this line: "rfc2217://HOST:PORT", with
// HOST a dotted IPv4 address or a name and PORT 1 to 65535.
constexpr char kRfc2217Prefix[] = "rfc2217://";

// Error codes for failures that have no socket error. They sit far above
// both errno values and Winsock codes so they cannot be mistaken for either.
constexpr unsigned long kRfc2217Refused = 22170001;    // server refused COM-PORT-OPTION
constexpr unsigned long kRfc2217NoAnswer = 22170002;   // no answer within the time-out
constexpr unsigned long kRfc2217BadValue = 22170003;   // a setting refused by the server,
                                                       // or one the protocol cannot carry
constexpr unsigned long kRfc2217Closed = 22170004;     // the server closed the connection
constexpr unsigned long kRfc2217NotOpen = 22170005;    // not open, or open() twice
constexpr unsigned long kRfc2217SocketSet = 22170006;  // the socket cannot be watched

// How long the line waits for the server. Short, so that a silent server
// costs the trigger thread little; tests may shorten them further.
struct Rfc2217Timing {
  int connectMs = 5000;       // for the TCP connection
  int negotiationMs = 3000;   // for the answer to the COM-PORT-OPTION offer
  int confirmationMs = 2000;  // for the four confirmations of a set-state
  // A server that vanished without closing (switched off, cable cut) leaves
  // a connection that takes every byte and answers none. After quietMs
  // without a byte from the server, a call asks it for the RTS state; no
  // answer within answerMs breaks the line. With calls at least once a
  // second, a vanished server is noticed within quietMs + answerMs + 1 s.
  int quietMs = 3000;
  int answerMs = 5000;
};

// True when the name starts with kRfc2217Prefix.
bool isRfc2217PortName(const char* portName);

// A line for a name starting with kRfc2217Prefix, not yet open; nullptr
// only when memory runs out. A malformed HOST:PORT is found by open(),
// which then fails with kSerialNoSuchPort.
//
// Behaviour of the line:
// - open() connects (giving up after connectMs), offers COM-PORT-OPTION and waits for the answer; a
// refusal fails with
//   kRfc2217Refused, silence with kRfc2217NoAnswer. Either prints one line
//   on standard error naming the server.
// - getState() returns what setState() last applied (9600 8N1, RTS raised,
//   before the first setState).
// - setState() sends rate, data size, parity and stop size, and waits for
//   the server to confirm each with the same value; a different value, or
//   none in time, fails the call (kRfc2217BadValue / kRfc2217NoAnswer). A
//   change of fRtsControl between disable and enable lowers or raises RTS;
//   handshake and toggle are refused.
// - transmitByte() sends the byte as data; setRts() sends SET-CONTROL 11/12
//   without waiting for the echo.
// - check() reads what the server sent and asks after a quiet spell, as
//   every other call does (see Rfc2217Timing).
// - Every call first reads what the server sent; a connection the server
//   closed fails the call with kRfc2217Closed, a broken one with the socket
//   error, a server silent to the RTS-state question with kRfc2217NoAnswer,
//   and every later call fails too.
std::unique_ptr<SerialLine> createRfc2217SerialLine(const char* portName,
                                                    const Rfc2217Timing& timing = Rfc2217Timing());

}  // namespace platform
