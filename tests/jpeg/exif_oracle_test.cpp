// Stamps realistic camera JPEGs and has independent Exif readers (exiftool,
// exiv2) read them back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "jpeg/exif_timestamp.h"
#include "jpeg/image_stamp.h"
#include "jpeg/jpeg_builder.h"

namespace {

namespace fs = std::filesystem;
using jpegtest::Bytes;

struct Oracle {
  const char* name;
  const char* command;  // the file name follows
  const char* dateKey;
  const char* subSecKey;
};

const Oracle ORACLES[] = {
    {"exiftool", "exiftool -a -u -G1 -s -n", "[ExifIFD] DateTimeOriginal",
     "[ExifIFD] SubSecTimeOriginal"},
    {"exiv2", "exiv2 -q -pa", "Exif.Photo.DateTimeOriginal", "Exif.Photo.SubSecTimeOriginal"},
};

// "key  value" lines: exiftool's "[Group] Tag : value", exiv2's
// "Exif.Group.Tag  Type  Count  value".
std::map<std::string, std::string> parseReport(const std::string& report, bool exiftool) {
  std::map<std::string, std::string> tags;
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string key;
    std::string word;
    words >> key;
    if (exiftool) {
      words >> word;
      key += " " + word;
      words >> word;  // ":"
    } else {
      words >> word >> word;  // type and count
    }
    std::getline(words >> std::ws, word);
    tags[key] = word;
  }
  return tags;
}

std::string trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

class ExifOracleTest : public ::testing::TestWithParam<std::tuple<int, int>> {
 protected:
  void SetUp() override {
    oracle_ = ORACLES[std::get<0>(GetParam())];
    const std::string probe = std::string(oracle_.name) + " --version > /dev/null 2>&1";
    const std::string probeExiftool = std::string(oracle_.name) + " -ver > /dev/null 2>&1";
    if (std::system(probe.c_str()) != 0 && std::system(probeExiftool.c_str()) != 0) {
      GTEST_SKIP() << oracle_.name << " is not installed";
    }
    const auto suffix = std::to_string(std::random_device{}());
    dir_ = fs::temp_directory_path() / ("skerrow-oracle-" + suffix);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 19);
    std::memcpy(jpeg::exifSubSecString, "000", 3);
  }

  std::map<std::string, std::string> read(const Bytes& image) {
    const fs::path file = dir_ / "image.jpg";
    const fs::path report = dir_ / "report.txt";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    const std::string command =
        std::string(oracle_.command) + " '" + file.string() + "' > '" + report.string() + "' 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    std::ifstream in(report);
    std::map<std::string, std::string> tags =
        parseReport(std::string(std::istreambuf_iterator<char>(in), {}),
                    std::string(oracle_.name) == "exiftool");
    // The file system's own facts (name, dates, permissions) are not the image's.
    for (auto it = tags.begin(); it != tags.end();) {
      it = it->first.rfind("[System]", 0) == 0 ? tags.erase(it) : std::next(it);
    }
    return tags;
  }

  Oracle oracle_{};
  fs::path dir_;
};

TEST_P(ExifOracleTest, ReadsTheTriggerTimeAndEverythingElseUnchanged) {
  const auto subSecCount = static_cast<std::uint32_t>(std::get<1>(GetParam()));
  const Bytes original = jpegtest::cameraJpeg(64 * 1024, true, subSecCount);
  const auto before = read(original);
  ASSERT_EQ("VENDOR D3", before.count("Exif.Image.Model") ? before.at("Exif.Image.Model")
                                                          : before.at("[IFD0] Model"));
  ASSERT_EQ("2013:12:31 23:59:58", before.at(oracle_.dateKey));

  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);
  Bytes image = original;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(jpeg::stampImageBuffer(image.data(), static_cast<int>(image.size())));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());

  ASSERT_EQ(original.size(), image.size());
  const std::size_t sos = original.size() - jpegtest::sosAndScan(64 * 1024).size();
  ASSERT_EQ(0xDA, original[sos + 1]);
  EXPECT_TRUE(std::equal(original.begin() + sos, original.end(), image.begin() + sos));

  auto after = read(image);
  EXPECT_EQ("2014:02:03 09:05:07", after.at(oracle_.dateKey));
  EXPECT_EQ("042", after.at(oracle_.subSecKey).substr(0, 3));
  for (const auto& [key, value] : before) {
    if (key.find("DateTimeOriginal") != std::string::npos ||
        key.find("SubSecTimeOriginal") != std::string::npos) {
      continue;
    }
    ASSERT_TRUE(after.count(key)) << key;
    if (key.find("UserComment") != std::string::npos) {
      // The blank comment's spaces became zeros, as intended; its text did not change.
      EXPECT_EQ(trimmed(value), trimmed(after.at(key))) << key;
    } else {
      EXPECT_EQ(value, after.at(key)) << key;
    }
  }
  EXPECT_EQ(before.size(), after.size());
}

// Cameras that write the capture time in IFD0 and IFD1 as well: every
// copy carries the trigger time, so readers that prefer different copies,
// or combine one copy's date with another's subseconds, agree.
using ExifOracleCopiesTest = ExifOracleTest;

TEST_P(ExifOracleCopiesTest, EveryReaderSeesTheTriggerTime) {
  Bytes image = jpegtest::jpegWithTiff(jpegtest::timeCopiesTiff(true), 4096);
  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(jpeg::stampImageBuffer(image.data(), static_cast<int>(image.size())));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());

  int dates = 0;
  for (const auto& [key, value] : read(image)) {
    if (key.find("SubSecDateTimeOriginal") != std::string::npos) {
      EXPECT_EQ("2014:02:03 09:05:07.042", value) << key;
    } else if (key.find("SubSecTimeOriginal") != std::string::npos) {
      EXPECT_EQ("042", value) << key;
    } else if (key.find("DateTimeOriginal") != std::string::npos) {
      EXPECT_EQ("2014:02:03 09:05:07", value) << key;
      ++dates;
    }
  }
  EXPECT_GE(dates, 2);  // IFD0's and the Exif directory's at least
}

INSTANTIATE_TEST_SUITE_P(Oracles, ExifOracleCopiesTest,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(4)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& param) {
                           return std::string(ORACLES[std::get<0>(param.param)].name);
                         });

INSTANTIATE_TEST_SUITE_P(Oracles, ExifOracleTest,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(3, 4)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& param) {
                           return std::string(ORACLES[std::get<0>(param.param)].name) + "_SubSec" +
                                  std::to_string(std::get<1>(param.param));
                         });

}  // namespace
