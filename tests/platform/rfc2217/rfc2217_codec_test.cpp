// The Telnet framing of remote serial ports: what the client sends, and how
// the server's stream is read in any pieces, including hostile ones.
#include "platform/rfc2217_codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

namespace tn = platform::rfc2217;
using tn::Bytes;

std::string hex(const Bytes& bytes) {
  std::string text;
  char two[4];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(two, sizeof two, "%02x", byte);
    text += two;
  }
  return text;
}

// Events as text, adjacent data joined, so that reads in different pieces
// can be compared: "d:<hex>", "n:<verb>,<option>", "s:<option>:<hex>", "c:<verb>".
std::string describe(const std::vector<tn::Event>& events) {
  std::string text;
  std::string data;
  auto flush = [&] {
    if (!data.empty()) text += "d:" + data + " ";
    data.clear();
  };
  for (const tn::Event& event : events) {
    switch (event.kind) {
      case tn::Event::Kind::kData:
        data += hex(event.payload);
        break;
      case tn::Event::Kind::kNegotiation:
        flush();
        text += "n:" + std::to_string(event.verb) + "," + std::to_string(event.option) + " ";
        break;
      case tn::Event::Kind::kSubnegotiation:
        flush();
        text += "s:" + std::to_string(event.option) + ":" + hex(event.payload) + " ";
        break;
      case tn::Event::Kind::kCommand:
        flush();
        text += "c:" + std::to_string(event.verb) + " ";
        break;
    }
  }
  flush();
  if (!text.empty()) text.pop_back();
  return text;
}

std::string parseWhole(const Bytes& input) {
  tn::Parser parser;
  std::vector<tn::Event> events;
  parser.feed(input.data(), input.size(), &events);
  return describe(events);
}

// Each piece is copied into a buffer of exactly its size, so a read past a
// piece shows under AddressSanitizer.
std::string parseInPieces(const Bytes& input, const std::vector<std::size_t>& cuts) {
  tn::Parser parser;
  std::vector<tn::Event> events;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : input.size();
    std::vector<std::uint8_t> piece(input.begin() + static_cast<std::ptrdiff_t>(from),
                                    input.begin() + static_cast<std::ptrdiff_t>(to));
    if (piece.empty()) {
      parser.feed(nullptr, 0, &events);
    } else {
      std::uint8_t* copy = new std::uint8_t[piece.size()];
      std::copy(piece.begin(), piece.end(), copy);
      parser.feed(copy, piece.size(), &events);
      delete[] copy;
    }
    from = to;
  }
  return describe(events);
}

