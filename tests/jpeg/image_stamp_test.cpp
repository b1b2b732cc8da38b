// The two-step sequence: reading the camera's clock, then stamping every copy
// of the capture time or keeping the image as delivered.
#include "jpeg/image_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "jpeg/exif_timestamp.h"
#include "jpeg/jpeg_builder.h"
#include "jpeg/picture_info.h"

namespace {

using jpegtest::Bytes;
using jpegtest::TiffBuilder;

const char* const TRIGGER_DATE = "2014:02:03 09:05:07";
const char* const CAMERA_DATE = "2013:12:31 23:59:58";
const char* const NO_DATE = "File contains no Exif timestamp to change\n";

class ImageStampStepsTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    std::memcpy(jpeg::exifDateString, TRIGGER_DATE, 19);
    std::memcpy(jpeg::exifSubSecString, "042", 3);
  }
  void TearDown() override {
    jpeg::releaseScannedImage();
    std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 19);
    std::memcpy(jpeg::exifSubSecString, "000", 3);
  }

  bool scan(Bytes& image, jpeg::CameraClockReading* reading) {
    testing::internal::CaptureStderr();
    const bool result =
        jpeg::scanImageBuffer(image.data(), static_cast<int>(image.size()), reading);
    err_ = testing::internal::GetCapturedStderr();
    return result;
  }
  void stamp(Bytes& image) {
    testing::internal::CaptureStderr();
    jpeg::stampScannedImage(image.data());
    err_ += testing::internal::GetCapturedStderr();
  }

  std::string err_;
};

TEST_P(ImageStampStepsTest, CameraClockIsReadBeforeTheStamp) {
  using Fill = std::function<void(TiffBuilder&, int ifd0, int exif)>;
  const struct {
    const char* name;
    Fill fill;
    bool present, fromDigitized;
    const char* dateTime;
    const char* subSec;
  } cases[] = {
      {"Original and its subseconds",
       [](TiffBuilder& t, int, int exif) {
         t.addAscii(exif, 0x9003, TRIGGER_DATE);
         t.addAscii(exif, 0x9004, CAMERA_DATE);
         t.addAscii(exif, 0x9291, "042");
         t.addAscii(exif, 0x9292, "999");
       },
       true, false, TRIGGER_DATE, "042"},
      {"the Exif directory's copy before IFD0's",
       [](TiffBuilder& t, int ifd0, int exif) {
         t.addAscii(ifd0, 0x9003, CAMERA_DATE);
         t.addAscii(ifd0, 0x9291, "111");
         t.addAscii(exif, 0x9003, TRIGGER_DATE);
         t.addAscii(exif, 0x9291, "042");
       },
       true, false, TRIGGER_DATE, "042"},
      {"IFD0's copy alone",
       [](TiffBuilder& t, int ifd0, int) { t.addAscii(ifd0, 0x9003, CAMERA_DATE); }, true, false,
       CAMERA_DATE, ""},
      {"blank Original: Digitized, padded subseconds",
       [](TiffBuilder& t, int, int exif) {
         t.addAscii(exif, 0x9003, "    :  :     :  :  ");
         t.addAscii(exif, 0x9004, CAMERA_DATE);
         t.addAscii(exif, 0x9291, "042");
         t.addAscii(exif, 0x9292, "7  ");
       },
       true, true, CAMERA_DATE, "7"},
      {"short Original: Digitized without subseconds",
       [](TiffBuilder& t, int, int exif) {
         t.addAscii(exif, 0x9003, "2014:02:03");
         t.addAscii(exif, 0x9004, CAMERA_DATE);
       },
       true, true, CAMERA_DATE, ""},
      {"at most nine digits",
       [](TiffBuilder& t, int, int exif) {
         t.addAscii(exif, 0x9003, CAMERA_DATE);
         t.addAscii(exif, 0x9291, "1234567890123");
       },
       true, false, CAMERA_DATE, "123456789"},
      {"spaces for subseconds",
       [](TiffBuilder& t, int, int exif) {
         t.addAscii(exif, 0x9003, CAMERA_DATE);
         t.addAscii(exif, 0x9291, "   ");
       },
       true, false, CAMERA_DATE, ""},
      {"no capture time", [](TiffBuilder& t, int ifd0, int) { t.addAscii(ifd0, 0x010F, "VENDOR"); },
       false, false, "", ""},
  };
  for (const auto& c : cases) {
    TiffBuilder t(GetParam());
    const int ifd0 = t.addDirectory();
    const int exif = t.addDirectory();
    t.addLink(ifd0, 0x8769, exif);
    c.fill(t, ifd0, exif);
    const Bytes original = jpegtest::jpegWithTiff(t.build(), 64);
    Bytes image = original;
    jpeg::CameraClockReading reading;
    ASSERT_TRUE(scan(image, &reading)) << c.name;
    jpeg::releaseScannedImage();
    EXPECT_EQ(c.present, reading.present) << c.name;
    EXPECT_EQ(c.fromDigitized, reading.fromDigitized) << c.name;
    EXPECT_STREQ(c.dateTime, reading.dateTime) << c.name;
    EXPECT_STREQ(c.subSec, reading.subSec) << c.name;
    EXPECT_EQ(original, image) << c.name;
  }
}

