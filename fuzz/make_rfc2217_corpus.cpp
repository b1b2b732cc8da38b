// Writes the seed corpus of fuzz_rfc2217 into the directory named on the
// command line: what remote port servers send (option answers, requests for
// other options, setting confirmations, data with doubled IAC) and what
// broken ones send (stray SE, unterminated or overlong subnegotiations),
// each with a few cut points.
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

class Writer : public SeedWriter {
 public:
  using SeedWriter::SeedWriter;

  // The fuzz target's cut header (count, then piece lengths), then the
  // stream.
  void add(const std::string& name, const Bytes& stream, const Bytes& cuts = {}) {
    Bytes seed = {static_cast<std::uint8_t>(cuts.size())};
    seed.insert(seed.end(), cuts.begin(), cuts.end());
    seed.insert(seed.end(), stream.begin(), stream.end());
    writeFile(name + ".bin", seed.data(), seed.size());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  Writer w(argv[1]);
  const Bytes accept =
      join({negotiation(tn::DO, 44), negotiation(tn::DO, 0), negotiation(tn::WILL, 0),
            negotiation(tn::DO, 3), negotiation(tn::WILL, 3)});
  w.add("accept", accept);
  w.add("accept-cut", accept, {1, 2, 4});
  w.add("refuse", negotiation(tn::DONT, 44));
  w.add("other-options",
        join({negotiation(tn::DO, 24), negotiation(tn::WILL, 1), negotiation(tn::WONT, 1),
              negotiation(tn::DONT, 31), negotiation(tn::WILL, 44)}));
  const Bytes confirmations =
      join({confirmation(1, {0x00, 0x00, 0x25, 0x80}), confirmation(2, {8}), confirmation(3, {1}),
            confirmation(4, {1}), confirmation(5, {11})});
  w.add("confirmations", confirmations);
  w.add("confirmations-cut", confirmations, {3, 5, 0, 9, 1, 2, 7});
  w.add("confirmation-with-ff", confirmation(1, {0x00, 0x00, 0x00, 0xFF}), {6, 1});
  w.add("notifications", join({confirmation(6, {0x60}), confirmation(7, {0x31})}));
  w.add("data-doubled-iac", {'a', 'b', 0xFF, 0xFF, 'c', 0x00, 0x0D, 0x00});
  w.add("split-iac", {'x', 0xFF, 0xFF, 'y', 0xFF, 0xFD, 0x2C}, {2, 4});
  w.add("stray-se", {'a', 0xFF, 0xF0, 'b', 0xF0});
  w.add("nop-ga", {0xFF, 0xF1, 'a', 0xFF, 0xF9, 0xFF, 0xF1});
  w.add("unterminated-sb",
        {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0xFF, 0xFB, 0x03, 'd', 0xFF, 0xFA, 0x2C});
  w.add("sb-without-option", {0xFF, 0xFA, 0xFF, 0xF0, 0xFF, 0xFA, 0xFF, 0xFD, 0x2C});
  Bytes overlong = {0xFF, 0xFA, 0x2C, 0x65};
  overlong.insert(overlong.end(), 70, 0x11);
  overlong.insert(overlong.end(), {0xFF, 0xFF, 0xFF, 0xF0, 'z'});
  w.add("overlong-sb", overlong, {40, 30});
  Bytes limit = {0xFF, 0xFA, 0x2C, 0x66};
  limit.insert(limit.end(), 63, 0x22);
  limit.insert(limit.end(), {0xFF, 0xF0});
  w.add("sb-at-limit", limit);
  w.add("trailing-iac", {'q', 0xFF}, {1});
  w.add("empty", {});
  return w.ok() ? 0 : 1;
}
