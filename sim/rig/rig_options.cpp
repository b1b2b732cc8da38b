#include "rig/rig_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace rig {
namespace {

constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();

template <typename T>
bool parseNumber(const char* text, T low, T high, T* out) {
  const char* end = text + std::strlen(text);
  T value{};
  const auto result = std::from_chars(text, end, value);
  if (result.ec != std::errc() || result.ptr != end || value < low || value > high) return false;
  *out = value;
  return true;
}

// "1,2,9": trigger ordinals from 1, added to *out. An empty item is refused,
// so that a stray comma is not silently taken.
bool parseOrdinalList(const char* text, std::set<std::uint64_t>* out) {
  const char* const end = text + std::strlen(text);
  const char* at = text;
  for (;;) {
    const char* comma = std::find(at, end, ',');
    std::uint64_t value = 0;
    const auto result = std::from_chars(at, comma, value);
    if (result.ec != std::errc() || result.ptr != comma || value == 0) return false;
    out->insert(value);
    if (comma == end) return true;
    at = comma + 1;
  }
}

}  // namespace

std::string rigUsage() {
  return "Usage: skerrow-rig [options]\n"
         "Plays the cables and the camera body for Skerrow: a trigger line, a laser line\n"
         "and a camera card folder. Stops on SIGINT or SIGTERM; SIGUSR1 stalls the\n"
         "camera (triggers taken, no shots written), SIGUSR2 lets it go on.\n"
         "\n"
         "  --card DIR            camera card folder, created when missing (default: card)\n"
         "  --log FILE            CSV log of triggers, shots and RTS changes\n"
         "                        (default: rig-log.csv)\n"
         "  --trigger-link PATH   make PATH a symlink to the trigger pseudo-terminal\n"
         "  --trigger-tcp PORT    serve the trigger line over RFC 2217 on 127.0.0.1:PORT\n"
         "                        instead of a pseudo-terminal (0: a free port)\n"
         "  --laser-port PORT     serve the laser line over RFC 2217 on 127.0.0.1:PORT\n"
         "                        (default 0: a free port)\n"
         "  --ports-file FILE     once ready, write trigger=NAME and laser=NAME lines here\n"
         "  --control PATH        make PATH a FIFO and take control commands from it, one\n"
         "                        a line: stall, resume, unplug-trigger S, unplug-laser S,\n"
         "                        undeliverable\n"
         "  --lag-ms N            shutter lag in milliseconds, 0-60000 (default 100)\n"
         "  --clock-offset-ms N   camera clock minus host UTC in milliseconds, may be\n"
         "                        negative (default 0)\n"
         "  --width N, --height N rendered picture size, 16-16384 each, at most 100\n"
         "                        megapixels (default 640 x 480)\n"
         "  --quality N           JPEG quality 1-100 (default 90)\n"
         "  --noise N             texture amplitude 0-255; gives full frames a camera-like\n"
         "                        file size (default 0)\n"
         "  --replay DIR          shots are the files of DIR in name order, again from the\n"
         "                        first after the last, instead of rendered pictures\n"
         "  --make TEXT           Exif Make, at most 31 characters (default SKERROW)\n"
         "  --model TEXT          Exif Model, at most 39 characters (default SIMCAM D1)\n"
         "  --name-prefix TEXT    card names: TEXT, frame number, extension (default DSC_)\n"
         "  --miss-every N        the camera misses every N-th trigger, N >= 2\n"
         "  --miss LIST           the camera misses these triggers, e.g. 1,2,9 (from 1)\n"
         "  --spurious-every N    after every N-th trigger, N >= 2, the camera also shoots\n"
         "                        once on its own, a third of the way to the next trigger\n"
         "  --lag-jitter-ms J     each lag and exposure moves by a random -J to +J ms,\n"
         "                        0 to the lag (default 0)\n"
         "  --seed S              seed of the jitter, so that runs repeat (default 20240501)\n"
         "  --no-subsec           a camera clock of whole seconds: no SubSecTime tags\n"
         "  --realtime            take trigger bytes at real-time priority where permitted\n"
         "  --help                print this text\n";
}

