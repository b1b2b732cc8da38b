// Pieces of a remote serial port server's stream, shared by the RFC 2217
// corpus generators.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/rfc2217_codec.h"

namespace rfc2217_seeds {

using platform::rfc2217::Bytes;

// IAC <verb> <option>.
inline Bytes negotiation(std::uint8_t verb, std::uint8_t option) {
  Bytes out;
  platform::rfc2217::appendNegotiation(verb, option, &out);
  return out;
}

// The server's confirmation of a COM-PORT-OPTION command with value.
inline Bytes confirmation(std::uint8_t command, const Bytes& value) {
  Bytes out;
  platform::rfc2217::appendComPortCommand(
      static_cast<std::uint8_t>(command + platform::rfc2217::SERVER_REPLY_OFFSET), value.data(),
      value.size(), &out);
  return out;
}

inline Bytes join(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace rfc2217_seeds
