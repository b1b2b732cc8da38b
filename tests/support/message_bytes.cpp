#include "support/message_bytes.h"

#include <cstdio>

#include "channel/command_message.h"
#include "channel/wire.h"

namespace testing_support {

Bytes fromHex(const std::string& text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string toHex(const Bytes& bytes) {
  std::string text;
  char two[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
    text += two;
  }
  return text;
}

Bytes messageBytes(std::uint16_t type, std::uint8_t action, const Bytes& payload) {
  CommandMessage message;
  message.setMessage(type, action, payload.empty() ? nullptr : payload.data(),
                     static_cast<std::uint32_t>(payload.size()));
  return Bytes(message.bytes(), message.bytes() + message.size());
}

Bytes int32Bytes(std::int32_t value) {
  Bytes bytes(4);
  wire::writeU32(bytes.data(), static_cast<std::uint32_t>(value));
  return bytes;
}

}  // namespace testing_support
