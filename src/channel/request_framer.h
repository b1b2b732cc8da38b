// Cuts the byte stream of one client session into requests. TCP keeps no
// message bounds: one receive may hold several requests, and one request
// may arrive in several receives.
//
// One request in the stream:
//   offset 0  2 bytes  signature 01 18
//          9  4        length field L (little-endian)
//         13  L        payload
// A request ends at 13 + L, and never holds more than kMaxMessage bytes.
// Bytes that follow it in the same receive without beginning with the
// signature still belong to it: clients send a set request with L = 0 and
// its 4-byte argument behind it, and command processing reads the argument
// from bytes 13-16 whatever L says. For the same reason the four argument
// bytes of a set request with L < 4 belong to it even when they begin with
// the signature, unless a whole header (13 bytes) begins there.
#pragma once

#include <cstdint>
#include <functional>

#include "channel/command_message.h"

class RequestFramer {
 public:
  using Clock = std::uint32_t (*)();
  // Receives one whole request (or one malformed receive); the bytes are
  // valid only during the call.
  using Deliver = std::function<void(const unsigned char* bytes, std::uint32_t count)>;

  // How long a partial request waits for its rest before it is delivered
  // as it stands.
  static constexpr std::uint32_t kJoinWaitMs = 100;

  // clock: milliseconds from an arbitrary start; the platform tick unless a
  // test gives its own.
  RequestFramer() : RequestFramer(nullptr) {}
  explicit RequestFramer(Clock clock);

  // Takes the bytes of one receive and delivers, in order, every request
  // they complete. A receive that does not begin with the signature and
  // continues no partial request is delivered whole as it arrived (cut to
  // kMaxMessage), for command processing to refuse as malformed, so it
  // never stalls the session. A request still incomplete at the end is
  // kept for the next receive.
  void take(const unsigned char* bytes, std::uint32_t count, const Deliver& deliver);

  // True once a partial request has waited kJoinWaitMs for its rest.
  bool due() const;
  // Delivers a partial request as it stands when due(); does nothing
  // otherwise.
  void expire(const Deliver& deliver);
  // Delivers a partial request as it stands at once, as when its client
  // has gone and no rest can come.
  void flush(const Deliver& deliver);

  // The bytes of a partial request waiting for its rest.
  std::uint32_t pending() const { return length_; }

 private:
  std::uint32_t wanted() const;
  void append(const unsigned char* bytes, std::uint32_t count, std::uint32_t* at,
              std::uint32_t limit);
  void deliverPending(const Deliver& deliver);

  Clock clock_;
  unsigned char bytes_[kMaxMessage];
  std::uint32_t length_ = 0;
  std::uint32_t startedMs_ = 0;
};
