#include "camera/data_proc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "camera/image_file.h"
#include "core/image_names.h"
#include "jpeg/exif_timestamp.h"
#include "jpeg/jpeg_builder.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using testing_support::readFile;

const char* const NOT_JPEG_LINES =
    "Not JPEG: \nFile contains no Exif timestamp to change\n"
    "File contains no Exif subseconds to change\n";

Bytes nefLike(std::size_t size) {
  Bytes bytes(size);
  const unsigned char header[] = {'I', 'I', 42, 0, 8, 0, 0, 0};
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = i < sizeof header ? header[i] : static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs DataProc in a folder of its own (the working directory too, where raw
// data goes) and restores every process-wide value afterwards.
class DataProcTest : public testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = fs::current_path();
    fs::current_path(dir_.path());
    setBase("base");
    std::snprintf(savedFileName, sizeof savedFileName, "img");
    removeItemFlag = false;
    clearSavedFileRecord();
  }
  void TearDown() override {
    fs::current_path(previousDirectory_);
    camera::imageFileOps = camera::defaultImageFileOps();
    std::snprintf(imageBaseName, sizeof imageBaseName, "img");
    std::snprintf(savedFileName, sizeof savedFileName, "img");
    std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 19);
    std::memcpy(jpeg::exifSubSecString, "000", 3);
    removeItemFlag = false;
    clearSavedFileRecord();
  }

  static void setBase(const std::string& base) {
    std::snprintf(imageBaseName, sizeof imageBaseName, "%s", base.c_str());
  }

  // Delivers bytes as file data in chunks of the given sizes, one call each;
  // returns every call's result and keeps the console output.
  std::vector<int> deliverFile(const Bytes& bytes, const std::vector<std::size_t>& chunks,
                               std::uint32_t fileDataType = MODULE_FILE_NEF,
                               std::uint32_t type = MODULE_DATA_FILE | MODULE_DATA_IMAGE,
                               std::uint32_t remove = 1) {
    std::vector<int> results;
    std::size_t offset = 0;
    capture();
    for (std::size_t length : chunks) {
      FileDataInfo info = {type,
                           fileDataType,
                           static_cast<std::uint32_t>(bytes.size()),
                           static_cast<std::uint32_t>(offset),
                           static_cast<std::uint32_t>(length),
                           0,
                           remove};
      Bytes chunk(length);
      for (std::size_t i = 0; i < length; ++i) chunk[i] = bytes.at((offset + i) % bytes.size());
      results.push_back(DataProc(&context_, &info, length > 0 ? chunk.data() : nullptr));
      offset += length;
    }
    release();
    return results;
  }

  // Delivers rows x rowBytes of raw data, rowsPerChunk rows per call.
  std::vector<int> deliverRaw(const Bytes& bytes, std::uint32_t rowBytes,
                              std::uint32_t rowsPerChunk, std::uint32_t type,
                              std::uint32_t remove = 1) {
    const auto rows = static_cast<std::uint32_t>(bytes.size() / rowBytes);
    std::vector<int> results;
    capture();
    for (std::uint32_t y = 0; y < rows; y += rowsPerChunk) {
      const std::uint32_t height = std::min(rowsPerChunk, rows - y);
      ImageDataInfo info = {};
      info.type = type;
      info.totalWidth = rowBytes;
      info.totalHeight = rows;
      info.rectY = y;
      info.rectWidth = rowBytes;
      info.rectHeight = height;
      info.rowBytes = rowBytes;
      info.removeObject = remove;
      Bytes chunk(bytes.begin() + y * rowBytes, bytes.begin() + (y + height) * rowBytes);
      results.push_back(DataProc(&context_, &info, chunk.data()));
    }
    release();
    return results;
  }

  void capture() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
  }
  void release() {
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
  }

  bool contextEmpty() const { return context_.buffer == nullptr && context_.byteCount == 0; }

  testing_support::TempDir dir_;
  fs::path previousDirectory_;
  DataProcContext context_;
  std::string out_, err_;
};

