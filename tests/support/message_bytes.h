// Command messages as byte vectors, for tests that compare wire bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// "01 18 00 ..." to bytes, and back.
Bytes fromHex(const std::string& text);
std::string toHex(const Bytes& bytes);

// The whole message the server or a client builds for type, action and
// payload.
Bytes messageBytes(std::uint16_t type, std::uint8_t action, const Bytes& payload = {});

// A 32-bit little-endian payload.
Bytes int32Bytes(std::int32_t value);

}  // namespace testing_support
