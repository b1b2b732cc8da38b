// One table of INI cases, run against the POSIX reader natively and against
// the Windows profile functions on the Windows leg, so that a configuration
// file means the same to both builds.
#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/ini.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;

struct TextCase {
  const char* name;
  const char* content;
  const char* section;
  const char* key;
  const char* expected;
};

const TextCase kTextCases[] = {
    {"Plain", "[server]\nlogfilename=srv.log\n", "server", "logfilename", "srv.log"},
    {"NamesIgnoreCase", "[SERVER]\nLogFileName=x.log\n", "server", "logfilename", "x.log"},
    {"LookupIgnoresCase", "[server]\nlogfilename=y\n", "Server", "LOGFILENAME", "y"},
    {"BlanksAroundNamesAndValue", "  [server]  \n   port   =   two words  \n", "server", "port",
     "two words"},
    {"TabsAroundValue", "[server]\nport\t=\tvalue\t\n", "server", "port", "value"},
    {"DoubleQuotesRemoved", "[camera]\nfileprefix=\"AUV 2_\"\n", "camera", "fileprefix", "AUV 2_"},
    {"SingleQuotesRemoved", "[camera]\nfileprefix='AUV_'\n", "camera", "fileprefix", "AUV_"},
    {"UnmatchedQuotesKept", "[camera]\nfileprefix=\"AUV_'\n", "camera", "fileprefix", "\"AUV_'"},
    {"CommentLineSkipped", "[camera]\n;fileprefix=hidden\nfileprefix=shown\n", "camera",
     "fileprefix", "shown"},
    {"SemicolonInsideValueKept", "[camera]\nfileprefix=a;b\n", "camera", "fileprefix", "a;b"},
    {"MissingKeyGivesDefault", "[camera]\nother=1\n", "camera", "fileprefix", "DEFAULT"},
    {"MissingSectionGivesDefault", "[server]\nfileprefix=x\n", "camera", "fileprefix", "DEFAULT"},
    {"KeyInOtherSectionNotFound", "[trigger]\nserialport=COM3\n[laserpower]\n", "laserpower",
     "serialport", "DEFAULT"},
    {"FirstKeyWins", "[camera]\nfileprefix=first\nfileprefix=second\n", "camera", "fileprefix",
     "first"},
    {"EmptyValueIsEmptyNotDefault", "[camera]\nfileprefix=\n", "camera", "fileprefix", ""},
    {"CrLfLineEnds", "[trigger]\r\nserialport=COM7\r\nbaudrate=9600\r\n", "trigger", "serialport",
     "COM7"},
    {"EqualsInsideValue", "[server]\nlogfilename=a=b\n", "server", "logfilename", "a=b"},
    {"KeysBeforeFirstSectionIgnored", "fileprefix=early\n[camera]\n", "camera", "fileprefix",
     "DEFAULT"},
    {"NoFinalLineEnd", "[trigger]\nserialport=/dev/ttyUSB0", "trigger", "serialport",
     "/dev/ttyUSB0"},
};

class IniTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(IniTextTest, ReadsLikeTheProfileFunctions) {
  const TextCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.write("case.ini", c.content);
  char out[256];
  const unsigned length =
      platform::iniGetString(c.section, c.key, "DEFAULT", out, sizeof out, path.c_str());
  EXPECT_STREQ(c.expected, out);
  EXPECT_EQ(std::string(c.expected).size(), length);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniTextTest, testing::ValuesIn(kTextCases),
                         [](const testing::TestParamInfo<TextCase>& p) {
                           return std::string(p.param.name);
                         });

struct IntCase {
  const char* name;
  const char* value;  // nullptr: key absent
  int expected;
};

const IntCase kIntCases[] = {
    {"Decimal", "2021", 2021},
    {"LeadingBlanks", "   42", 42},
    {"TrailingTextIgnored", "42abc", 42},
    {"Negative", "-5", -5},
    {"PlusSign", "+7", 7},
    {"Hexadecimal", "0x1F", 31},
    {"UpperCaseXIsNotHexadecimal", "0X7f", 0},
    {"EmptyGivesDefault", "", 99},
    {"NotANumberIsZero", "abc", 0},
    {"WrapsAt32Bits", "4294967297", 1},
    {"Quoted", "\"12\"", 12},
    {"MissingGivesDefault", nullptr, 99},
};

class IniIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(IniIntTest, ReadsLikeGetPrivateProfileInt) {
  const IntCase& c = GetParam();
  TempDir dir;
  std::string content = "[trigger]\nother=1\n";
  if (c.value != nullptr)
    content += std::string("baudrate=") + c.value + "\n";
  const std::string path = dir.write("case.ini", content);
  EXPECT_EQ(c.expected, platform::iniGetInt("trigger", "baudrate", 99, path.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Cases, IniIntTest, testing::ValuesIn(kIntCases),
                         [](const testing::TestParamInfo<IntCase>& p) {
                           return std::string(p.param.name);
                         });

TEST(IniSectionNamesTest, MissingFileFailsWithFileNotFound) {
  TempDir dir;
  char names[256];
  const std::string path = dir.file("absent.ini");
  EXPECT_EQ(0u, platform::iniSectionNames(path.c_str(), names, 255));
  EXPECT_EQ(2ul, platform::lastSystemError());
}

TEST(IniSectionNamesTest, FilesWithoutSectionsGiveZero) {
  TempDir dir;
  char names[256];
  for (const char* content : {"", "port=2020\n", ";only a comment\n"}) {
    const std::string path = dir.write("nosection.ini", content);
    EXPECT_EQ(0u, platform::iniSectionNames(path.c_str(), names, 255)) << content;
  }
}

TEST(IniSectionNamesTest, ListsSectionsInOrder) {
  TempDir dir;
  const std::string path = dir.write("two.ini", "[server]\nport=1\n[camera]\n");
  char names[256];
  const unsigned length = platform::iniSectionNames(path.c_str(), names, 255);
  EXPECT_EQ(std::string("server\0camera\0", 14), std::string(names, length));
}

TEST(IniTextCutTest, LongValueIsCutToTheBuffer) {
  TempDir dir;
  const std::string value(300, 'p');
  const std::string path = dir.write("long.ini", "[camera]\nfileprefix=" + value + "\n");
  char out[255];
  const unsigned length =
      platform::iniGetString("camera", "fileprefix", "x", out, sizeof out, path.c_str());
  EXPECT_EQ(254u, length);
  EXPECT_EQ(std::string(254, 'p'), std::string(out));
}

}  // namespace