ParseResult parseRigOptions(int argc, const char* const* argv, RigOptions* options,
                            std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") return ParseResult::kHelp;
    if (name == "--no-subsec") {
      options->subSeconds = false;
      continue;
    }
    if (name == "--realtime") {
      options->realtime = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = name.rfind("--", 0) == 0 ? "option " + name + " needs a value"
                                        : "unexpected argument " + name;
      return ParseResult::kError;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (name == "--card") {
      options->cardDir = value;
      ok = *value != '\0';
    } else if (name == "--log") {
      options->logPath = value;
      ok = *value != '\0';
    } else if (name == "--trigger-link") {
      options->triggerLink = value;
    } else if (name == "--trigger-tcp") {
      options->triggerOverTcp = true;
      ok = parseNumber(value, 0, 65535, &options->triggerPort);
    } else if (name == "--laser-port") {
      ok = parseNumber(value, 0, 65535, &options->laserPort);
    } else if (name == "--ports-file") {
      options->portsFile = value;
    } else if (name == "--control") {
      options->controlPath = value;
      ok = *value != '\0';
    } else if (name == "--lag-ms") {
      ok = parseNumber(value, 0, 60000, &options->lagMs);
    } else if (name == "--clock-offset-ms") {
      // A hundred years either way is more drift than any camera shows.
      const std::int64_t limit = 100LL * 366 * 24 * 3600 * 1000;
      ok = parseNumber<std::int64_t>(value, -limit, limit, &options->clockOffsetMs);
    } else if (name == "--width") {
      ok = parseNumber(value, kMinSide, kMaxSide, &options->width);
    } else if (name == "--height") {
      ok = parseNumber(value, kMinSide, kMaxSide, &options->height);
    } else if (name == "--quality") {
      ok = parseNumber(value, 1, 100, &options->quality);
    } else if (name == "--noise") {
      ok = parseNumber(value, 0, 255, &options->noise);
    } else if (name == "--replay") {
      options->replayDir = value;
      ok = *value != '\0';
    } else if (name == "--make") {
      options->make = value;
      ok = options->make.size() <= 31;
    } else if (name == "--model") {
      options->model = value;
      ok = options->model.size() <= 39;
    } else if (name == "--name-prefix") {
      options->namePrefix = value;
      // The prefix becomes part of a file name in the card folder.
      ok = options->namePrefix.size() <= 32 &&
           options->namePrefix.find_first_of("/\\,") == std::string::npos &&
           (options->namePrefix.empty() || options->namePrefix[0] != '.');
    } else if (name == "--miss-every") {
      ok = parseNumber<std::uint64_t>(value, 2, kMaxCount, &options->missEvery);
    } else if (name == "--miss") {
      ok = parseOrdinalList(value, &options->missList);
    } else if (name == "--spurious-every") {
      ok = parseNumber<std::uint64_t>(value, 2, kMaxCount, &options->spuriousEvery);
    } else if (name == "--lag-jitter-ms") {
      ok = parseNumber(value, 0, 60000, &options->lagJitterMs);
    } else if (name == "--seed") {
      ok = parseNumber<std::uint64_t>(value, 0, kMaxCount, &options->seed);
    } else {
      *error = "unknown option " + name;
      return ParseResult::kError;
    }
    if (!ok) {
      *error = "cannot use " + name + " '" + value + "'";
      return ParseResult::kError;
    }
  }
  if (static_cast<std::int64_t>(options->width) * options->height > kMaxPixels) {
    *error = "cannot use a picture of more than 100 megapixels";
    return ParseResult::kError;
  }
  // A shot that reached the card before its trigger would be no camera's.
  if (options->lagJitterMs > options->lagMs) {
    *error = "cannot use --lag-jitter-ms " + std::to_string(options->lagJitterMs) +
             " with --lag-ms " + std::to_string(options->lagMs) + ": at most the lag";
    return ParseResult::kError;
  }
  return ParseResult::kRun;
}

}  // namespace rig
