// The rig's command line: values in range are taken, anything else is a
// clear error naming the option.
#include "rig/rig_options.h"

#include <gtest/gtest.h>

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
       {"--card", "--log", "--trigger-link", "--trigger-tcp", "--laser-port", "--ports-file",
        "--lag-ms", "--clock-offset-ms", "--width", "--height", "--quality", "--noise", "--replay",
        "--make", "--model", "--name-prefix"}) {
    EXPECT_NE(usage.find(name), std::string::npos) << name;
  }
}

}  // namespace
