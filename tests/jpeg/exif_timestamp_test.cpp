#include "jpeg/exif_timestamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "jpeg/image_stamp.h"
#include "jpeg/jpeg_builder.h"
#include "jpeg/jpeg_segments.h"
#include "jpeg/picture_info.h"

namespace {

using jpegtest::Bytes;
using jpegtest::concat;

const char* const NO_DATE = "File contains no Exif timestamp to change\n";
const char* const NO_SUBSEC = "File contains no Exif subseconds to change\n";

TEST(ExifTimestampFormatTest, WorkedExampleAndRejectedFields) {
  char date[20];
  char subSec[4];
  ASSERT_TRUE(jpeg::formatExifDate(2014, 2, 3, 9, 5, 7, date));
  ASSERT_TRUE(jpeg::formatExifSubSec(42, subSec));
  EXPECT_STREQ("2014:02:03 09:05:07", date);
  EXPECT_STREQ("042", subSec);

  EXPECT_FALSE(jpeg::formatExifDate(10000, 1, 1, 0, 0, 0, date));
  EXPECT_FALSE(jpeg::formatExifDate(2014, 13, 1, 0, 0, 0, date));
  EXPECT_FALSE(jpeg::formatExifDate(2014, 1, 1, 24, 0, 0, date));
  EXPECT_FALSE(jpeg::formatExifSubSec(1000, subSec));
  EXPECT_FALSE(jpeg::formatExifSubSec(-1, subSec));
  EXPECT_STREQ("2014:02:03 09:05:07", date);  // unchanged on failure
  EXPECT_STREQ("042", subSec);
}

// Runs the per-image sequence on whole images; restores the process-wide
// texts to their initial values afterwards.
class ImageStampTest : public ::testing::Test {
 protected:
  void TearDown() override { setTexts("2001:01:01 00:00:00", "000"); }

  static void setTexts(const char* date, const char* subSec) {
    std::memcpy(jpeg::exifDateString, date, 19);
    std::memcpy(jpeg::exifSubSecString, subSec, 3);
  }

  bool stamp(Bytes& image) {
    testing::internal::CaptureStderr();
    const bool result = jpeg::stampImageBuffer(image.data(), static_cast<int>(image.size()));
    err_ = testing::internal::GetCapturedStderr();
    return result;
  }

  std::string err_;
};

TEST_F(ImageStampTest, InitialTextsAreWrittenBeforeAnyTrigger) {
  jpegtest::CameraLayout layout;
  Bytes image = jpegtest::cameraJpeg(64, true, 4, &layout);
  ASSERT_TRUE(stamp(image));
  const auto* base = image.data() + jpegtest::CAMERA_TIFF_BASE;
  EXPECT_EQ(0, std::memcmp("2001:01:01 00:00:00", base + layout.dateTimeOriginal, 20));
  EXPECT_EQ(0, std::memcmp("000", base + layout.subSecTimeOriginal, 4));
}

// Both byte orders, and SubSecTimeOriginal values of 2 to 5 bytes.
class CameraStampTest : public ImageStampTest,
                        public ::testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(CameraStampTest, OnlyTheTwoValuesAndTheBlankCommentChange) {
  const bool bigEndian = std::get<0>(GetParam());
  const auto subSecCount = static_cast<std::uint32_t>(std::get<1>(GetParam()));
  jpegtest::CameraLayout layout;
  const Bytes original = jpegtest::cameraJpeg(4096, bigEndian, subSecCount, &layout);
  const std::size_t base = jpegtest::CAMERA_TIFF_BASE;
  Bytes expected = original;
  std::memcpy(&expected[base + layout.dateTimeOriginal], "2014:02:03 09:05:07", 19);
  // Three characters even into a shorter value: they stay inside the
  // entry's 4-byte field.
  std::memcpy(&expected[base + layout.subSecTimeOriginal], "042", 3);
  std::fill_n(&expected[base + layout.userComment + 8], 8, 0);

  setTexts("2014:02:03 09:05:07", "042");
  Bytes image = original;
  EXPECT_TRUE(stamp(image));
  EXPECT_EQ("", err_);
  EXPECT_EQ(expected, image);

  // Read back: the new text, and the value's zero byte still in place.
  ASSERT_EQ(1, jpeg::scanJpegBuffer(image.data(), static_cast<int>(image.size())));
  EXPECT_STREQ("2014:02:03 09:05:07", jpeg::PictureInfo.dateTimeOriginal);
  EXPECT_EQ(0, jpeg::PictureInfo.dateTimeOriginalPos[19]);
  jpeg::releaseJpegSegments();

  // The next image without a queue entry gets the same texts again.
  Bytes next = original;
  EXPECT_TRUE(stamp(next));
  EXPECT_EQ(expected, next);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CameraStampTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(2, 3, 4, 5)));

TEST_F(ImageStampTest, ImagesWithoutTheValuesAreSavedAsDelivered) {
  using jpegtest::segment;
  const Bytes plainJpeg = concat({jpegtest::soi(), jpegtest::quantTable(),
                                  jpegtest::frameHeader(8, 8, 3), jpegtest::sosAndScan(64)});
  const Bytes tiff = concat({Bytes{'M', 'M', 0, 0x2A, 0, 0, 0, 8}, Bytes(64, 0)});
  const struct {
    Bytes image;
    bool jpeg;
    std::string err;
  } cases[] = {
      {plainJpeg, true, std::string(NO_DATE) + NO_SUBSEC},
      {tiff, false, std::string("Not JPEG: \n") + NO_DATE + NO_SUBSEC},
      {Bytes(plainJpeg.begin(), plainJpeg.begin() + 40), false,
       std::string("Error : Scanned past image size.\n\nNot JPEG: \n") + NO_DATE + NO_SUBSEC},
  };
  setTexts("2014:02:03 09:05:07", "042");
  for (const auto& c : cases) {
    Bytes image = c.image;
    EXPECT_EQ(c.jpeg, stamp(image));
    EXPECT_EQ(c.err, err_);
    EXPECT_EQ(c.image, image);
  }
}

TEST_F(ImageStampTest, DateWithoutSubSecondsIsStillRewritten) {
  jpegtest::TiffBuilder t(true);
  const int ifd0 = t.addDirectory();
  t.addAscii(ifd0, 0x9003, "2013:12:31 23:59:58");
  const Bytes tiff = t.build();
  const Bytes original =
      concat({jpegtest::soi(), jpegtest::segment(0xE1, jpegtest::exifPayload(tiff)),
              jpegtest::sosAndScan(16)});
  setTexts("2014:02:03 09:05:07", "042");
  Bytes image = original;
  EXPECT_TRUE(stamp(image));
  EXPECT_EQ(NO_SUBSEC, err_);
  Bytes expected = original;
  std::memcpy(&expected[jpegtest::CAMERA_TIFF_BASE + t.valueOffset(ifd0, 0x9003)],
              "2014:02:03 09:05:07", 19);
  EXPECT_EQ(expected, image);
}

}  // namespace
