// Writes the seed corpus of fuzz_rfc2217_line into the directory named on
// the command line: conversations with a remote port server that accepts,
// refuses, stays silent, confirms other values, confirms too early, closes,
// or fails a send, in the operation language of the fuzz target.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "rfc2217_seeds.h"
#include "seed_writer.h"

#include "platform/rfc2217_codec.h"

namespace {

namespace tn = platform::rfc2217;
using rfc2217_seeds::confirmation;
using rfc2217_seeds::join;
using rfc2217_seeds::negotiation;
using tn::Bytes;

// Peer settings of the first byte.
constexpr std::uint8_t kEcho = 1;
constexpr std::uint8_t kShortSends = 2;
constexpr std::uint8_t kByteReceives = 4;

// Operations.
constexpr std::uint8_t kChunkNow = 0;
constexpr std::uint8_t kChunkOnSend = 1;
constexpr std::uint8_t kOpen = 2;
constexpr std::uint8_t kSetState = 3;
constexpr std::uint8_t kTransmit = 4;
constexpr std::uint8_t kRts = 5;
constexpr std::uint8_t kGetState = 6;
constexpr std::uint8_t kServerCloses = 7;
constexpr std::uint8_t kFailSend = 8;
constexpr std::uint8_t kClose = 9;
constexpr std::uint8_t kFailConnect = 10;

class Script {
 public:
  explicit Script(std::uint8_t settings) : bytes_{settings} {}

