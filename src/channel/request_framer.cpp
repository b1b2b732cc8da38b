#include "channel/request_framer.h"

#include <cstring>

#include "channel/wire.h"
#include "platform/clock.h"

namespace {

// Where the 32-bit argument of a set request ends.
constexpr std::uint32_t kArgumentEnd = kHeaderLength + 4;

bool startsWithSignature(const unsigned char* bytes, std::uint32_t count) {
  return count >= 2 && wire::readU16(bytes) == kSignature;
}

// Whether bytes can be the start of a request: the signature, or its first
// byte alone at the very end of a receive (the second may follow).
bool mayStartRequest(const unsigned char* bytes, std::uint32_t count) {
  if (count == 1) return bytes[0] == (kSignature & 0xFF);
  return startsWithSignature(bytes, count);
}

}  // namespace

RequestFramer::RequestFramer(Clock clock) : clock_(clock != nullptr ? clock : platform::tickMs) {}

// The size the pending request will have once whole: the header first,
// then 13 + L, never more than the longest message.
std::uint32_t RequestFramer::wanted() const {
  if (length_ < kHeaderLength) return kHeaderLength;
  const std::uint64_t whole = std::uint64_t{kHeaderLength} + wire::readU32(bytes_ + 9);
  return whole < kMaxMessage ? static_cast<std::uint32_t>(whole) : kMaxMessage;
}

// Moves bytes from *at on into the pending request, up to limit bytes in
// all and no further than count.
void RequestFramer::append(const unsigned char* bytes, std::uint32_t count, std::uint32_t* at,
                           std::uint32_t limit) {
  const std::uint32_t room = limit > length_ ? limit - length_ : 0;
  const std::uint32_t left = count - *at;
  const std::uint32_t taken = left < room ? left : room;
  if (taken > 0) std::memcpy(bytes_ + length_, bytes + *at, taken);
  length_ += taken;
  *at += taken;
}

void RequestFramer::deliverPending(const Deliver& deliver) {
  const std::uint32_t length = length_;
  length_ = 0;
  deliver(bytes_, length);
}

void RequestFramer::take(const unsigned char* bytes, std::uint32_t count, const Deliver& deliver) {
  if (count == 0) return;
  if (length_ == 0 && !mayStartRequest(bytes, count)) {
    deliver(bytes, count < kMaxMessage ? count : kMaxMessage);
    return;
  }
  std::uint32_t at = 0;
  while (at < count) {
    if (length_ == 0) startedMs_ = clock_();
    while (at < count && length_ < wanted()) append(bytes, count, &at, wanted());
    if (length_ >= 2 && !startsWithSignature(bytes_, length_)) {
      // A lone first signature byte was not followed by the second: this
      // is no request, and the rest of the receive goes with it.
      append(bytes, count, &at, kMaxMessage);
      deliverPending(deliver);
      return;
    }
    if (length_ < wanted()) return;  // the rest comes in a later receive
    if (at < count && bytes_[3] == SKERROW_ACTION_SET && length_ < kArgumentEnd &&
        !(count - at >= kHeaderLength && startsWithSignature(bytes + at, count - at))) {
      // The argument of a set request whose length field is short: read
      // from bytes 13-16 whatever they hold, even 01 18, unless a whole
      // request header stands there.
      append(bytes, count, &at, kArgumentEnd);
    }
    if (at < count && !mayStartRequest(bytes + at, count - at)) {
      // Trailing bytes that start no request belong to this one; what
      // would pass the longest message is dropped with it.
      append(bytes, count, &at, kMaxMessage);
      at = count;
    }
    deliverPending(deliver);
  }
}

bool RequestFramer::due() const {
  // Unsigned difference: right across the tick's wrap.
  return length_ > 0 && clock_() - startedMs_ >= kJoinWaitMs;
}

void RequestFramer::expire(const Deliver& deliver) {
  if (due()) deliverPending(deliver);
}

void RequestFramer::flush(const Deliver& deliver) {
  if (length_ > 0) deliverPending(deliver);
}
