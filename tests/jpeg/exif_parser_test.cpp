#include "jpeg/exif_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "jpeg/jpeg_builder.h"
#include "jpeg/jpeg_segments.h"
#include "jpeg/picture_info.h"

namespace {

using jpeg::PictureInfo;
using jpegtest::Bytes;
using jpegtest::TiffBuilder;

// Every case runs in both byte orders: the results must not depend on it.
class ExifParserTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { jpeg::releaseJpegSegments(); }
  void TearDown() override { jpeg::releaseJpegSegments(); }

  // Parses payload ("Exif", two zeros, TIFF data) as a stored segment, after
  // clearing what an earlier parse found; returns what went to stderr.
  std::string parse(const Bytes& payload) {
    jpeg::releaseJpegSegments();
    stored_ = jpegtest::storedSegment(payload);
    testing::internal::CaptureStderr();
    jpeg::parseExifSegment(stored_.data(), static_cast<unsigned>(stored_.size()));
    return testing::internal::GetCapturedStderr();
  }
  std::string parseTiff(const Bytes& tiff) { return parse(jpegtest::exifPayload(tiff)); }

  // Offset from the TIFF base of a position recorded in PictureInfo.
  long offsetOf(const unsigned char* position) const {
    return position == nullptr ? -1 : static_cast<long>(position - stored_.data() - 8);
  }

  Bytes stored_;
};

TEST_P(ExifParserTest, CameraExifGivesItsValuesAndPositions) {
  for (std::uint32_t subSecCount : {2u, 3u, 4u, 5u}) {  // up to 4 bytes: in the entry itself
    jpegtest::CameraLayout layout;
    EXPECT_EQ("", parseTiff(jpegtest::cameraTiff(GetParam(), subSecCount, &layout)));
    EXPECT_EQ(layout.dateTimeOriginal, offsetOf(PictureInfo.dateTimeOriginalPos));
    EXPECT_EQ(layout.subSecTimeOriginal, offsetOf(PictureInfo.subSecTimeOriginalPos));
  }
  EXPECT_STREQ("VENDOR CORPORATION", PictureInfo.make);
  EXPECT_STREQ("VENDOR D3", PictureInfo.model);
  EXPECT_STREQ("2013:12:31 23:59:58", PictureInfo.dateTimeOriginal);
  EXPECT_EQ(1, PictureInfo.orientation);
  EXPECT_FLOAT_EQ(1.0f / 250, PictureInfo.exposureSeconds);
  EXPECT_FLOAT_EQ(8.0f, PictureInfo.fNumber);
  EXPECT_FLOAT_EQ(50.0f, PictureInfo.focalLengthMm);
  EXPECT_EQ(200, PictureInfo.isoSpeed);
  ASSERT_NE(nullptr, PictureInfo.thumbnailStart);
  EXPECT_EQ(0xD8, PictureInfo.thumbnailStart[1]);
}

// IFD0 with Orientation 6 alone, ending at 26 (entries end at 22); the
// header's first-directory offset is set to firstOffset and, when that lies a
// little ahead, the directory moved there.
Bytes orientationTiff(bool bigEndian, std::uint32_t firstOffset = 8, std::size_t size = 26) {
  TiffBuilder t(bigEndian);
  t.addShort(t.addDirectory(), 0x0112, 6);
  Bytes tiff = t.build();
  if (firstOffset > 8 && firstOffset <= 16) {
    tiff.insert(tiff.begin() + 8, firstOffset - 8, 0);
  }
  t.patchU32(tiff, 4, firstOffset);
  tiff.resize(size);
  return tiff;
}

// IFD0 with one entry whose value field holds field (a 16-bit field for
// format 3), padded to 40 bytes.
Bytes entryTiff(bool bigEndian, std::uint16_t tag, std::uint16_t format, std::uint32_t count,
                std::uint32_t field) {
  TiffBuilder t(bigEndian);
  t.add(t.addDirectory(), tag, format, count,
        format == 3 ? t.u16(static_cast<std::uint16_t>(field)) : t.u32(field));
  Bytes tiff = t.build();
  tiff.resize(40, 0);
  return tiff;
}

// IFD0 with Orientation 6 whose next link or ExifOffset points past the data.
Bytes linkTiff(bool bigEndian, std::uint32_t nextBeyond, std::uint32_t exifBeyond) {
  TiffBuilder t(bigEndian);
  const int ifd0 = t.addDirectory();
  t.addShort(ifd0, 0x0112, 6);
  if (exifBeyond != 0) {
    t.addLong(ifd0, 0x8769, 0);
  }
  Bytes tiff = t.build();
  const auto size = static_cast<std::uint32_t>(tiff.size());
  if (exifBeyond != 0) {
    t.patchU32(tiff, t.entryOffset(ifd0, 0x8769) + 8, size + exifBeyond);
  }
  t.patchU32(tiff, size - 4, nextBeyond != 0 ? size + nextBeyond : 0);
  return tiff;
}

