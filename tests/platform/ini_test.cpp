// One table of INI cases, run against the POSIX reader natively and against
// the Windows profile functions on the Windows leg, so that a configuration
// file means the same to both builds.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/ini.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using namespace std::string_literals;

// The text as Notepad saves "Unicode": a byte-order mark, then UTF-16 code
// units, little-endian unless asked otherwise.
std::string utf16(const std::string& ascii, bool bigEndian = false) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : ascii) {
    out += bigEndian ? '\0' : c;
    out += bigEndian ? c : '\0';
  }
  return out;
}

struct TextCase {
  const char* name;
  std::string content;
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
    {"CrOnlyLineEnds", "[server]\rport=1\r[camera]\rinterval=5\rfileprefix=MAC_\r", "camera",
     "fileprefix", "MAC_"},
    {"LineWithoutEqualsGivesDefault", "[camera]\nfileprefix\n", "camera", "fileprefix", "DEFAULT"},
    {"LineWithoutEqualsHidesLaterKey", "[camera]\nfileprefix\nfileprefix=late\n", "camera",
     "fileprefix", "DEFAULT"},
    {"UnclosedHeaderIgnored", "[camera]\n[trigger\nfileprefix=kept\n", "camera", "fileprefix",
     "kept"},
    {"HeaderEndsAtLastBracket", "[camera]]\nfileprefix=x\n", "camera]", "fileprefix", "x"},
    {"BlanksInsideBrackets", "[ camera ]\nfileprefix=x\n", "camera", "fileprefix", "x"},
    {"Utf16LittleEndian", utf16("[server]\r\nport=1\r\n[camera]\r\nfileprefix=U16_\r\n"), "camera",
     "fileprefix", "U16_"},
    {"Utf16BigEndian", utf16("[camera]\r\nfileprefix=U16_\r\n", true), "camera", "fileprefix",
     "U16_"},
    {"ZeroByteEndsValue", "[camera]\nfileprefix=A\0B\n"s, "camera", "fileprefix", "A"},
    {"ZeroByteInQuotedValue", "[camera]\nfileprefix=\"A\0\"\n"s, "camera", "fileprefix", "\"A"},
    {"CtrlZIsBlank", "[camera]\nfileprefix=Z\x1a\n\x1a"s, "camera", "fileprefix", "Z"},
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
    {"Octal", "0o17", 15},
    {"Binary", "0b101", 5},
    {"ControlCharactersBeforeNumber", "\"\x01 42\"", 42},
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
  if (c.value != nullptr) content += std::string("baudrate=") + c.value + "\n";
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
  const std::string text = "[server]\nport=1\n[]\n[camera]\n[laser\n";
  for (const std::string& content : {text, utf16(text), "[server]\r[]\r[camera]\r"s}) {
    const std::string path = dir.write("two.ini", content);
    char names[256];
    const unsigned length = platform::iniSectionNames(path.c_str(), names, 255);
    EXPECT_EQ(std::string("server\0camera\0", 14), std::string(names, length)) << content;
  }
}

#if !defined(_WIN32)
// A device or a folder named as the configuration fails with its reason
// instead of being read without end.
TEST(IniSectionNamesTest, DeviceAndFolderAreRefused) {
  TempDir dir;
  char names[256];
  EXPECT_EQ(0u, platform::iniSectionNames("/dev/zero", names, 255));
  EXPECT_EQ(static_cast<unsigned long>(EFBIG), platform::lastSystemError());
  EXPECT_EQ(0u, platform::iniSectionNames(dir.path().string().c_str(), names, 255));
  EXPECT_EQ(static_cast<unsigned long>(EISDIR), platform::lastSystemError());
}
#endif

// A name without a folder is the file in the working folder, as on POSIX,
// not one in the Windows folder.
TEST(IniPathTest, BareFileNameIsReadFromTheWorkingFolder) {
  TempDir dir;
  dir.write("site.ini", "[camera]\nfileprefix=HERE_\ninterval=250\n");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  char names[256];
  const unsigned namesLength = platform::iniSectionNames("site.ini", names, 255);
  char prefix[64];
  platform::iniGetString("camera", "fileprefix", "AUV_", prefix, sizeof prefix, "site.ini");
  const int interval = platform::iniGetInt("camera", "interval", 1000, "site.ini");
  const unsigned absent = platform::iniSectionNames("absent.ini", names, 255);
  const unsigned long absentError = platform::lastSystemError();
  std::filesystem::current_path(before);

  EXPECT_EQ(7u, namesLength);
  EXPECT_STREQ("HERE_", prefix);
  EXPECT_EQ(250, interval);
  EXPECT_EQ(0u, absent);
  EXPECT_EQ(2ul, absentError);
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
