#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/config.h"
#include "support/core_fixture.h"
#include "core/log.h"
#include "core/server_state.h"
#include "platform/paths.h"

namespace {

class ConfigTest : public CoreTest {
 protected:
  bool import(const std::string& content) {
    return importIniSettings(dir_.write("Skerrow.ini", content).c_str());
  }
};

const std::vector<std::string> kDefaultPrintout = {
    "SKERROW SETTINGS",          "-----------------------------", "| serverPort:        2020",
    "| serverMaxUsers:    2",    "| logfilename:\t\t  stdout",    "| cameraPreTrigger:  0",
    "| cameraFilePrefix:  AUV_", "| cameraInterval:    1000",     "| triggerPortName:   COM1",
    "| triggerBaudRate:   1200", "| triggerBits:       8",        "| triggerParity:     N",
    "| triggerStop:       1",    "-----------------------------",
};

TEST_F(ConfigTest, LoneServerHeaderGivesEveryDefault) {
  ASSERT_TRUE(import("[server]\n"));
  EXPECT_EQ(2020, serverSettings.serverPort);
  EXPECT_EQ(2, serverSettings.serverMaxUsers);
  EXPECT_STREQ("stdout", serverSettings.logfilename);
  EXPECT_FALSE(serverStatus.cameraPreTrigger);
  EXPECT_STREQ("AUV_", serverStatus.cameraFilePrefix);
  EXPECT_EQ(1000, serverStatus.cameraInterval);
  EXPECT_STREQ("COM1", serverSettings.triggerPortName);
  EXPECT_EQ(1200, serverSettings.triggerBaudRate);
  EXPECT_EQ(8, serverSettings.triggerBits);
  EXPECT_STREQ("N", serverSettings.triggerParity);
  EXPECT_EQ(1, serverSettings.triggerStop);
  EXPECT_STREQ("COM1", serverSettings.laserPortName);
  EXPECT_EQ(1200, serverSettings.laserBaudRate);
  EXPECT_EQ(8, serverSettings.laserBits);
  EXPECT_STREQ("N", serverSettings.laserParity);
  EXPECT_EQ(1, serverSettings.laserStop);
  EXPECT_TRUE(logEntries().empty()) << logText();
  printSettings();
  EXPECT_EQ(kDefaultPrintout, logEntries());
}

TEST_F(ConfigTest, UnreadableFilesFailAndWriteNothing) {
  struct Case {
    const char* name;
    const char* content;  // nullptr: no file at all
  } cases[] = {{"missing", nullptr}, {"empty", ""}, {"no section", "port=2021\n"}};
  for (const Case& c : cases) {
    serverSettings = ServerSettings{};
    const std::string path =
        c.content ? dir_.write("case.ini", c.content) : dir_.file("absent.ini");
    EXPECT_FALSE(importIniSettings(path.c_str())) << c.name;
    EXPECT_EQ(0, serverSettings.serverPort) << c.name;
    EXPECT_STREQ("", serverSettings.logfilename) << c.name;
  }
  const std::vector<std::string> entries = logEntries();
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ("importIniSettings(): ERROR reading file (0x2).", entries[0]);
  for (const std::string& entry : entries) {
    EXPECT_EQ(0u, entry.find("importIniSettings(): ERROR reading file (0x")) << entry;
  }
}

TEST_F(ConfigTest, EveryKeyLandsInItsField) {
  ASSERT_TRUE(
      import("[server]\nport=3030\nmaxclients=5\nlogfilename=srv.log\n"
             "[camera]\npretrigger=1\nfileprefix=/data/dive7/D7_\ninterval=250\n"
             "[trigger]\nserialport=/dev/ttyUSB0\nbaudrate=9600\nbits=7\nparity=E\nstop=2\n"
             "[laserpower]\nserialport=rfc2217://127.0.0.1:7001\nbaudrate=4800\nbits=6\n"
             "parity=O\nstop=1\n"));
  EXPECT_EQ(3030, serverSettings.serverPort);
  EXPECT_EQ(5, serverSettings.serverMaxUsers);
  EXPECT_STREQ("srv.log", serverSettings.logfilename);
  EXPECT_TRUE(serverStatus.cameraPreTrigger);
  EXPECT_STREQ("/data/dive7/D7_", serverStatus.cameraFilePrefix);
  EXPECT_EQ(250, serverStatus.cameraInterval);
  EXPECT_STREQ("/dev/ttyUSB0", serverSettings.triggerPortName);
  EXPECT_EQ(9600, serverSettings.triggerBaudRate);
  EXPECT_EQ(7, serverSettings.triggerBits);
  EXPECT_STREQ("E", serverSettings.triggerParity);
  EXPECT_EQ(2, serverSettings.triggerStop);
  EXPECT_STREQ("rfc2217://127.0.0.1:7001", serverSettings.laserPortName);
  EXPECT_EQ(4800, serverSettings.laserBaudRate);
  EXPECT_EQ(6, serverSettings.laserBits);
  EXPECT_STREQ("O", serverSettings.laserParity);
  EXPECT_EQ(1, serverSettings.laserStop);
}

TEST_F(ConfigTest, ValuesAreTakenAsTheyComeWithoutValidation) {
  struct Case {
    const char* lines;
    bool preTrigger;
    int bits, stop, interval;
    const char* parity;
  } cases[] = {
      {"pretrigger=1\n", true, 8, 1, 1000, "N"},
      {"pretrigger=2\n", false, 8, 1, 1000, "N"},
      {"pretrigger=-1\n", false, 8, 1, 1000, "N"},
      {"bits=65544\nstop=65537\n", false, 8, 1, 1000, "N"},
      {"bits=-1\n", false, 65535, 1, 1000, "N"},
      {"interval=-20\n", false, 8, 1, -20, "N"},
      {"interval=0\n", false, 8, 1, 0, "N"},
      {"parity=Even\n", false, 8, 1, 1000, "E"},
  };
  for (const Case& c : cases) {
    serverStatus = ServerStatus{};
    // Every key is looked up in its own section; the case's lines are
    // repeated in each, which is harmless.
    const std::string body = c.lines;
    ASSERT_TRUE(import("[camera]\n" + body + "[trigger]\n" + body)) << c.lines;
    EXPECT_EQ(c.preTrigger, serverStatus.cameraPreTrigger) << c.lines;
    EXPECT_EQ(c.bits, serverSettings.triggerBits) << c.lines;
    EXPECT_EQ(c.stop, serverSettings.triggerStop) << c.lines;
    EXPECT_EQ(c.interval, serverStatus.cameraInterval) << c.lines;
    EXPECT_STREQ(c.parity, serverSettings.triggerParity) << c.lines;
  }
}

TEST_F(ConfigTest, BindAddressIsPrintedOnlyWhenNarrowed) {
  ASSERT_TRUE(import("[server]\nbindaddress=0.0.0.0\n"));
  printSettings();
  EXPECT_EQ(kDefaultPrintout, logEntries());
  ASSERT_TRUE(import("[server]\nbindaddress = 192.168.7.2\n"));
  EXPECT_STREQ("192.168.7.2", serverSettings.bindAddress);
  printSettings();
  const std::vector<std::string> entries = logEntries();
  ASSERT_EQ(2 * kDefaultPrintout.size() + 1, entries.size());
  EXPECT_EQ("| serverMaxUsers:    2", entries[kDefaultPrintout.size() + 3]);
  EXPECT_EQ("| bindAddress:       192.168.7.2", entries[kDefaultPrintout.size() + 4]);
  EXPECT_EQ("| logfilename:\t\t  stdout", entries[kDefaultPrintout.size() + 5]);
}

// The pairing mode by name, in any case; an unknown one is refused with a
// line and the default kept. Only a mode other than the default is printed.
TEST_F(ConfigTest, PairingModeIsReadByNameAndPrintedWhenNotRepair) {
  struct Case {
    const char* value;
    PairingMode mode;
    bool refused;
    const char* printed;
  } cases[] = {
      {nullptr, PairingMode::REPAIR, false, nullptr},
      {"Verify", PairingMode::VERIFY, false, "| cameraPairing:     verify"},
      {"fifo", PairingMode::FIFO, false, "| cameraPairing:     fifo"},
      {"repair", PairingMode::REPAIR, false, nullptr},
      {"fifo2", PairingMode::REPAIR, true, nullptr},
  };
  const auto newEntries = [this](std::size_t from) {
    const std::vector<std::string> all = logEntries();
    return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
  };
  for (const Case& c : cases) {
    std::size_t from = logEntries().size();
    ASSERT_TRUE(import(c.value == nullptr ? "[camera]\n"
                                          : std::string("[camera]\npairing=") + c.value + "\n"));
    EXPECT_EQ(c.mode, serverSettings.cameraPairing) << (c.value == nullptr ? "(none)" : c.value);
    const std::vector<std::string> refusal{
        "importIniSettings(): ERROR [camera] pairing must be repair, verify or fifo, using the "
        "default (repair)."};
    EXPECT_EQ(c.refused ? refusal : std::vector<std::string>{}, newEntries(from))
        << (c.value == nullptr ? "(none)" : c.value);
    from = logEntries().size();
    printSettings();
    std::vector<std::string> expected = kDefaultPrintout;
    if (c.printed != nullptr) expected.insert(expected.begin() + 8, c.printed);
    EXPECT_EQ(expected, newEntries(from)) << (c.value == nullptr ? "(none)" : c.value);
  }
}

struct LimitCase {
  const char* section;
  const char* key;
  size_t limit;
  const char* fallback;
  char* (*field)();
};

TEST_F(ConfigTest, TextAtItsLimitIsKeptAndLongerIsRefused) {
  const LimitCase cases[] = {
      {"server", "logfilename", 127, "stdout", [] { return serverSettings.logfilename; }},
      {"server", "bindaddress", 15, "0.0.0.0", [] { return serverSettings.bindAddress; }},
      {"camera", "fileprefix", 127, "AUV_", [] { return serverStatus.cameraFilePrefix; }},
      {"trigger", "serialport", 254, "COM1", [] { return serverSettings.triggerPortName; }},
      {"laserpower", "serialport", 254, "COM1", [] { return serverSettings.laserPortName; }},
  };
  for (const LimitCase& c : cases) {
    const std::string fits(c.limit, 'f');
    ASSERT_TRUE(import(std::string("[") + c.section + "]\n" + c.key + "=" + fits + "\n"));
    EXPECT_EQ(fits, c.field()) << c.key;
    for (size_t length : {c.limit + 1, c.limit + 700}) {
      const std::string tooLong(length, 'x');
      ASSERT_TRUE(import(std::string("[") + c.section + "]\n" + c.key + "=" + tooLong + "\n"));
      EXPECT_STREQ(c.fallback, c.field()) << c.key << " of " << length;
      const std::string expected = std::string("importIniSettings(): ERROR [") + c.section + "] " +
                                   c.key + " is longer than " + std::to_string(c.limit) +
                                   " characters, using the default (" + c.fallback + ").";
      const std::vector<std::string> entries = logEntries();
      ASSERT_FALSE(entries.empty());
      EXPECT_EQ(expected, entries.back());
    }
  }
}

// With an image root, a fileprefix whose folder lies outside it (the plain
// default in the working folder too) gives way to the default name inside
// the root, which is printed after the prefix. A root not there yet refuses
// every prefix; one too long to keep stops the start, since without it
// every folder would be open.
TEST_F(ConfigTest, ImageRootConfinesTheFilePrefix) {
  const std::string root = dir_.file("root"), missing = dir_.file("missing");
  std::filesystem::create_directories(root);
  std::filesystem::create_directories(dir_.file("other"));
  std::error_code noLinks;  // Windows grants links only with a privilege
  std::filesystem::create_directory_symlink(dir_.file("other"), root + "/out", noLinks);
  const std::string outside = "its folder lies outside the image root";
  const std::string absent = "the image root is not an existing folder";
  const struct {
    std::string root, prefix;  // prefix empty: no fileprefix key
    bool taken;
    std::string reason, firstLine;
  } cases[] = {
      {root, "", false, outside, ""},
      {root, root + "/D7_", true, "", ""},
      {root, root + "/new/D7_", true, "", ""},
      {root, root + "/../D7_", false, outside, ""},
      {root, dir_.file("other/D7_"), false, outside, ""},
      {root, noLinks ? "" : root + "/out/D7_", false, outside, ""},
      {missing, missing + "/D7_", false, absent,
       "importIniSettings(): ERROR [camera] imageroot " + missing +
           " is not an existing folder, every prefix is refused until it is."},
  };
  for (const auto& c : cases) {
    const std::size_t from = logEntries().size();
    ASSERT_TRUE(import("[camera]\nimageroot=" + c.root + "\n" +
                       (c.prefix.empty() ? "" : "fileprefix=" + c.prefix + "\n")));
    const std::string fallback = c.root + platform::pathSeparator() + "AUV_";
    EXPECT_EQ(c.taken ? c.prefix : fallback, serverStatus.cameraFilePrefix) << c.prefix;
    std::vector<std::string> expected;
    if (!c.firstLine.empty()) expected.push_back(c.firstLine);
    if (!c.taken) {
      expected.push_back("importIniSettings(): ERROR [camera] fileprefix " +
                         (c.prefix.empty() ? "AUV_" : c.prefix) + " refused, " + c.reason +
                         ", using the default in the image root (" + fallback + ").");
    }
    const std::vector<std::string> entries = logEntries();
    EXPECT_EQ(expected,
              std::vector<std::string>(entries.begin() + static_cast<long>(from), entries.end()))
        << c.prefix;
  }
  const std::size_t from = logEntries().size();
  printSettings();
  std::vector<std::string> printout = kDefaultPrintout;
  printout[6] = "| cameraFilePrefix:  " + missing + platform::pathSeparator() + "AUV_";
  printout.insert(printout.begin() + 7, "| cameraImageRoot:   " + missing);
  const std::vector<std::string> entries = logEntries();
  EXPECT_EQ(printout,
            std::vector<std::string>(entries.begin() + static_cast<long>(from), entries.end()));

  ASSERT_TRUE(import("[camera]\nimageroot=" + std::string(122, 'r') + "\n"));
  EXPECT_FALSE(import("[camera]\nimageroot=" + std::string(123, 'r') + "\n"));
  EXPECT_EQ("importIniSettings(): ERROR [camera] imageroot is longer than 122 characters.",
            logEntries().back());
}

}  // namespace
