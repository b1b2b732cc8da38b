// The rig's command line: values in range are taken, anything else is a
// clear error naming the option.
#include "rig/rig_options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

rig::ParseResult parse(std::vector<const char*> args, rig::RigOptions* options,
                       std::string* error) {
  args.insert(args.begin(), "skerrow-rig");
  return rig::parseRigOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(RigOptions, ValuesAreTaken) {
  rig::RigOptions options;
  std::string error;
  ASSERT_EQ(parse({"--card", "c", "--lag-ms", "250", "--clock-offset-ms", "-1500", "--width",
                   "6016", "--height", "4016", "--trigger-tcp", "0", "--replay", "r"},
                  &options, &error),
            rig::ParseResult::kRun)
      << error;
  EXPECT_EQ(options.cardDir, "c");
  EXPECT_EQ(options.lagMs, 250);
  EXPECT_EQ(options.clockOffsetMs, -1500);
  EXPECT_EQ(options.width, 6016);
  EXPECT_TRUE(options.triggerOverTcp);
  EXPECT_EQ(options.replayDir, "r");
}

TEST(RigOptions, FaultOptionsAreTaken) {
  struct Case {
    std::vector<const char*> args;
    std::function<bool(const rig::RigOptions&)> holds;
  };
  const std::vector<Case> cases = {
      {{"--miss-every", "2"}, [](const auto& o) { return o.missEvery == 2; }},
      {{"--miss", "9,1,2", "--miss", "4"},
       [](const auto& o) {
         return o.missList == std::set<std::uint64_t>{1, 2, 4, 9};
       }},
      {{"--spurious-every", "5"}, [](const auto& o) { return o.spuriousEvery == 5; }},
      {{"--lag-jitter-ms", "100"}, [](const auto& o) { return o.lagJitterMs == 100; }},
      {{"--lag-jitter-ms", "40", "--lag-ms", "40"},
       [](const auto& o) { return o.lagJitterMs == 40 && o.lagMs == 40; }},
      {{"--seed", "18446744073709551615"},
       [](const auto& o) { return o.seed == 18446744073709551615ull; }},
      {{"--seed", "0"}, [](const auto& o) { return o.seed == 0; }},
      // A flag takes no value: the next option is read as usual.
      {{"--no-subsec", "--lag-ms", "5"},
       [](const auto& o) { return !o.subSeconds && o.lagMs == 5; }},
      {{},
       [](const auto& o) {
         return o.missEvery == 0 && o.missList.empty() && o.spuriousEvery == 0 &&
                o.lagJitterMs == 0 && o.seed == rig::kDefaultSeed && o.subSeconds;
       }},
  };
  for (const Case& c : cases) {
    rig::RigOptions options;
    std::string error;
    const std::string first = c.args.empty() ? "defaults" : c.args[0];
    ASSERT_EQ(parse(c.args, &options, &error), rig::ParseResult::kRun) << first << ": " << error;
    EXPECT_TRUE(c.holds(options)) << first;
  }
}

TEST(RigOptions, BadValuesAreRefusedByName) {
  const std::vector<std::vector<const char*>> cases = {
      {"--lag-ms", "-1"},
      {"--lag-ms", "12x"},
      {"--width", "8"},
      {"--quality", "101"},
      {"--laser-port", "65536"},
      {"--name-prefix", "a/b"},
      {"--name-prefix", ".x"},
      {"--card", ""},
      {"--width", "16384", "--height", "16384"},
      {"--lag-ms"},
      {"--no-such-option", "1"},
      {"stray"},
      {"--miss-every", "1"},
      {"--miss-every", "0"},
      {"--miss-every", "-2"},
      {"--miss", ""},
      {"--miss", "0"},
      {"--miss", "1,,2"},
      {"--miss", "1,"},
      {"--miss", ",1"},
      {"--miss", "1;2"},
      {"--miss", "-1"},
      {"--spurious-every", "1"},
      {"--spurious-every", "x"},
      {"--lag-jitter-ms", "-1"},
      {"--lag-jitter-ms", "101"},  // more than the default lag of 100
      {"--lag-jitter-ms", "50", "--lag-ms", "40"},
      {"--seed", "18446744073709551616"},
      {"--seed", "-1"},
      {"--no-subsec", "stray"},
  };
  for (const auto& args : cases) {
    rig::RigOptions options;
    std::string error;
    EXPECT_EQ(parse(args, &options, &error), rig::ParseResult::kError) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(RigOptions, HelpDocumentsEveryOption) {
  rig::RigOptions options;
  std::string error;
  EXPECT_EQ(parse({"--help"}, &options, &error), rig::ParseResult::kHelp);
  const std::string usage = rig::rigUsage();
  for (const char* name :
       {"--card",        "--log",        "--trigger-link",    "--trigger-tcp",    "--laser-port",
        "--ports-file",  "--lag-ms",     "--clock-offset-ms", "--width",          "--height",
        "--quality",     "--noise",      "--replay",          "--make",           "--model",
        "--name-prefix", "--miss-every", "--miss ",           "--spurious-every", "--lag-jitter-ms",
        "--seed",        "--no-subsec"}) {
    EXPECT_NE(usage.find(name), std::string::npos) << name;
  }
}

}  // namespace