TEST_F(DataProcTest, ChunksAreGatheredAndWrittenOnlyWithTheLast) {
  struct Case {
    const char* name;
    std::vector<std::size_t> chunks;
  };
  const Case cases[] = {
      {"one chunk", {3000}},
      {"three chunks", {1000, 1000, 1000}},
      {"one-byte final chunk", {2000, 999, 1}},
  };
  const Bytes bytes = nefLike(3000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove("base.nef");
    std::vector<std::size_t> head(c.chunks.begin(), c.chunks.end() - 1);
    if (!head.empty()) {
      EXPECT_EQ(std::vector<int>(head.size(), 0), deliverFile(bytes, head));
      EXPECT_FALSE(fs::exists("base.nef"));
      EXPECT_EQ(std::accumulate(head.begin(), head.end(), std::size_t{0}), context_.byteCount);
      // The last chunk follows on from where the head stopped.
      FileDataInfo info = {MODULE_DATA_FILE | MODULE_DATA_IMAGE,
                           MODULE_FILE_NEF,
                           3000,
                           context_.byteCount,
                           static_cast<std::uint32_t>(c.chunks.back()),
                           0,
                           1};
      capture();
      EXPECT_EQ(0, DataProc(&context_, &info,
                            const_cast<unsigned char*>(bytes.data()) + context_.byteCount));
      release();
    } else {
      EXPECT_EQ(std::vector<int>{0}, deliverFile(bytes, c.chunks));
    }
    EXPECT_EQ(text(bytes), readFile("base.nef"));
    EXPECT_TRUE(contextEmpty());
  }
}

TEST_F(DataProcTest, JpegIsStampedWithTheTriggerTimeAndSavedWhole) {
  jpegtest::CameraLayout layout;
  const Bytes jpeg = jpegtest::cameraJpeg(20000, true, 4, &layout);
  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);
  const std::string base = (dir_.path() / "AUV_VARNO_20140203_090507_042").string();
  setBase(base);

  EXPECT_EQ((std::vector<int>{0, 0, 0}),
            deliverFile(jpeg, {7000, 7000, jpeg.size() - 14000}, MODULE_FILE_JPEG));

  const std::string saved = readFile(base + ".jpg");
  ASSERT_EQ(jpeg.size(), saved.size());
  const std::size_t date = jpegtest::CAMERA_TIFF_BASE + layout.dateTimeOriginal;
  const std::size_t subSec = jpegtest::CAMERA_TIFF_BASE + layout.subSecTimeOriginal;
  EXPECT_EQ("2014:02:03 09:05:07", saved.substr(date, 19));
  EXPECT_EQ("042", saved.substr(subSec, 3));
  // The entropy-coded data behind the header is as delivered.
  const std::size_t scan = jpeg.size() - 20000;
  EXPECT_TRUE(saved.compare(scan, std::string::npos, text(jpeg), scan, std::string::npos) == 0);
  EXPECT_EQ("", err_);
  EXPECT_STREQ((base + ".jpg").c_str(), savedFileName);
  EXPECT_TRUE(savedFileRecord.saved);
  EXPECT_STREQ(savedFileName, savedFileRecord.name);
}

TEST_F(DataProcTest, NefIsSavedByteForByteAfterTheThreeLines) {
  const Bytes nef = nefLike(5000);
  EXPECT_EQ((std::vector<int>{0, 0}), deliverFile(nef, {4096, 904}));
  EXPECT_EQ(NOT_JPEG_LINES, err_);
  EXPECT_EQ("", out_);
  EXPECT_EQ(text(nef), readFile("base.nef"));
  EXPECT_STREQ("base.nef", savedFileName);
}