TEST_P(ImageStampStepsTest, EveryCopyIsStampedOrTheImageKeptAsDelivered) {
  jpegtest::TimeCopiesLayout layout;
  const Bytes original = jpegtest::jpegWithTiff(jpegtest::timeCopiesTiff(GetParam(), &layout), 256);
  Bytes expected = original;
  for (int i = 0; i < 3; ++i) {
    std::memcpy(&expected[jpegtest::CAMERA_TIFF_BASE + layout.dateTimeOriginal[i]], TRIGGER_DATE,
                19);
    std::memcpy(&expected[jpegtest::CAMERA_TIFF_BASE + layout.subSecTimeOriginal[i]], "042", 3);
  }

  // An image that belongs to no trigger: read, then released untouched.
  Bytes image = original;
  jpeg::CameraClockReading reading;
  ASSERT_TRUE(scan(image, &reading));
  EXPECT_STREQ(CAMERA_DATE, reading.dateTime);
  EXPECT_STREQ("50", reading.subSec);
  jpeg::releaseScannedImage();
  EXPECT_EQ(original, image);

  ASSERT_TRUE(scan(image, &reading));
  stamp(image);
  EXPECT_EQ("", err_);
  EXPECT_EQ(expected, image);
  ASSERT_TRUE(scan(image, &reading));
  EXPECT_STREQ(TRIGGER_DATE, reading.dateTime);
  EXPECT_STREQ("042", reading.subSec);
  EXPECT_EQ(3, jpeg::PictureInfo.dateTimeOriginalCopies.count);

  // Not a JPEG: nothing read, nothing changed, whichever step follows.
  Bytes tiff = {'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 0};
  EXPECT_FALSE(scan(tiff, &reading));
  EXPECT_FALSE(reading.present);
  stamp(tiff);
  EXPECT_EQ(std::string("Not JPEG: \n") + NO_DATE + "File contains no Exif subseconds to change\n",
            err_);
  EXPECT_EQ((Bytes{'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 0}), tiff);
}

// IFD0: Make, DateTimeOriginal, SubSecTimeOriginal "000", an 8-byte private
// value, the Exif link; the Exif directory: DateTimeOriginal, extraDates
// more, SubSecTimeOriginal "000". Each case points one value elsewhere and
// says what is stamped and printed.
struct Scenario {
  explicit Scenario(bool bigEndian, int extraDates) : t(bigEndian) {
    ifd0 = t.addDirectory();
    exif = t.addDirectory();
    t.addAscii(ifd0, 0x010F, "VENDOR CORPORATION");
    t.addAscii(ifd0, 0x9003, CAMERA_DATE);
    t.addAscii(ifd0, 0x9291, "000");
    t.add(ifd0, 0xC000, jpegtest::FORMAT_UNDEFINED, 8, Bytes(8, 'x'));
    t.addLink(ifd0, 0x8769, exif);
    t.addAscii(exif, 0x9003, CAMERA_DATE);
    for (int i = 0; i < extraDates; ++i) {
      t.addAscii(exif, 0x9003, "2013:12:31 23:59:" + std::to_string(10 + i));
    }
    t.addAscii(exif, 0x9291, "000");
    tiff = t.build();
    bigEndian_ = bigEndian;
  }
  // Value offset of the index-th entry of dir, as the file holds it.
  std::uint32_t valueAt(int dir, int index) const {
    const std::size_t at = t.directoryOffset(dir) + 2 + 12 * index + 8;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      v |= std::uint32_t(tiff[at + i]) << (bigEndian_ ? 24 - 8 * i : 8 * i);
    }
    return v;
  }
  std::uint32_t value(int dir, std::uint16_t tag) const { return t.valueOffset(dir, tag); }
  void point(int dir, std::uint16_t tag, std::uint32_t target) {
    t.patchU32(tiff, t.entryOffset(dir, tag) + 8, target);
  }
  void date(std::uint32_t at) { writes.emplace_back(at, TRIGGER_DATE); }
  void subSecs() {
    writes.emplace_back(value(ifd0, 0x9291), "042");
    writes.emplace_back(value(exif, 0x9291), "042");
  }
  void overlap(const char* name, std::uint32_t at) {
    err += std::string("Exif ") + name + " at offset " + std::to_string(at) +
           " overlaps other Exif data; that copy is left as it is.\n";
  }

  TiffBuilder t;
  int ifd0 = 0;
  int exif = 0;
  Bytes tiff;
  std::vector<std::pair<std::uint32_t, std::string>> writes;
  std::string err;
  bool bigEndian_;
};

TEST_P(ImageStampStepsTest, CopiesOnOtherExifDataAreLeftAsTheyAre) {
  const struct {
    const char* name;
    int extraDates;
    void (*arrange)(Scenario&);
  } cases[] = {
      {"all apart", 0,
       [](Scenario& s) {
         s.date(s.value(s.ifd0, 0x9003));
         s.date(s.value(s.exif, 0x9003));
         s.subSecs();
       }},
      {"date on the TIFF header", 0,
       [](Scenario& s) {
         s.point(s.ifd0, 0x9003, 0);
         s.overlap("DateTimeOriginal", 0);
         s.date(s.value(s.exif, 0x9003));
         s.subSecs();
       }},
      {"date on a directory", 0,
       [](Scenario& s) {
         const std::uint32_t at =
             s.t.directoryOffset(s.exif) + 2;  // its entries, up to the SubSecTimeOriginal field
         s.point(s.ifd0, 0x9003, at);
         s.overlap("DateTimeOriginal", at);
         s.date(s.value(s.exif, 0x9003));
         s.subSecs();
       }},
      {"date on another value", 0,
       [](Scenario& s) {
         const std::uint32_t at = s.value(s.ifd0, 0x010F) + 4;
         s.point(s.ifd0, 0x9003, at);
         s.overlap("DateTimeOriginal", at);
         s.date(s.value(s.exif, 0x9003));
         s.subSecs();
       }},
      {"dates one byte apart", 0,
       [](Scenario& s) {
         const std::uint32_t first = s.value(s.ifd0, 0x9003);
         s.point(s.exif, 0x9003, first + 1);
         s.overlap("DateTimeOriginal", first);
         s.overlap("DateTimeOriginal", first + 1);
         s.err += NO_DATE;
         s.subSecs();
       }},
      {"another value on subseconds inside their entry", 0,
       [](Scenario& s) {
         const std::uint32_t field = s.value(s.exif, 0x9291);
         s.point(s.ifd0, 0xC000, field - 4);
         s.overlap("SubSecTimeOriginal", field);
         s.date(s.value(s.ifd0, 0x9003));
         s.date(s.value(s.exif, 0x9003));
         s.writes.emplace_back(s.value(s.ifd0, 0x9291), "042");
       }},
      {"one date named twice", 0,
       [](Scenario& s) {
         s.point(s.ifd0, 0x9003, s.value(s.exif, 0x9003));
         s.date(s.value(s.exif, 0x9003));
         s.subSecs();
       }},
      {"ten dates", 8,
       [](Scenario& s) {
         s.date(s.value(s.ifd0, 0x9003));
         for (int i = 0; i < 7; ++i) {  // the Exif directory's first seven
           s.date(s.valueAt(s.exif, i));
         }
         s.err = "More than 8 copies of Exif DateTimeOriginal; the others are left as they are.\n";
         s.subSecs();
       }},
  };
  for (const auto& c : cases) {
    Scenario s(GetParam(), c.extraDates);
    c.arrange(s);
    const Bytes original = jpegtest::jpegWithTiff(s.tiff, 64);
    Bytes expected = original;
    for (const auto& [offset, text] : s.writes) {
      std::memcpy(&expected[jpegtest::CAMERA_TIFF_BASE + offset], text.data(), text.size());
    }
    Bytes image = original;
    ASSERT_TRUE(scan(image, nullptr)) << c.name;
    err_.clear();
    stamp(image);
    EXPECT_EQ(s.err, err_) << c.name;
    EXPECT_EQ(expected, image) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, ImageStampStepsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "BigEndian" : "LittleEndian";
                         });

}  // namespace