Bytes cyclicTiff(bool bigEndian) {
  TiffBuilder t(bigEndian);
  const int ifd0 = t.addDirectory();  // at 8
  const int exif = t.addDirectory();  // at 38
  t.addShort(ifd0, 0x0112, 6);
  t.addLink(ifd0, 0x8769, exif);
  t.addLink(exif, 0xA005, ifd0);  // back to IFD0
  t.setNext(exif, exif);          // and to itself
  return t.build();
}

Bytes chainTiff(bool bigEndian) {  // 40 directories, each the next of the one before
  TiffBuilder t(bigEndian);
  for (int i = 0; i < 40; ++i) {
    t.addShort(t.addDirectory(), 0x0112, 6);
    if (i > 0) {
      t.setNext(i - 1, i);
    }
  }
  return t.build();
}

Bytes patched(Bytes payload, std::size_t at, unsigned char byte) {
  payload.at(at) = byte;
  return payload;
}

struct FaultCase {
  const char* name;
  Bytes (*payload)(bool bigEndian);
  const char* err;  // after "Nonfatal Error : " on each line
  int orientation;  // 6 when IFD0 was read
};

#define TIFF(expression) [](bool b) { return jpegtest::exifPayload(expression); }
const FaultCase FAULTS[] = {
    {"exif", [](bool b) { return patched(jpegtest::exifPayload(orientationTiff(b)), 0, 'e'); },
     "Incorrect Exif header", 0},
    {"ExifX", [](bool b) { return patched(jpegtest::exifPayload(orientationTiff(b)), 5, 'X'); },
     "Incorrect Exif header", 0},
    {"short header",
     [](bool) {
       return jpegtest::exifPayload(Bytes{'M', 'M', 0, 0x2A});
     },
     "Incorrect Exif header", 0},
    {"byte order",
     [](bool b) { return patched(jpegtest::exifPayload(orientationTiff(b)), 6, 'X'); },
     "Invalid Exif alignment marker.", 0},
    {"not 0x2A",
     [](bool b) { return patched(jpegtest::exifPayload(orientationTiff(b)), b ? 9 : 8, 0x2B); },
     "Invalid Exif start (1)", 0},
    {"first IFD at 16", TIFF(orientationTiff(b, 16, 34)), "", 6},
    {"first IFD at 20", TIFF(orientationTiff(b, 20)), "Suspicious offset 20 of first IFD value", 0},
    {"count outside", TIFF(orientationTiff(b, 25)),
     "Suspicious offset 25 of first IFD value\nIllegally sized directory", 0},
    {"negative offset", TIFF(orientationTiff(b, 0xFFFFFFF0u)),
     "Suspicious offset -16 of first IFD value\nIllegally sized directory", 0},
    {"entries end at the end", TIFF(orientationTiff(b, 8, 22)), "", 6},
    {"1 byte after entries", TIFF(orientationTiff(b, 8, 23)), "Illegally sized directory", 0},
    {"2 bytes after entries", TIFF(orientationTiff(b, 8, 24)), "", 6},
    {"3 bytes after entries", TIFF(orientationTiff(b, 8, 25)), "Illegally sized directory", 0},
    {"entries past the end", TIFF(orientationTiff(b, 8, 21)), "Illegally sized directory", 0},
    {"format 0", TIFF(entryTiff(b, 0x0112, 0, 1, 6)), "", 0},
    {"format 13", TIFF(entryTiff(b, 0x0112, 13, 1, 6)), "Illegal number format 13 for tag 0112", 0},
    {"value past the end", TIFF(entryTiff(b, 0x010F, 2, 20, 40)),
     "Illegal value pointer for tag 010f", 0},
    {"value offset wraps", TIFF(entryTiff(b, 0x010F, 2, 16, 0xFFFFFFF8u)),
     "Illegal value pointer for tag 010f", 0},
    {"byte count wraps", TIFF(entryTiff(b, 0x829D, 5, 0x20000000u, 8)),
     "Illegal value pointer for tag 829d", 0},
    {"no component", TIFF(entryTiff(b, 0x0112, 3, 0, 6)), "", 0},
    {"rotation 9", TIFF(entryTiff(b, 0x0112, 3, 1, 9)), "Undefined rotation value 9", 0},
    {"short DateTimeOriginal", TIFF(entryTiff(b, 0x9003, 2, 4, 0x32303133)),
     "DateTimeOriginal value of 4 bytes too short to rewrite", 0},
    {"next link just past the data", TIFF(linkTiff(b, 19, 0)), "", 6},
    {"next link far past the data", TIFF(linkTiff(b, 20, 0)), "Illegal subdirectory link", 6},
    {"Exif link past the data", TIFF(linkTiff(b, 0, 1)),
     "Illegal exif or interop ofset directory link", 6},
    {"cyclic links", TIFF(cyclicTiff(b)),
     "Directory at offset 8 linked more than once\nDirectory at offset 38 linked more than once",
     6},
    {"40 directories", TIFF(chainTiff(b)),
     "More than 32 directories, directory at offset 584 not read", 6},
};
#undef TIFF

