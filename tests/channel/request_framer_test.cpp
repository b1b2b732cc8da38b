#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/request_framer.h"
#include "support/message_bytes.h"

namespace {

using testing_support::Bytes;
using testing_support::fromHex;
using testing_support::toHex;

std::uint32_t fakeNow = 0;
std::uint32_t fakeClock() { return fakeNow; }

const std::string kGet = "01 18 00 00 06 00 00 00 00 00 00 00 00";
const std::string kHeader4 = "01 18 00 01 06 00 00 00 00 04 00 00 00";
const std::string kSet = kHeader4 + " F4 01 00 00";
const std::string kSetLength0 = "01 18 00 01 06 00 00 00 00 00 00 00 00 F4 01 00 00";

struct Framed {
  std::vector<std::string> delivered;
  std::uint32_t pending = 0;
};

Framed frame(RequestFramer* framer, const std::vector<std::string>& receives) {
  Framed out;
  const auto deliver = [&](const unsigned char* bytes, std::uint32_t count) {
    out.delivered.push_back(toHex(Bytes(bytes, bytes + count)));
  };
  for (const std::string& receive : receives) {
    // Each receive in a block of exactly its size, as a socket read fills.
    const Bytes bytes = fromHex(receive);
    framer->take(bytes.data(), static_cast<std::uint32_t>(bytes.size()), deliver);
  }
  out.pending = framer->pending();
  return out;
}

TEST(RequestFramerTest, CutsAndJoinsRequestsAsTheyArrive) {
  const struct {
    const char* name;
    std::vector<std::string> receives;
    std::vector<std::string> delivered;
    std::uint32_t pending;
  } cases[] = {
      {"one request", {kSet}, {kSet}, 0},
      {"two in one receive", {kGet + " " + kSet}, {kGet, kSet}, 0},
      {"split header", {"01 18 00 01 06", "00 00 00 00 04 00 00 00 F4 01 00 00"}, {kSet}, 0},
      {"split payload", {kHeader4, "F4 01 00 00"}, {kSet}, 0},
      {"split signature", {kGet + " 01", "18 00 00 06 00 00 00 00 00 00 00 00"}, {kGet, kGet}, 0},
      {"length 0 with its argument behind", {kSetLength0}, {kSetLength0}, 0},
      {"length 0 with its argument, then a request",
       {kSetLength0 + " " + kGet},
       {kSetLength0, kGet},
       0},
      {"length 0 with an argument that looks like a signature",
       {"01 18 00 01 06 00 00 00 00 00 00 00 00 01 18 00 00"},
       {"01 18 00 01 06 00 00 00 00 00 00 00 00 01 18 00 00"},
       0},
      {"garbage", {"18 01 00 00 06"}, {"18 01 00 00 06"}, 0},
      {"garbage after a complete request", {kGet, "FF FE"}, {kGet, "FF FE"}, 0},
      {"garbage, then a request", {"FF", kGet}, {"FF", kGet}, 0},
      {"lone first signature byte, then garbage", {kGet + " 01", "FF 18"}, {kGet, "01 FF 18"}, 0},
      {"incomplete request waits", {kGet + " 01 18 00"}, {kGet}, 3},
  };
  for (const auto& c : cases) {
    RequestFramer framer(fakeClock);
    const Framed got = frame(&framer, c.receives);
    EXPECT_EQ(c.delivered, got.delivered) << c.name;
    EXPECT_EQ(c.pending, got.pending) << c.name;
  }
}

TEST(RequestFramerTest, LengthFieldBeyondTheLongestMessageIsCutThere) {
  RequestFramer framer(fakeClock);
  // Claims 0xFFFFFFFF payload bytes; 1500 follow in two receives.
  Bytes first = fromHex("01 18 00 01 07 00 00 00 00 FF FF FF FF");
  first.resize(1000, 'a');
  const Bytes second(513, 'b');
  std::vector<std::uint32_t> counts;
  const auto deliver = [&](const unsigned char*, std::uint32_t count) { counts.push_back(count); };
  framer.take(first.data(), static_cast<std::uint32_t>(first.size()), deliver);
  EXPECT_TRUE(counts.empty());
  framer.take(second.data(), static_cast<std::uint32_t>(second.size()), deliver);
  EXPECT_EQ(std::vector<std::uint32_t>{kMaxMessage}, counts);
  EXPECT_EQ(0u, framer.pending()) << "the bytes past the longest message go with it";
}

TEST(RequestFramerTest, PartialRequestIsDeliveredAsItStandsAfterItsWait) {
  RequestFramer framer(fakeClock);
  fakeNow = 0xFFFFFFF0u;  // the wait spans the tick's wrap
  std::vector<std::string> delivered;
  const auto deliver = [&](const unsigned char* bytes, std::uint32_t count) {
    delivered.push_back(toHex(Bytes(bytes, bytes + count)));
  };
  const Bytes header = fromHex(kHeader4);
  framer.take(header.data(), static_cast<std::uint32_t>(header.size()), deliver);
  fakeNow += RequestFramer::kJoinWaitMs - 1;
  EXPECT_FALSE(framer.due());
  framer.expire(deliver);
  EXPECT_TRUE(delivered.empty());
  fakeNow += 1;
  EXPECT_TRUE(framer.due());
  framer.expire(deliver);
  EXPECT_EQ(std::vector<std::string>{kHeader4}, delivered);
  // The late rest no longer belongs to anything: malformed on its own.
  const Bytes rest = fromHex("F4 01 00 00");
  framer.take(rest.data(), static_cast<std::uint32_t>(rest.size()), deliver);
  EXPECT_EQ((std::vector<std::string>{kHeader4, "F4 01 00 00"}), delivered);
}

}  // namespace
