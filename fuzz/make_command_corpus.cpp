// Writes the seed corpus of fuzz_command into the directory named on the
// command line: every request type with get and set, good and bad
// arguments, prefix texts of every awkward length, cut headers, wrong
// signatures and streams of several requests. Each seed is the fuzz
// target's state byte and then the bytes as received.
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "seed_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// State bits the fuzz target reads from the first byte.
constexpr std::uint8_t kAcquiring = 0x01;
constexpr std::uint8_t kConnected = 0x02;
constexpr std::uint8_t kLasersOn = 0x04;
constexpr std::uint8_t kPreTrigger = 0x08;
constexpr std::uint8_t kLongPrefix = 0x10;
constexpr std::uint8_t kLongSettings = 0x20;
constexpr std::uint8_t kRepliesFull = 0x40;
constexpr std::uint8_t kCountsAtMax = 0x80;

void put32(Bytes* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A header with the given length field, then the payload.
Bytes message(std::uint16_t type, std::uint8_t action, const Bytes& payload,
              std::uint32_t lengthField) {
  Bytes out = {0x01,
               0x18,
               0x00,
               action,
               static_cast<std::uint8_t>(type),
               static_cast<std::uint8_t>(type >> 8),
               0x00,
               0x00,
               0x00};
  put32(&out, lengthField);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes message(std::uint16_t type, std::uint8_t action, const Bytes& payload = {}) {
  return message(type, action, payload, static_cast<std::uint32_t>(payload.size()));
}

Bytes int32(std::int32_t value) {
  Bytes out;
  put32(&out, static_cast<std::uint32_t>(value));
  return out;
}

Bytes text(const std::string& value, bool terminated) {
  Bytes out(value.begin(), value.end());
  if (terminated) out.push_back(0);
  return out;
}

class Writer : public SeedWriter {
 public:
  using SeedWriter::SeedWriter;

  void add(const std::string& name, std::uint8_t state, const Bytes& received) {
    Bytes seed = {state};
    seed.insert(seed.end(), received.begin(), received.end());
    writeFile(name + ".bin", seed.data(), seed.size());
  }
};

void addEveryType(Writer* w) {
  // Every known code and a few unknown ones, as get, as set without an
  // argument, and with an action that is neither.
  const std::uint16_t types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 255, 0xFFFF};
  for (const std::uint16_t type : types) {
    const std::string t = "type" + std::to_string(type);
    w->add(t + "-get", 0, message(type, 0));
    w->add(t + "-set-bare", 0, message(type, 1));
    w->add(t + "-action3", 0, message(type, 3));
  }
}

void addArguments(Writer* w) {
  struct Set {
    const char* name;
    std::uint16_t type;
    std::int32_t argument;
    std::uint8_t state;
  };
  const Set sets[] = {
      {"connect-1", 2, 1, 0},
      {"connect-1-connected", 2, 1, kConnected},
      {"connect-0-connected", 2, 0, kConnected},
      {"connect-0", 2, 0, 0},
      {"connect-2", 2, 2, kConnected},
      {"pretrigger-1", 3, 1, 0},
      {"pretrigger-0", 3, 0, kPreTrigger},
      {"pretrigger-minus1", 3, -1, 0},
      {"acquisition-1", 4, 1, 0},
      {"acquisition-0", 4, 0, kAcquiring},
      {"acquisition-2", 4, 2, kAcquiring},
      {"laser-1", 5, 1, 0},
      {"laser-0", 5, 0, kLasersOn},
      {"laser-7", 5, 7, 0},
      {"interval-500", 6, 500, 0},
      {"interval-0", 6, 0, 0},
      {"interval-negative", 6, -1000, 0},
      {"interval-max", 6, 0x7FFFFFFF, 0},
      {"imagecount-set", 9, 1, kCountsAtMax},
      {"triggercount-set", 10, 1, kCountsAtMax},
  };
  for (const Set& s : sets) w->add(s.name, s.state, message(s.type, 1, int32(s.argument)));
  w->add("interval-3-bytes", 0, message(6, 1, {0xF4, 0x01, 0x00}));
  w->add("interval-length-0-with-argument", 0, message(6, 1, int32(500), 0));
  w->add("acquisition-replies-full", kRepliesFull, message(4, 1, int32(1)));
  w->add("inifile-long", kLongSettings, message(11, 0));
  w->add("triggerport-long", kLongSettings, message(13, 0));
  w->add("triggercount-max", kCountsAtMax, message(10, 0));
}

void addPrefixes(Writer* w) {
  w->add("prefix-img", 0, message(7, 1, text("IMG_", true)));
  w->add("prefix-empty", 0, message(7, 1, text("", true)));
  w->add("prefix-127", 0, message(7, 1, text(std::string(127, 'q'), true)));
  w->add("prefix-128", 0, message(7, 1, text(std::string(128, 'p'), true)));
  w->add("prefix-unterminated", 0, message(7, 1, text("NOZERO", false)));
  w->add("prefix-get-longest", kLongPrefix, message(7, 0));
  w->add("prefix-zero-after-length", 0, message(7, 1, text("ABC", true), 3));
  w->add("prefix-length-beyond-received", 0, message(7, 1, text("ABC", true), 1000));
  w->add("prefix-1399", 0, message(7, 1, text(std::string(1398, 'x'), true)));
  Bytes late = text(std::string(1399, 'y'), false);
  late.push_back(0);
  w->add("prefix-1400", 0, message(7, 1, late));
}

void addDamaged(Writer* w) {
  const Bytes get = message(6, 0);
  for (const std::size_t cut : {0, 1, 2, 3, 5, 9, 12}) {
    w->add("cut-" + std::to_string(cut), 0, Bytes(get.begin(), get.begin() + cut));
  }
  Bytes swapped = get;
  swapped[0] = 0x18;
  swapped[1] = 0x01;
  w->add("signature-swapped", 0, swapped);
  Bytes off = get;
  off[1] = 0x19;
  w->add("signature-off", 0, off);
  Bytes reserved = message(4, 0);
  reserved[2] = 0xFF;
  reserved[6] = 0xFF;
  reserved[8] = 0xFF;
  w->add("reserved-set", 0, reserved);
  w->add("length-huge", 0, message(4, 1, int32(1), 0xFFFFFFFFu));
  Bytes two = message(5, 1, int32(1));
  const Bytes second = message(4, 1, int32(1));
  two.insert(two.end(), second.begin(), second.end());
  w->add("two-in-one-chunk", 0, two);
  w->add("largest", 0, message(1, 0, Bytes(1400, 0xAB)));
  w->add("over-largest", 0, message(1, 0, Bytes(1464, 0xCD)));
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Several requests in one stream, for the framer's half of the target.
void addStreams(Writer* w) {
  const Bytes get = message(9, 0);
  w->add("stream-three-requests", 0, joined({get, message(6, 1, int32(500)), get}));
  w->add("stream-length-0-argument-then-request", 0, joined({message(6, 1, int32(500), 0), get}));
  w->add("stream-length-0-signature-argument", 0, message(6, 1, int32(0x1801), 0));
  w->add("stream-garbage-after-request", 0, joined({get, {0xFF, 0xFE, 0x00}}));
  w->add("stream-lone-signature-byte", 0, joined({get, {0x01}}));
  w->add("stream-huge-length-then-request", 0,
         joined({message(7, 1, text("A", true), 0x7FFFFFFFu), get}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  Writer writer(argv[1]);
  addEveryType(&writer);
  addArguments(&writer);
  addPrefixes(&writer);
  addDamaged(&writer);
  addStreams(&writer);
  return writer.ok() ? 0 : 1;
}