TEST_P(ExifParserTest, FaultsAreReportedAndTheRestIsRead) {
  for (const FaultCase& c : FAULTS) {
    std::string expected;
    std::istringstream lines(c.err);
    for (std::string line; std::getline(lines, line);) {
      expected += "Nonfatal Error : " + line + "\n";
    }
    EXPECT_EQ(expected, parse(c.payload(GetParam()))) << c.name;
    EXPECT_EQ(c.orientation, PictureInfo.orientation) << c.name;
    EXPECT_EQ(nullptr, PictureInfo.dateTimeOriginalPos) << c.name;
  }
}

TEST_P(ExifParserTest, UserCommentIsTrimmedAndCopied) {
  const std::string ascii("ASCII\0\0\0", 8);
  const struct {
    std::string value;
    const char* text;
    std::string err;
  } cases[] = {
      {ascii + "Hello   ", "Hello", ""},
      {ascii + "    ", "", ""},
      {"Caf\xE9 ", "Caf\xE9", "Nonfatal Error : Comment  contains non-ASCII 0xe9)\n"},
  };
  for (const auto& c : cases) {
    TiffBuilder t(GetParam());
    const int ifd0 = t.addDirectory();
    t.add(ifd0, 0x9286, 7, static_cast<std::uint32_t>(c.value.size()),
          Bytes(c.value.begin(), c.value.end()));
    EXPECT_EQ(c.err, parseTiff(t.build()));
    EXPECT_STREQ(c.text, PictureInfo.commentText);
    // The trailing space became a zero byte in the stored segment.
    EXPECT_EQ(0, stored_[8 + t.valueOffset(ifd0, 0x9286) + c.value.size() - 1]);
  }
}

TEST_P(ExifParserTest, ApexValuesFillOnlyWhatIsMissing) {
  const struct {
    std::uint16_t tag1;
    std::uint32_t num1, den1;
    std::uint16_t tag2;  // with the value 6
    float exposure, fNumber;
  } cases[] = {
      {0x9201, 6, 1, 0, 1.0f / 64, 0},          // ShutterSpeedValue alone
      {0x829A, 1, 250, 0x9201, 1.0f / 250, 0},  // ExposureTime wins
      {0x9202, 6, 1, 0, 0, 8},                  // ApertureValue 6 is f/8
      {0x9205, 3, 1, 0, 0, 2.828427f},          // MaxApertureValue
      {0x829D, 28, 10, 0x9202, 0, 2.8f},        // FNumber wins
  };
  for (const auto& c : cases) {
    TiffBuilder t(GetParam());
    const int ifd0 = t.addDirectory();
    t.addRational(ifd0, c.tag1, c.num1, c.den1);
    if (c.tag2 != 0) {
      t.addRational(ifd0, c.tag2, 6, 1, jpegtest::FORMAT_SRATIONAL);
    }
    EXPECT_EQ("", parseTiff(t.build()));
    EXPECT_FLOAT_EQ(c.exposure, PictureInfo.exposureSeconds) << std::hex << c.tag1;
    EXPECT_FLOAT_EQ(c.fNumber, PictureInfo.fNumber) << std::hex << c.tag1;
  }
}

TEST_P(ExifParserTest, DerivedCameraFields) {
  TiffBuilder t(GetParam());
  const int ifd0 = t.addDirectory();
  t.addShort(ifd0, 0x8827, 2);     // ISO in units of 200
  t.addShort(ifd0, 0x9209, 0x19);  // fired, auto mode
  t.addLong(ifd0, 0xA002, 4256);
  t.addLong(ifd0, 0xA003, 2832);
  t.addRational(ifd0, 0xA20E, 4256, 36);
  t.addShort(ifd0, 0xA210, 4);  // millimetres
  // 50.0f, in the file's byte order like every other value.
  t.add(ifd0, 0x920A, jpegtest::FORMAT_FLOAT, 1, t.u32(0x42480000));
  EXPECT_EQ("", parseTiff(t.build()));
  EXPECT_EQ(400, PictureInfo.isoSpeed);
  EXPECT_EQ(1, PictureInfo.flashFired);
  EXPECT_FLOAT_EQ(36.0f, PictureInfo.sensorWidthMm);
  EXPECT_FLOAT_EQ(50.0f, PictureInfo.focalLengthMm);
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, ExifParserTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "BigEndian" : "LittleEndian";
                         });

}  // namespace
