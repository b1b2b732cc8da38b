#include "jpeg/exif_tags.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "jpeg/exif_parser.h"
#include "jpeg/exif_values.h"
#include "jpeg/picture_info.h"

namespace jpeg {

namespace {

// Per-segment values that only make sense together once the segment is done.
int widestExifImageDimension = 0;
double focalPlaneXResolution = 0;
double focalPlaneUnitMm = 0;

constexpr int USER_COMMENT_LIMIT = 199;

// Float fields are computed in double; past float's range they become
// infinite rather than relying on an out-of-range conversion.
float toFloat(double number) {
  if (number > FLT_MAX) {
    return HUGE_VALF;
  }
  if (number < -FLT_MAX) {
    return -HUGE_VALF;
  }
  return static_cast<float>(number);
}

double powerOfTwo(double exponent) { return std::exp(exponent * std::log(2.0)); }

// Copies at most limit characters, stopping at a zero byte and at the end of
// the value; dest always ends with a zero.
void copyText(char* dest, std::uint64_t limit, const unsigned char* src, std::uint64_t srcLength) {
  std::uint64_t n = 0;
  while (n < limit && n < srcLength && src[n] != 0) {
    dest[n] = static_cast<char>(src[n]);
    ++n;
  }
  dest[n] = '\0';
}

// Layout of a UserComment value: an 8-byte character-code field ("ASCII"
// and three zeros, "UNICODE" and a zero, or undefined), then the text.
void recordUserComment(unsigned char* value, std::uint64_t byteCount) {
  // Trailing spaces become zero bytes in the stored segment, which the saved
  // image carries.
  for (std::uint64_t i = byteCount; i > 0 && value[i - 1] == ' '; --i) {
    value[i - 1] = 0;
  }

  if (byteCount >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
    for (std::uint64_t i = 5; i < 10 && i < byteCount; ++i) {
      if (value[i] != 0 && value[i] != ' ') {
        copyText(PictureInfo.commentText, USER_COMMENT_LIMIT, value + i, byteCount - i);
        return;
      }
    }
    return;
  }

  for (std::uint64_t i = 0; i < byteCount && value[i] != 0; ++i) {
    if (value[i] > 0x7F) {
      warnNonfatal("Comment  contains non-ASCII 0x%02x)", value[i], 0);
      break;
    }
  }
  copyText(PictureInfo.commentText, USER_COMMENT_LIMIT, value, byteCount);
}

// Tags whose action needs the value as a number.
void recordNumericTag(unsigned tag, double number) {
  switch (tag) {
    case 0x0112: {  // Orientation
      int orientation = truncatedInt(number);
      if (orientation < 1 || orientation > 8) {
        warnNonfatal("Undefined rotation value %d", orientation, 0);
        orientation = 0;
      }
      PictureInfo.orientation = orientation;
      break;
    }
    case 0x829A:  // ExposureTime
      PictureInfo.exposureSeconds = toFloat(number);
      break;
    case 0x829D:  // FNumber
      PictureInfo.fNumber = toFloat(number);
      break;
    case 0x8822:  // ExposureProgram
      PictureInfo.exposureProgram = truncatedInt(number);
      break;
    case 0x8827: {  // ISOSpeedRatings; small values are taken as a multiple of ISO 200
      long long iso = truncatedInt(number);
      if (iso < 50) {
        iso = iso * 200 < INT_MIN ? INT_MIN : iso * 200;
      }
      PictureInfo.isoSpeed = static_cast<int>(iso);
      break;
    }
    case 0x9102:  // CompressedBitsPerPixel
      PictureInfo.compressedBitsPerPixel = truncatedInt(number);
      break;
    case 0x9201:  // ShutterSpeedValue (APEX), only when ExposureTime gave nothing
      if (PictureInfo.exposureSeconds == 0) {
        PictureInfo.exposureSeconds = toFloat(powerOfTwo(-number));
      }
      break;
    case 0x9202:  // ApertureValue (APEX)
    case 0x9205:  // MaxApertureValue
      if (PictureInfo.fNumber == 0) {
        PictureInfo.fNumber = toFloat(powerOfTwo(number * 0.5));
      }
      break;
    case 0x9204:  // ExposureBiasValue
      PictureInfo.exposureBias = toFloat(number);
      break;
    case 0x9206:  // SubjectDistance
      PictureInfo.subjectDistance = toFloat(number);
      break;
    case 0x9207:  // MeteringMode
      PictureInfo.meteringMode = truncatedInt(number);
      break;
    case 0x9208:  // LightSource
      PictureInfo.lightSource = truncatedInt(number);
      break;
    case 0x9209:  // Flash: the low three bits say whether it fired
      PictureInfo.flashFired = (truncatedInt(number) & 7) != 0 ? 1 : 0;
      break;
    case 0x920A:  // FocalLength
      PictureInfo.focalLengthMm = toFloat(number);
      break;
    case 0xA002:  // ExifImageWidth
    case 0xA003:  // ExifImageLength
      if (truncatedInt(number) > widestExifImageDimension) {
        widestExifImageDimension = truncatedInt(number);
      }
      break;
    case 0xA20E:  // FocalPlaneXResolution
      focalPlaneXResolution = number;
      break;
    case 0xA210:  // FocalPlaneResolutionUnit
      switch (truncatedInt(number)) {
        case 1:
        case 2:
          focalPlaneUnitMm = 25.4;  // inch
          break;
        case 3:
          focalPlaneUnitMm = 10;  // centimetre
          break;
        case 4:
          focalPlaneUnitMm = 1;  // millimetre
          break;
        case 5:
          focalPlaneUnitMm = 0.001;  // micrometre
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

}  // namespace

int truncatedInt(double number) {
  if (std::isnan(number)) {
    return 0;
  }
  if (number >= double(INT_MAX)) {
    return INT_MAX;
  }
  if (number <= double(INT_MIN)) {
    return INT_MIN;
  }
  return static_cast<int>(number);
}

unsigned truncatedUnsigned(double number) {
  if (std::isnan(number) || number <= 0) {
    return 0;
  }
  if (number >= double(UINT_MAX)) {
    return UINT_MAX;
  }
  return static_cast<unsigned>(number);
}

bool exifNumber(int format, const unsigned char* value, std::uint64_t byteCount, double* number) {
  unsigned unit = exifUnitSize(format);
  if (unit == 0 || byteCount < unit) {
    return false;
  }
  *number = exifValueAsNumber(value, format);
  return true;
}

void resetExifTagState() {
  widestExifImageDimension = 0;
  focalPlaneXResolution = 0;
  focalPlaneUnitMm = 0;
}

void recordExifTag(unsigned tag, int format, unsigned char* value, std::uint64_t byteCount) {
  switch (tag) {
    case 0x010F:  // Make
      copyText(PictureInfo.make, sizeof PictureInfo.make - 1, value, byteCount);
      return;
    case 0x0110:  // Model
      copyText(PictureInfo.model, sizeof PictureInfo.model - 1, value, byteCount);
      return;
    case 0x9286:  // UserComment
      recordUserComment(value, byteCount);
      return;
    default:
      break;
  }
  double number = 0;
  if (exifNumber(format, value, byteCount, &number)) {
    recordNumericTag(tag, number);
  }
}

void finishExifTags() {
  if (focalPlaneXResolution != 0) {
    PictureInfo.sensorWidthMm =
        toFloat(widestExifImageDimension * focalPlaneUnitMm / focalPlaneXResolution);
  }
}

}  // namespace jpeg
