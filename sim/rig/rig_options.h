// The rig's settings and their command-line form.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace rig {

// The jitter's seed when none is given: any fixed value makes runs repeat.
constexpr std::uint64_t kDefaultSeed = 20240501;

// Everything the rig can be told. The defaults suit tests: a small picture,
// a short lag, free loopback ports.
struct RigOptions {
  std::string cardDir = "card";         // where shots appear; created when missing
  std::string logPath = "rig-log.csv";  // the CSV log of triggers, shots and RTS changes
  std::string triggerLink;              // symlink made to the trigger terminal; empty: none
  bool triggerOverTcp = false;          // serve the trigger line over RFC 2217 instead
  int triggerPort = 0;                  // its loopback port; 0 picks a free one
  int laserPort = 0;                    // the laser line's loopback port; 0 picks a free one
  std::string portsFile;                // where the line names are written once ready; empty: none
  std::string controlPath;              // FIFO of control commands; empty: none
  int lagMs = 100;                      // shutter lag: release to shot on the card
  std::int64_t clockOffsetMs = 0;       // camera clock minus host UTC
  int width = 640;                      // rendered picture size in pixels
  int height = 480;
  int quality = 90;       // JPEG quality, 1-100
  int noise = 0;          // texture amplitude 0-255; larger pictures of real size need some
  std::string replayDir;  // when set, shots are the files of this folder in name order
  std::string make = "SKERROW";
  std::string model = "SIMCAM D1";
  std::string namePrefix = "DSC_";  // card names are the prefix, a 4-digit frame number, .JPG
  // Faults on request, for tests of the pairing of images with triggers.
  // Trigger ordinals count zero bytes on the trigger line, from 1.
  std::uint64_t missEvery = 0;        // miss every N-th trigger; 0: none
  std::set<std::uint64_t> missList;   // and these triggers
  std::uint64_t spuriousEvery = 0;    // a shot of its own after every N-th trigger; 0: none
  int lagJitterMs = 0;                // each lag and exposure moves by up to this, 0 to lagMs
  std::uint64_t seed = kDefaultSeed;  // of the jitter, so that runs repeat
  bool subSeconds = true;             // false: a clock of whole seconds, no SubSecTime tags
  bool realtime = false;              // take trigger bytes at real-time priority where permitted
};

// Limits of the rendered size: a 100-megapixel frame is beyond every survey
// camera in use, and keeps the raw buffer well under a gigabyte.
constexpr int kMinSide = 16;
constexpr int kMaxSide = 16384;
constexpr std::int64_t kMaxPixels = 100000000;

enum class ParseResult { kRun, kHelp, kError };

// Reads argv[1..argc). On kError *error holds one line naming the option and
// what is wrong with it; *options then holds the values read so far.
ParseResult parseRigOptions(int argc, const char* const* argv, RigOptions* options,
                            std::string* error);

// The --help text, one paragraph per option.
std::string rigUsage();

}  // namespace rig