  Script& op(std::uint8_t code) {
    bytes_.push_back(code);
    return *this;
  }
  Script& op(std::uint8_t code, std::uint8_t operand) {
    bytes_.push_back(code);
    bytes_.push_back(operand);
    return *this;
  }
  Script& chunk(std::uint8_t code, const Bytes& data) {
    bytes_.push_back(code);
    bytes_.push_back(static_cast<std::uint8_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
  }
  // Parity, stop bits and RTS control as the target reads them: the
  // platform's values.
  Script& setState(std::uint32_t rate, std::uint8_t bits, std::uint8_t parity, std::uint8_t stop,
                   std::uint8_t rts) {
    bytes_.push_back(kSetState);
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(rate >> (8 * i)));
    bytes_.insert(bytes_.end(), {bits, parity, stop, rts});
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// What a server answers to the offer.
Bytes accepted() {
  return join({negotiation(tn::DO, 44), negotiation(tn::DO, 0), negotiation(tn::WILL, 0),
               negotiation(tn::DO, 3), negotiation(tn::WILL, 3)});
}

// The confirmations of 1200 8N1, the first value replaced when rate is
// given.
Bytes confirmed1200(const Bytes& rate = {0x00, 0x00, 0x04, 0xB0}) {
  return join({confirmation(1, rate), confirmation(2, {8}), confirmation(3, {tn::PARITY_NONE}),
               confirmation(4, {tn::STOPSIZE_ONE})});
}

class Writer : public SeedWriter {
 public:
  using SeedWriter::SeedWriter;

  void add(const std::string& name, const Script& script) {
    writeFile(name + ".bin", script.bytes().data(), script.bytes().size());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  Writer w(argv[1]);
  w.add("echo-session", Script(kEcho)
                            .op(kOpen)
                            .setState(9600, 8, 0, 0, 1)
                            .op(kTransmit, 0)
                            .op(kTransmit, 0xFF)
                            .op(kRts, 0)
                            .op(kRts, 1)
                            .op(kGetState)
                            .op(kClose));
  w.add("echo-session-in-pieces", Script(kEcho | kShortSends | kByteReceives)
                                      .op(kOpen)
                                      .setState(1200, 7, 2, 2, 0)
                                      .op(kTransmit, 0)
                                      .op(kGetState));
  w.add("scripted-session", Script(0)
                                .chunk(kChunkOnSend, accepted())
                                .op(kOpen)
                                .chunk(kChunkOnSend, confirmed1200())
                                .setState(1200, 8, 0, 0, 1)
                                .op(kTransmit, 0)
                                .op(kGetState));
  w.add("refused", Script(0).chunk(kChunkOnSend, negotiation(tn::DONT, 44)).op(kOpen).op(kOpen));
  w.add("silent", Script(0).op(kOpen).op(kTransmit, 0));
  w.add("other-value-confirmed", Script(0)
                                     .chunk(kChunkOnSend, accepted())
                                     .op(kOpen)
                                     .chunk(kChunkOnSend, confirmed1200({0, 0, 0x25, 0x80}))
                                     .setState(1200, 8, 0, 0, 1)
                                     .op(kGetState));
  Bytes three = confirmed1200();
  three.resize(three.size() - 7);
  w.add("three-confirmations", Script(0)
                                   .chunk(kChunkOnSend, accepted())
                                   .op(kOpen)
                                   .chunk(kChunkOnSend, three)
                                   .setState(1200, 8, 0, 0, 1));
  w.add("confirmed-before-asked", Script(0)
                                      .chunk(kChunkOnSend, accepted())
                                      .op(kOpen)
                                      .chunk(kChunkNow, confirmed1200())
                                      .setState(1200, 8, 0, 0, 1));
  w.add("server-closes", Script(kEcho)
                             .op(kOpen)
                             .chunk(kChunkNow, {'d', 'a', 't', 'a'})
                             .op(kServerCloses)
                             .op(kTransmit, 0)
                             .setState(1200, 8, 0, 0, 1)
                             .op(kClose)
                             .op(kOpen)
                             .op(kTransmit, 1));
  w.add("send-fails", Script(kEcho)
                          .op(kOpen)
                          .op(kFailSend)
                          .op(kTransmit, 0)
                          .op(kTransmit, 1)
                          .op(kRts, 1)
                          .op(kClose));
  w.add("connect-fails", Script(kEcho).op(kFailConnect).op(kOpen).op(kOpen).op(kClose).op(kClose));
  w.add("requests-during-session",
        Script(kEcho)
            .op(kOpen)
            .chunk(kChunkNow, join({negotiation(tn::DO, 24), negotiation(tn::WILL, 1),
                                    negotiation(tn::WILL, 44), negotiation(tn::DO, 0),
                                    negotiation(tn::DONT, 3), negotiation(tn::DO, 3),
                                    negotiation(tn::WONT, 0), negotiation(tn::WILL, 0)}))
            .op(kGetState)
            .op(kTransmit, 0));
  w.add("bad-settings", Script(kEcho)
                            .op(kOpen)
                            .setState(0, 8, 0, 0, 1)
                            .setState(9600, 4, 0, 0, 1)
                            .setState(9600, 9, 0, 0, 1)
                            .setState(9600, 8, 5, 0, 1)
                            .setState(9600, 8, 0, 3, 1)
                            .setState(9600, 8, 0, 0, 2)
                            .op(kGetState));
  w.add("rate-with-ff", Script(kEcho).op(kOpen).setState(0xFFFFFFFF, 5, 4, 1, 0).op(kGetState));
  w.add("server-data-and-junk",
        Script(kEcho)
            .op(kOpen)
            .chunk(kChunkNow, {'x', 0xFF, 0xFF, 0xFF, 0xF1, 0xFF, 0xFA, 0x2C, 0x66, 0xFF, 0xF0,
                               0xFF, 0xFA, 0x2C, 0x65, 0x00})
            .chunk(kChunkNow, {0x00, 0x04, 0xB0, 0xFF, 0xF0, 0xFF, 0xF0})
            .setState(1200, 8, 0, 0, 1)
            .op(kGetState));
  w.add("reopen", Script(kEcho)
                      .op(kOpen)
                      .op(kClose)
                      .op(kOpen)
                      .setState(19200, 8, 2, 2, 0)
                      .op(kClose)
                      .op(kGetState));
  return w.ok() ? 0 : 1;
}