TEST_F(DataProcTest, ExtensionFollowsTheFileDataType) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {1, "a.jpg"}, {2, "b.tif"}, {3, "c.dat"}, {4, "d.nef"}, {0x101, "e.ndf"}, {99, "f.dat"}};
  for (const auto& [fileDataType, name] : cases) {
    SCOPED_TRACE(name);
    setBase(std::string(name, 1));
    EXPECT_EQ(std::vector<int>{0}, deliverFile(nefLike(100), {100}, fileDataType));
    EXPECT_TRUE(fs::exists(name));
    EXPECT_STREQ(name, savedFileName);
  }
}

TEST_F(DataProcTest, ExistingNamesAreNeverOverwritten) {
  deliverFile(nefLike(10), {10});
  deliverFile(nefLike(20), {20});
  EXPECT_EQ(std::string(NOT_JPEG_LINES) +
                "ERROR: Trying to write to existing file... renaming [base-001.nef].\n",
            err_);
  deliverFile(nefLike(30), {30});
  EXPECT_EQ(std::string(NOT_JPEG_LINES) +
                "ERROR: Trying to write to existing file... renaming [base-001.nef].\n"
                "ERROR: Trying to write to existing file... renaming [base-002.nef].\n",
            err_);
  EXPECT_EQ(10u, fs::file_size("base.nef"));
  EXPECT_EQ(20u, fs::file_size("base-001.nef"));
  EXPECT_EQ(30u, fs::file_size("base-002.nef"));
  EXPECT_STREQ("base-002.nef", savedFileName);
}

TEST_F(DataProcTest, RawDataGetsANumberedNameInTheWorkingDirectory) {
  const Bytes thumb = nefLike(160 * 3 * 12);
  EXPECT_EQ((std::vector<int>{0, 0, 0}), deliverRaw(thumb, 160 * 3, 5, MODULE_DATA_THUMBNAIL));
  EXPECT_EQ((std::vector<int>{0, 0, 0}), deliverRaw(thumb, 160 * 3, 5, MODULE_DATA_THUMBNAIL));
  EXPECT_EQ(text(thumb), readFile("Thumb001.raw"));
  EXPECT_EQ(text(thumb), readFile("Thumb002.raw"));
  EXPECT_EQ("", err_);
  EXPECT_STREQ("Thumb002.raw", savedFileName);  // the image log names what was saved
  EXPECT_TRUE(savedFileRecord.saved);
  EXPECT_STREQ("Thumb002.raw", savedFileRecord.name);

  deliverRaw(thumb, 160 * 3, 12, MODULE_DATA_IMAGE | MODULE_DATA_THUMBNAIL);
  deliverRaw(thumb, 160 * 3, 12, 0x02);
  EXPECT_TRUE(fs::exists("Image001.raw"));
  EXPECT_TRUE(fs::exists("Unknown001.raw"));
}

TEST_F(DataProcTest, RemovalFlagOnlyForImagesTheModuleMarks) {
  struct Case {
    bool file;
    std::uint32_t type, remove;
    bool expected;
  };
  const Case cases[] = {
      {true, MODULE_DATA_FILE | MODULE_DATA_IMAGE, 1, true},
      {true, MODULE_DATA_FILE | MODULE_DATA_IMAGE, 0, false},
      {true, MODULE_DATA_FILE | MODULE_DATA_THUMBNAIL, 1, false},
      {false, MODULE_DATA_IMAGE, 7, true},
      {false, MODULE_DATA_THUMBNAIL, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.remove));
    removeItemFlag = false;
    if (c.file)
      deliverFile(nefLike(64), {64}, MODULE_FILE_NEF, c.type, c.remove);
    else
      deliverRaw(nefLike(64), 16, 4, c.type, c.remove);
    EXPECT_EQ(c.expected, removeItemFlag);
  }
}

// Fault hooks: a write that stops half-way (a full disk), a close that
// fails after writing (the tail could not be flushed), a creation refused,
// and a name taken by someone else between the check and the creation.
bool halfWrite(platform::NewFile& file, const unsigned char* data, std::size_t size) {
  file.write(data, size / 2);
  return false;
}
bool failingClose(platform::NewFile& file) {
  file.close();
  return false;
}
platform::CreateResult refusingCreate(const char*, platform::NewFile*) {
  return platform::CreateResult::FAILED;
}
bool everythingExists(const char*) { return true; }
bool appearsAfterTheCheck(const char* name) {
  const bool taken = camera::defaultImageFileOps().exists(name);
  if (!taken && std::string(name) == "base.nef") std::ofstream(name) << "theirs";
  return taken;
}

