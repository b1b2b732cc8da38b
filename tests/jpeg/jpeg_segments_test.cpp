#include "jpeg/jpeg_segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "jpeg/exif_timestamp.h"
#include "jpeg/image_stamp.h"
#include "jpeg/jpeg_builder.h"
#include "jpeg/picture_info.h"

namespace {

using jpegtest::Bytes;
using jpegtest::concat;
using jpegtest::segment;
using jpegtest::soi;
using jpegtest::sosAndScan;

Bytes app(int n) { return segment(static_cast<std::uint8_t>(0xE0 + n), Bytes{}); }

class JpegScanTest : public ::testing::Test {
 protected:
  void SetUp() override { jpeg::releaseJpegSegments(); }
  void TearDown() override { jpeg::releaseJpegSegments(); }

  // Scans a copy of image of exactly its size, so that the sanitizers see any
  // read past the end; captures both console streams.
  int scan(const Bytes& image) {
    image_ = image;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = jpeg::scanJpegBuffer(image_.data(), static_cast<int>(image_.size()));
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return result;
  }

  Bytes image_;
  std::string out_;
  std::string err_;
};

Bytes nineteenSegments() {
  Bytes head = soi();
  for (int i = 0; i < 19; ++i) {
    head = concat({head, app(2)});
  }
  return head;
}

TEST_F(JpegScanTest, AcceptedHeads) {
  const Bytes tail = sosAndScan(8);
  const struct {
    const char* name;
    Bytes image;
    int records;
  } cases[] = {
      {"SOS right after SOI", concat({soi(), tail}), 1},
      {"nineteen segments and SOS", concat({nineteenSegments(), tail}), 20},
      // Before the first marker its own 0xFF counts among the six.
      {"six 0xFF before the first marker", concat({soi(), Bytes(5, 0xFF), app(2), tail}), 2},
      {"six fill bytes after a 0xFF", concat({soi(), app(2), Bytes(6, 0xFF), app(2), tail}), 3},
      {"length 2", concat({soi(), Bytes{0xFF, 0xE2, 0, 2}, tail}), 2},
  };
  for (const auto& c : cases) {
    jpeg::releaseJpegSegments();
    EXPECT_EQ(1, scan(c.image)) << c.name;
    EXPECT_EQ(c.records, jpeg::segmentCount) << c.name;
    EXPECT_EQ(0xDA, jpeg::segmentTable[c.records - 1].type) << c.name;
    EXPECT_EQ("", out_ + err_) << c.name;
  }
}

TEST_F(JpegScanTest, RefusedStreamsSayWhy) {
  const Bytes tail = sosAndScan(8);
  const std::string pastEnd = "Error : Scanned past image size.\n\n";
  const struct {
    const char* name;
    Bytes image;
    std::string out, err;
  } cases[] = {
      {"empty", {}, "", ""},
      {"one byte", {0xFF}, "", ""},
      {"TIFF", {'I', 'I', 0x2A, 0}, "", ""},
      {"NEF", {'M', 'M', 0, 0x2A}, "", ""},
      {"twenty segments before SOS", concat({nineteenSegments(), app(2), tail}), "",
       "Error : Too many sections in jpg file\n"},
      {"seven 0xFF before the first marker", concat({soi(), Bytes(6, 0xFF), app(2), tail}),
       "too many padding bytes\n", ""},
      {"seven fill bytes after a 0xFF", concat({soi(), app(2), Bytes(7, 0xFF), app(2), tail}),
       "too many padding bytes\n", ""},
      {"length 0", concat({soi(), Bytes{0xFF, 0xE2, 0, 0}, tail}), "", "Error : invalid marker\n"},
      {"length 1", concat({soi(), Bytes{0xFF, 0xE2, 0, 1}, tail}), "", "Error : invalid marker\n"},
      {"EOI with a length", concat({soi(), app(2), Bytes{0xFF, 0xD9, 0, 2}}), "No image in jpeg!\n",
       ""},
      {"EOI at the end", concat({soi(), app(2), Bytes{0xFF, 0xD9}}), "No image in jpeg!\n", ""},
      {"no marker after a segment", concat({soi(), app(2)}), "", pastEnd},
      {"only fill bytes", concat({soi(), Bytes{0xFF, 0xFF, 0xFF}}), "", pastEnd},
      {"half a length field", concat({soi(), Bytes{0xFF, 0xE2, 0x00}}), "", pastEnd},
      {"payload cut short", concat({soi(), Bytes{0xFF, 0xE2, 0x00, 0x10, 1, 2, 3}}), "", pastEnd},
      {"SOS header cut short", concat({soi(), Bytes{0xFF, 0xDA, 0x00, 0x0C, 3}}), "", pastEnd},
  };
  for (const auto& c : cases) {
    jpeg::releaseJpegSegments();
    EXPECT_EQ(0, scan(c.image)) << c.name;
    EXPECT_EQ(c.out, out_) << c.name;
    EXPECT_EQ(c.err, err_) << c.name;
  }
}

TEST_F(JpegScanTest, App0XmpAndLaterCommentsAreDropped) {
  const char raw[] = "a\r\nb\tc\rd\x01\xE9\n";
  const Bytes comment(raw, raw + sizeof raw - 1);
  const Bytes image = concat({soi(), segment(0xE0, Bytes(14, 0)), segment(0xE1, Bytes(20, 'x')),
                              segment(0xFE, comment), segment(0xFE, Bytes{'t', 'w', 'o'}),
                              jpegtest::quantTable(), sosAndScan(8)});
  ASSERT_EQ(1, scan(image));
  ASSERT_EQ(3, jpeg::segmentCount);
  EXPECT_EQ(0xFE, jpeg::segmentTable[0].type);
  EXPECT_EQ(0xDB, jpeg::segmentTable[1].type);
  // CR LF becomes LF; other control and non-ASCII bytes become "?".
  EXPECT_STREQ("a\nb\tc?d??\n", jpeg::PictureInfo.commentText);
}

TEST_F(JpegScanTest, FrameHeaderGivesSizeAndColour) {
  ASSERT_EQ(1, scan(concat({soi(), jpegtest::frameHeader(2832, 4256, 3), sosAndScan(8)})));
  EXPECT_EQ(2832, jpeg::PictureInfo.height);
  EXPECT_EQ(4256, jpeg::PictureInfo.width);
  EXPECT_EQ(1, jpeg::PictureInfo.colorImage);
  EXPECT_EQ(0xC0, jpeg::PictureInfo.codingProcess);
  jpeg::releaseJpegSegments();

  // A progressive grey frame, and a frame header too short to read.
  Bytes grey = jpegtest::frameHeader(10, 20, 1);
  grey[1] = 0xC2;
  ASSERT_EQ(1, scan(concat({soi(), grey, segment(0xC1, Bytes{}), sosAndScan(8)})));
  EXPECT_EQ(0, jpeg::PictureInfo.colorImage);
  EXPECT_EQ(0xC2, jpeg::PictureInfo.codingProcess);
  EXPECT_EQ(20, jpeg::PictureInfo.width);
}

TEST_F(JpegScanTest, CameraJpegRoundTripsByteForByte) {
  jpegtest::CameraLayout layout;
  Bytes image = jpegtest::cameraJpeg(256, true, 4, &layout);
  ASSERT_EQ(1, scan(image));
  EXPECT_EQ(6, jpeg::segmentCount);
  jpeg::rewriteJpegHeader(image_.data());
  jpeg::releaseJpegSegments();
  // The one change the parser makes: the blank UserComment's spaces are zeroed.
  std::fill_n(&image[jpegtest::CAMERA_TIFF_BASE + layout.userComment + 8], 8, 0);
  EXPECT_EQ(image, image_);
  EXPECT_EQ(0, jpeg::segmentCount);
  EXPECT_EQ(nullptr, jpeg::PictureInfo.dateTimeOriginalPos);

  // SOS alone: only SOI is written.
  image = concat({soi(), sosAndScan(32)});
  ASSERT_EQ(1, scan(image));
  jpeg::rewriteJpegHeader(image_.data());
  EXPECT_EQ(image, image_);
}

// Heads that an in-place rewrite would shorten or lengthen: only the stamped
// Exif segment goes back, everything else stays as delivered.
TEST(ExifOnlyWriteBackTest, OnlyTheExifValuesChange) {
  jpegtest::CameraLayout layout;
  const Bytes camera = jpegtest::cameraJpeg(64, true, 4, &layout);
  const std::size_t exifEnd = 4 + (std::size_t(camera[4]) << 8 | camera[5]);
  const Bytes exif(camera.begin() + 2, camera.begin() + exifEnd);
  const Bytes rest(camera.begin() + exifEnd, camera.end());
  const Bytes com = segment(0xFE, Bytes{'c'});
  const struct {
    const char* name;
    Bytes head;
  } cases[] = {
      {"APP0 dropped", concat({segment(0xE0, Bytes(14, 0)), exif})},
      {"XMP dropped", concat({exif, segment(0xE1, Bytes(20, 'x'))})},
      {"second COM dropped", concat({exif, com, com})},
      {"fill bytes before the first marker", concat({Bytes{0xFF, 0xFF}, exif})},
      {"fill byte before a later marker", concat({exif, Bytes{0xFF}})},
      {"no Exif first: JFIF would be inserted", concat({jpegtest::quantTable(), exif})},
  };
  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);
  for (const auto& c : cases) {
    const Bytes image = concat({soi(), c.head, rest});
    const std::size_t base =
        std::search(image.begin(), image.end(), exif.begin(), exif.end()) - image.begin() + 10;
    Bytes expected = image;
    std::memcpy(&expected[base + layout.dateTimeOriginal], "2014:02:03 09:05:07", 19);
    std::memcpy(&expected[base + layout.subSecTimeOriginal], "042", 3);
    std::fill_n(&expected[base + layout.userComment + 8], 8, 0);  // trimmed trailing spaces

    Bytes buffer = image;
    EXPECT_TRUE(jpeg::stampImageBuffer(buffer.data(), static_cast<int>(buffer.size()))) << c.name;
    EXPECT_EQ(expected, buffer) << c.name;
  }
  std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 19);
  std::memcpy(jpeg::exifSubSecString, "000", 3);
}

TEST(JpegTruncationTest, EveryPrefixOfACameraJpegIsHandled) {
  const Bytes image = jpegtest::cameraJpeg(16);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::size_t refused = 0;
  for (std::size_t n = 0; n <= image.size(); ++n) {
    Bytes prefix(image.begin(), image.begin() + n);  // exactly n bytes on the heap
    if (!jpeg::stampImageBuffer(prefix.data(), static_cast<int>(n))) {
      ++refused;
      EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), image.begin())) << n << " bytes";
    }
    EXPECT_EQ(0, jpeg::segmentCount);
  }
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  // Every prefix that ends before the SOS header is complete is refused.
  EXPECT_EQ(image.size() - jpegtest::sosAndScan(16).size() + 14, refused);
  EXPECT_NE(std::string::npos, err.find("Not JPEG: \n"));
}

}  // namespace