TEST(Rfc2217Escaping, DataDoublesOnlyIac) {
  struct Case {
    Bytes in;
    Bytes out;
  };
  const Case cases[] = {
      {{}, {}},
      {{0x00}, {0x00}},
      {{0xFF}, {0xFF, 0xFF}},
      {{0xFE, 0xFF, 0x0D, 0x00}, {0xFE, 0xFF, 0xFF, 0x0D, 0x00}},
      {{0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {{0xF0, 0xFA}, {0xF0, 0xFA}},
  };
  for (const Case& c : cases) {
    Bytes out;
    tn::appendData(c.in.data(), c.in.size(), &out);
    EXPECT_EQ(hex(c.out), hex(out)) << "input " << hex(c.in);
  }
}

TEST(Rfc2217Escaping, Negotiation) {
  Bytes out;
  tn::appendNegotiation(tn::WILL, tn::OPTION_COM_PORT, &out);
  tn::appendNegotiation(tn::WONT, 24, &out);
  EXPECT_EQ("fffb2cfffc18", hex(out));
}

TEST(Rfc2217Escaping, SubnegotiationFraming) {
  struct Case {
    const char* what;
    std::uint8_t command;
    Bytes value;
    const char* wire;
  };
  std::uint8_t rate[4];
  tn::encodeBaudRate(4800, rate);
  const Bytes rate4800(rate, rate + 4);
  tn::encodeBaudRate(0x00FFFF01u, rate);  // two bytes of 0xFF inside the value
  const Bytes rateWithIac(rate, rate + 4);
  tn::encodeBaudRate(115200, rate);
  const Bytes rate115200(rate, rate + 4);
  const Case cases[] = {
      {"rate 4800", tn::SET_BAUDRATE, rate4800, "fffa2c01000012c0fff0"},
      {"rate 115200", tn::SET_BAUDRATE, rate115200, "fffa2c010001c200fff0"},
      {"rate with IAC bytes", tn::SET_BAUDRATE, rateWithIac, "fffa2c0100ffffffff01fff0"},
      {"data size 8", tn::SET_DATASIZE, {8}, "fffa2c0208fff0"},
      {"parity even", tn::SET_PARITY, {tn::PARITY_EVEN}, "fffa2c0303fff0"},
      {"stop size two", tn::SET_STOPSIZE, {tn::STOPSIZE_TWO}, "fffa2c0402fff0"},
      {"RTS on", tn::SET_CONTROL, {tn::CONTROL_RTS_ON}, "fffa2c050bfff0"},
      {"RTS off", tn::SET_CONTROL, {tn::CONTROL_RTS_OFF}, "fffa2c050cfff0"},
      {"no value", 0, {}, "fffa2c00fff0"},
  };
  for (const Case& c : cases) {
    Bytes out;
    tn::appendComPortCommand(c.command, c.value.data(), c.value.size(), &out);
    EXPECT_EQ(c.wire, hex(out)) << c.what;
  }
}

struct ParseCase {
  const char* what;
  Bytes input;
  const char* events;
};

// Every case is read whole, then cut at every single position, then byte by
// byte: the events must not depend on how the stream arrived.
const ParseCase kParseCases[] = {
    {"plain data", {'a', 'b', 0x00, 0x0D}, "d:6162000d"},
    {"doubled IAC is one data byte", {0x41, 0xFF, 0xFF, 0x42}, "d:41ff42"},
    {"DO COM-PORT", {0xFF, 0xFD, 0x2C}, "n:253,44"},
    {"DONT COM-PORT", {0xFF, 0xFE, 0x2C}, "n:254,44"},
    {"WILL and WONT", {0xFF, 0xFB, 0x01, 0xFF, 0xFC, 0x03}, "n:251,1 n:252,3"},
    {"rate confirmation",
     {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x12, 0xC0, 0xFF, 0xF0},
     "s:44:65000012c0"},
    {"IAC doubled inside a value",
     {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0xFF, 0xFF, 0x01, 0x02, 0xFF, 0xF0},
     "s:44:6500ff0102"},
    {"bare commands", {0xFF, 0xF1, 'x', 0xFF, 0xF9}, "c:241 d:78 c:249"},
    {"data around a subnegotiation",
     {'a', 0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0, 'b'},
     "d:61 s:44:6b30 d:62"},
    {"other option's subnegotiation", {0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0}, "s:24:01"},
    {"empty subnegotiation payload", {0xFF, 0xFA, 0x2C, 0xFF, 0xF0}, "s:44:"},
    {"truncated subnegotiation", {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00}, ""},
    {"truncated after IAC inside a subnegotiation", {0xFF, 0xFA, 0x2C, 0x65, 0xFF}, ""},
    {"truncated negotiation", {'z', 0xFF, 0xFD}, "d:7a"},
    {"lone IAC at the end", {'z', 0xFF}, "d:7a"},
    {"subnegotiation without option", {0xFF, 0xFA, 0xFF, 0xF0, 'k'}, "d:6b"},
    {"subnegotiation cut by a command",
     {0xFF, 0xFA, 0x2C, 0x65, 0x01, 0xFF, 0xFD, 0x2C, 'q'},
     "n:253,44 d:71"},
    {"subnegotiation cut by SB starts a new one",
     {0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0xFA, 0x2C, 0x66, 0x08, 0xFF, 0xF0},
     "s:44:6608"},
    {"SE without SB is a bare command", {0xFF, 0xF0, 'a'}, "c:240 d:61"},
};

TEST(Rfc2217Parser, ReadsTheSameInAnyPieces) {
  for (const ParseCase& c : kParseCases) {
    EXPECT_EQ(c.events, parseWhole(c.input)) << c.what;
    for (std::size_t cut = 0; cut <= c.input.size(); ++cut) {
      EXPECT_EQ(c.events, parseInPieces(c.input, {cut})) << c.what << ", cut at " << cut;
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < c.input.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(c.events, parseInPieces(c.input, everyByte)) << c.what << ", byte by byte";
  }
}

TEST(Rfc2217Parser, DropsAnOverlongSubnegotiationAndGoesOn) {
  Bytes input = {0xFF, 0xFA, 0x2C, 0x65};
  input.insert(input.end(), 10000, 0x41);
  input.insert(input.end(), {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFD, 0x2C, 'x'});
  EXPECT_EQ("n:253,44 d:78", parseWhole(input));
  std::vector<std::size_t> cuts;
  for (std::size_t i = 7; i < input.size(); i += 997) cuts.push_back(i);
  EXPECT_EQ("n:253,44 d:78", parseInPieces(input, cuts));
}

TEST(Rfc2217Parser, LongestAcceptedSubnegotiationIsKept) {
  Bytes input = {0xFF, 0xFA, 0x2C};
  input.insert(input.end(), tn::Parser::kMaxSubnegotiation, 0x07);
  input.insert(input.end(), {0xFF, 0xF0});
  std::string value;
  for (std::size_t i = 0; i < tn::Parser::kMaxSubnegotiation; ++i) value += "07";
  EXPECT_EQ("s:44:" + value, parseWhole(input));
  input.insert(input.begin() + 3, 0x07);  // one byte too many
  EXPECT_EQ("", parseWhole(input));
}

TEST(Rfc2217Parser, KeepsEarlierEventsOfTheCaller) {
  tn::Parser parser;
  std::vector<tn::Event> events;
  const std::uint8_t first[] = {'a'};
  const std::uint8_t second[] = {'b'};
  parser.feed(first, sizeof first, &events);
  parser.feed(second, sizeof second, &events);
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ("61", hex(events[0].payload));
  EXPECT_EQ("62", hex(events[1].payload));
}

// Random streams, rich in IAC and command bytes, cut at random places: the
// reader must neither fault nor depend on the cuts.
TEST(Rfc2217Parser, SurvivesRandomStreams) {
  std::mt19937 random(2217);
  const std::uint8_t favourites[] = {0xFF, 0xFA, 0xF0, 0xFD, 0xFE, 0xFB, 0xFC, 0x2C, 0x65, 0x00};
  for (int round = 0; round < 300; ++round) {
    Bytes input(random() % 300);
    for (std::uint8_t& byte : input) {
      byte = (random() % 3 == 0) ? static_cast<std::uint8_t>(random())
                                 : favourites[random() % sizeof favourites];
    }
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < input.size(); at += 1 + random() % 7) cuts.push_back(at);
    EXPECT_EQ(parseWhole(input), parseInPieces(input, cuts)) << "round " << round;
  }
}

}  // namespace
