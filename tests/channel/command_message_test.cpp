#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "channel/command_message.h"
#include "channel/wire.h"
#include "support/message_bytes.h"

namespace {

using testing_support::Bytes;

Bytes bytesOf(const CommandMessage& message) {
  return Bytes(message.bytes(), message.bytes() + message.size());
}

Bytes hex(const std::string& text) { return testing_support::fromHex(text); }

Bytes int32Payload(std::int32_t value) { return testing_support::int32Bytes(value); }

TEST(CommandMessageTest, NewMessageIsABareHeaderWithTheSignature) {
  CommandMessage message;
  EXPECT_EQ(hex("01 18 00 00 00 00 00 00 00 00 00 00 00"), bytesOf(message));
  EXPECT_TRUE(message.wellFormed());
}

struct WireCase {
  const char* name;
  std::uint16_t type;
  std::uint8_t action;
  Bytes payload;
  const char* expected;
};

TEST(CommandMessageTest, BuildsTheDocumentedWireBytes) {
  const WireCase cases[] = {
      {"interval get", SKERROW_MESSAGE_INTERVAL, 0, {}, "01 18 00 00 06 00 00 00 00 00 00 00 00"},
      {"interval reply", SKERROW_MESSAGE_INTERVAL, 0, int32Payload(1000),
       "01 18 00 00 06 00 00 00 00 04 00 00 00 E8 03 00 00"},
      {"connect set", SKERROW_MESSAGE_CONNECT, 1, int32Payload(1),
       "01 18 00 01 02 00 00 00 00 04 00 00 00 01 00 00 00"},
      {"connect reply", SKERROW_MESSAGE_CONNECT, 0, int32Payload(1),
       "01 18 00 00 02 00 00 00 00 04 00 00 00 01 00 00 00"},
      {"unknown type reply",
       SKERROW_UNKNOWN_TYPE_REPLY,
       SKERROW_ACTION_UNKNOWN_TYPE,
       {},
       "01 18 00 02 03 00 00 00 00 00 00 00 00"},
      {"negative interval", SKERROW_MESSAGE_INTERVAL, 1, int32Payload(-2),
       "01 18 00 01 06 00 00 00 00 04 00 00 00 FE FF FF FF"},
  };
  for (const WireCase& c : cases) {
    CommandMessage message;
    ASSERT_TRUE(message.setMessage(c.type, c.action, c.payload.empty() ? nullptr : c.payload.data(),
                                   static_cast<std::uint32_t>(c.payload.size())));
    EXPECT_EQ(hex(c.expected), bytesOf(message)) << c.name;
  }
}

TEST(CommandMessageTest, PayloadIsCarriedOnlyBelowTheLimit) {
  const Bytes payload(1400, 0xAB);
  for (std::uint32_t length : {0u, 1u, 1399u, 1400u, 5000u}) {
    CommandMessage message;
    ASSERT_TRUE(message.setMessage(SKERROW_MESSAGE_FILEPREFIX, 0, payload.data(),
                                   length <= payload.size() ? length : 1400));
    const bool carried = length > 0 && length < 1400;
    EXPECT_EQ(carried ? length + 13 : 13u, message.size()) << length;
    EXPECT_EQ(carried ? length : 0u, message.length()) << length;
  }
}

TEST(CommandMessageTest, PrefixFieldIsAlways257BytesZeroFilled) {
  unsigned char field[kTextField];
  std::memset(field, 0xEE, sizeof field);
  buildTextField("AUV_", field, sizeof field);
  CommandMessage reply;
  ASSERT_TRUE(reply.setMessage(SKERROW_MESSAGE_FILEPREFIX, 0, field, sizeof field));
  ASSERT_EQ(13u + 257u, reply.size());
  EXPECT_EQ(257u, reply.length());
  Bytes expected = hex("01 18 00 00 07 00 00 00 00 01 01 00 00");
  for (char c : std::string("AUV_")) expected.push_back(static_cast<unsigned char>(c));
  expected.resize(13 + 257, 0);
  EXPECT_EQ(expected, bytesOf(reply));
}

TEST(CommandMessageTest, TextFieldAlwaysKeepsItsTerminator) {
  unsigned char field[8];
  buildTextField("0123456789", field, sizeof field);
  EXPECT_EQ(std::string("0123456"), std::string(reinterpret_cast<char*>(field)));
  EXPECT_EQ(0, field[7]);
}

TEST(CommandMessageTest, ReceivedBytesAreReadInPlaceAndBounded) {
  struct Case {
    const char* name;
    const char* bytes;
    bool wellFormed;
    std::uint16_t type;
    std::uint8_t action;
    bool argumentPresent;
    std::int32_t argument;
    std::uint32_t covered;
  } cases[] = {
      {"interval get", "01 18 00 00 06 00 00 00 00 00 00 00 00", true, 6, 0, false, 0, 13},
      {"connect set", "01 18 00 01 02 00 00 00 00 04 00 00 00 01 00 00 00", true, 2, 1, true, 1,
       17},
      {"swapped signature", "18 01 00 00 06 00 00 00 00 00 00 00 00", false, 6, 0, false, 0, 13},
      {"length claims more than arrived", "01 18 00 01 06 00 00 00 00 FF FF FF FF 10 27 00 00",
       true, 6, 1, true, 10000, 17},
      {"two messages in one chunk",
       "01 18 00 01 06 00 00 00 00 04 00 00 00 64 00 00 00 01 18 00 00 09 00 00 00 00 00 00 00 00",
       true, 6, 1, true, 100, 17},
      {"set without its argument", "01 18 00 01 06 00 00 00 00 04 00 00 00", true, 6, 1, false, 0,
       13},
      {"length 0, argument behind", "01 18 00 01 06 00 00 00 00 00 00 00 00 F4 01 00 00", true, 6,
       1, true, 500, 13},
      {"one byte", "01", false, 0, 0, false, 0, 1},
  };
  for (const Case& c : cases) {
    const Bytes received = hex(c.bytes);
    CommandMessage request;
    request.takeReceived(received.data(), static_cast<std::uint32_t>(received.size()));
    EXPECT_EQ(c.wellFormed, request.wellFormed()) << c.name;
    EXPECT_EQ(c.type, request.type()) << c.name;
    EXPECT_EQ(c.action, request.action()) << c.name;
    bool present = !c.argumentPresent;
    EXPECT_EQ(c.argument, request.argument(&present)) << c.name;
    EXPECT_EQ(c.argumentPresent, present) << c.name;
    EXPECT_EQ(c.covered, request.size()) << c.name;
    EXPECT_EQ(received.data(), request.bytes()) << c.name << ": must not copy";
  }
}

TEST(CommandMessageTest, BufferHolderOwnsOnlyWhatItCopied) {
  CommandMessage::CBufferManager holder;
  unsigned char outside[4] = {1, 2, 3, 4};
  EXPECT_TRUE(holder.setBuffer(outside, 4, false));
  EXPECT_EQ(outside, holder.data);
  EXPECT_FALSE(holder.owned);
  EXPECT_TRUE(holder.setBuffer(outside, 4, true));
  EXPECT_NE(outside, holder.data);
  EXPECT_TRUE(holder.owned);
  EXPECT_EQ(0, std::memcmp(outside, holder.data, 4));
  EXPECT_FALSE(holder.setBuffer(nullptr, 0, false));
  EXPECT_FALSE(holder.setBuffer(outside, 0, true));
}

}  // namespace
