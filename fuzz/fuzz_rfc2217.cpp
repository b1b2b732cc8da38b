// Feeds arbitrary bytes, as a remote port server's stream, to the RFC 2217
// reader: whole, in pieces the input chooses, and one byte at a time. Every
// split must give the same units as the whole feed, and the units written
// back out must read back the same.
//
// Input: one byte whose low three bits give the number of cuts n, then n
// bytes giving the lengths of the first n pieces (0 is an empty feed), then
// the stream; the rest of the stream after those pieces is the last piece.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/rfc2217_codec.h"

namespace {

namespace tn = platform::rfc2217;
using Events = std::vector<tn::Event>;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Feeds one piece from a heap block of exactly its size, so that a read
// outside the piece is caught.
void feedPiece(tn::Parser* parser, const std::uint8_t* data, std::size_t size, Events* events) {
  std::unique_ptr<std::uint8_t[]> piece(new std::uint8_t[size]);
  if (size != 0) std::memcpy(piece.get(), data, size);
  parser->feed(piece.get(), size, events);
}

// Data runs are cut where the pieces are cut; join them to compare.
Events joined(const Events& events) {
  Events out;
  for (const tn::Event& event : events) {
    if (event.kind == tn::Event::Kind::kData && !out.empty() &&
        out.back().kind == tn::Event::Kind::kData) {
      out.back().payload.insert(out.back().payload.end(), event.payload.begin(),
                                event.payload.end());
    } else {
      out.push_back(event);
    }
  }
  return out;
}

bool same(const Events& a, const Events& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].verb != b[i].verb || a[i].option != b[i].option ||
        a[i].payload != b[i].payload) {
      return false;
    }
  }
  return true;
}

// What each unit may hold, whatever the stream was.
void checkUnits(const Events& events) {
  for (const tn::Event& event : events) {
    switch (event.kind) {
      case tn::Event::Kind::kData:
        check(!event.payload.empty());
        break;
      case tn::Event::Kind::kNegotiation:
        check(event.verb >= tn::WILL && event.verb <= tn::DONT);
        check(event.payload.empty());
        break;
      case tn::Event::Kind::kSubnegotiation:
        check(event.option != tn::IAC);
        check(event.payload.size() <= tn::Parser::kMaxSubnegotiation);
        break;
      case tn::Event::Kind::kCommand:
        check(event.verb != tn::IAC && event.verb != tn::SB &&
              !(event.verb >= tn::WILL && event.verb <= tn::DONT));
        check(event.payload.empty());
        break;
    }
  }
}

// The stream that stands for these units.
tn::Bytes written(const Events& events) {
  tn::Bytes out;
  for (const tn::Event& event : events) {
    switch (event.kind) {
      case tn::Event::Kind::kData:
        tn::appendData(event.payload.data(), event.payload.size(), &out);
        break;
      case tn::Event::Kind::kNegotiation:
        tn::appendNegotiation(event.verb, event.option, &out);
        break;
      case tn::Event::Kind::kSubnegotiation:
        out.push_back(tn::IAC);
        out.push_back(tn::SB);
        out.push_back(event.option);
        tn::appendData(event.payload.data(), event.payload.size(), &out);
        out.push_back(tn::IAC);
        out.push_back(tn::SE);
        break;
      case tn::Event::Kind::kCommand:
        out.push_back(tn::IAC);
        out.push_back(event.verb);
        break;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t cuts = data[0] & 7;
  if (size < 1 + cuts) return 0;
  const std::uint8_t* lengths = data + 1;
  const std::uint8_t* stream = data + 1 + cuts;
  const std::size_t streamSize = size - 1 - cuts;

  Events whole;
  {
    tn::Parser parser;
    feedPiece(&parser, stream, streamSize, &whole);
  }
  checkUnits(whole);
  // A whole feed never leaves two data units side by side.
  check(same(joined(whole), whole));

  Events split;
  {
    tn::Parser parser;
    std::size_t at = 0;
    for (std::size_t i = 0; i < cuts; ++i) {
      const std::size_t length = lengths[i] < streamSize - at ? lengths[i] : streamSize - at;
      feedPiece(&parser, stream + at, length, &split);
      at += length;
    }
    feedPiece(&parser, stream + at, streamSize - at, &split);
  }
  checkUnits(split);
  check(same(joined(split), whole));

  // One byte at a time, from one copy: a block per byte would cost more than
  // the parsing.
  Events bytewise;
  {
    tn::Parser parser;
    const tn::Bytes copy(stream, stream + streamSize);
    for (std::size_t i = 0; i < streamSize; ++i) parser.feed(&copy[i], 1, &bytewise);
  }
  check(same(joined(bytewise), whole));

  // Written back out, the units read back as they are.
  const tn::Bytes again = written(whole);
  Events reread;
  {
    tn::Parser parser;
    feedPiece(&parser, again.data(), again.size(), &reread);
  }
  check(same(reread, whole));
  return 0;
}