TEST_F(DataProcTest, WriteFailureLeavesNoFileAndKeepsTheShot) {
  struct Case {
    const char* name;
    void (*inject)();
  };
  const Case cases[] = {
      {"short write", [] { camera::imageFileOps.write = halfWrite; }},
      {"failed close", [] { camera::imageFileOps.close = failingClose; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    camera::imageFileOps = camera::defaultImageFileOps();
    c.inject();
    EXPECT_EQ((std::vector<int>{0, -117}), deliverFile(nefLike(4000), {2000, 2000}));
    EXPECT_EQ(std::string(NOT_JPEG_LINES) + "ERROR: Cannot write file [base.nef].\n", err_);
    EXPECT_FALSE(fs::exists("base.nef"));
    EXPECT_FALSE(removeItemFlag);
    EXPECT_FALSE(savedFileRecord.saved);
    EXPECT_STREQ("img", savedFileName);
    EXPECT_TRUE(contextEmpty());

    camera::imageFileOps = camera::defaultImageFileOps();
    c.inject();
    EXPECT_EQ(std::vector<int>{-117}, deliverRaw(nefLike(64), 16, 4, MODULE_DATA_IMAGE));
    EXPECT_EQ("ERROR: Cannot write file [Image001.raw].\n", err_);
    EXPECT_FALSE(fs::exists("Image001.raw"));
    EXPECT_FALSE(removeItemFlag);
  }
  // The next object on the same context is saved normally.
  camera::imageFileOps = camera::defaultImageFileOps();
  EXPECT_EQ(std::vector<int>{0}, deliverFile(nefLike(10), {10}));
  EXPECT_TRUE(fs::exists("base.nef"));
  EXPECT_TRUE(removeItemFlag);
}

TEST_F(DataProcTest, OpenFailureDropsTheObject) {
  setBase((dir_.path() / "no-such-folder" / "base").string());
  EXPECT_EQ(std::vector<int>{-117}, deliverFile(nefLike(10), {10}));
  EXPECT_EQ(std::string(NOT_JPEG_LINES) + "ERROR: Cannot open file for writing [" + imageBaseName +
                ".nef].\n",
            err_);
  EXPECT_TRUE(contextEmpty());
  EXPECT_FALSE(removeItemFlag);

  camera::imageFileOps.create = refusingCreate;  // raw data fails silently
  EXPECT_EQ(std::vector<int>{-117}, deliverRaw(nefLike(64), 16, 4, MODULE_DATA_IMAGE));
  EXPECT_EQ("", err_);
  EXPECT_TRUE(contextEmpty());
}

TEST_F(DataProcTest, NameTakenBetweenTheCheckAndTheCreationMovesToTheNextName) {
  camera::imageFileOps.exists = appearsAfterTheCheck;
  EXPECT_EQ(std::vector<int>{0}, deliverFile(nefLike(10), {10}));
  EXPECT_EQ(std::string(NOT_JPEG_LINES) +
                "ERROR: Trying to write to existing file... renaming [base-001.nef].\n",
            err_);
  EXPECT_EQ("theirs", readFile("base.nef"));
  EXPECT_EQ(text(nefLike(10)), readFile("base-001.nef"));
  EXPECT_STREQ("base-001.nef", savedFileName);
}

TEST_F(DataProcTest, ChunkPastTheAnnouncedTotalDropsTheObject) {
  // File data: 6 + 6 bytes of a 10-byte file.
  EXPECT_EQ((std::vector<int>{0, -117}), deliverFile(nefLike(10), {6, 6}));
  EXPECT_EQ("ERROR: Data chunk runs past the announced size [6 of 10 bytes].\n", err_);
  EXPECT_TRUE(contextEmpty());
  EXPECT_FALSE(fs::exists("base.nef"));

  // A later chunk announcing a larger total is still held to the first one.
  capture();
  Bytes bytes = nefLike(100);
  FileDataInfo first = {MODULE_DATA_FILE | MODULE_DATA_IMAGE, MODULE_FILE_NEF, 10, 0, 8, 0, 1};
  FileDataInfo second = {MODULE_DATA_FILE | MODULE_DATA_IMAGE, MODULE_FILE_NEF, 100, 8, 50, 0, 1};
  EXPECT_EQ(0, DataProc(&context_, &first, bytes.data()));
  EXPECT_EQ(-117, DataProc(&context_, &second, bytes.data() + 8));
  // Raw data: a rectangle taller than the rows that are left.
  ImageDataInfo raw = {};
  raw.type = MODULE_DATA_THUMBNAIL;
  raw.totalHeight = 2;
  raw.rowBytes = 8;
  raw.rectHeight = 3;
  EXPECT_EQ(-117, DataProc(&context_, &raw, bytes.data()));
  release();
  EXPECT_TRUE(contextEmpty());
  EXPECT_FALSE(fs::exists("Thumb001.raw"));
}

TEST_F(DataProcTest, RenamingStopsAtTheLastCounter) {
  camera::imageFileOps.exists = everythingExists;
  EXPECT_EQ(std::vector<int>{-117}, deliverFile(nefLike(10), {10}));
  const std::string last =
      "ERROR: Trying to write to existing file... renaming [base-65535.nef].\n"
      "ERROR: No free file name left for [base.nef].\n";
  ASSERT_GE(err_.size(), last.size());
  EXPECT_EQ(last, err_.substr(err_.size() - last.size()));
  std::size_t renamings = 0;
  for (std::size_t at = 0; (at = err_.find("renaming [", at)) != std::string::npos; ++at)
    ++renamings;
  EXPECT_EQ(65535u, renamings);
  EXPECT_TRUE(contextEmpty());

  EXPECT_EQ(std::vector<int>{-117}, deliverRaw(nefLike(64), 16, 4, MODULE_DATA_IMAGE));
  EXPECT_EQ("ERROR: No free file name left for [Image001.raw].\n", err_);
  EXPECT_FALSE(removeItemFlag);
  EXPECT_FALSE(savedFileRecord.saved);
}

// The longest base name (a prefix of 100 characters and the trigger's 27)
// is saved whole, and so is its renamed twin.
TEST_F(DataProcTest, LongestBaseNameIsSavedWithAndWithoutACounter) {
  const std::string longest(sizeof imageBaseName - 1, 'n');
  setBase(longest);
  EXPECT_EQ(std::vector<int>{0}, deliverFile(nefLike(10), {10}));
  EXPECT_STREQ((longest + ".nef").c_str(), savedFileName);
  EXPECT_EQ(std::vector<int>{0}, deliverFile(nefLike(20), {20}));
  EXPECT_STREQ((longest + "-001.nef").c_str(), savedFileName);
  EXPECT_STREQ(savedFileName, savedFileRecord.name);
  EXPECT_EQ(20u, fs::file_size(longest + "-001.nef"));
  EXPECT_EQ(std::string::npos, err_.find("too long")) << err_;
}

TEST_F(DataProcTest, ObjectTooLargeForMemoryLeavesTheContextAlone) {
  FileDataInfo info = {
      MODULE_DATA_FILE | MODULE_DATA_IMAGE, MODULE_FILE_NEF, 0xFFFFFFF0u, 0, 16, 0, 1};
  Bytes chunk(16);
  capture();
  EXPECT_EQ(-118, DataProc(&context_, &info, chunk.data()));
  release();
  EXPECT_EQ("There is not enough memory.\n", out_);
  EXPECT_TRUE(contextEmpty());
}

}  // namespace
