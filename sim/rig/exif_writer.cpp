#include "rig/exif_writer.h"

#include <cstddef>
#include <cstdio>

namespace rig {
namespace {

enum : std::uint16_t {
  TYPE_ASCII = 2,
  TYPE_SHORT = 3,
  TYPE_LONG = 4,
  TYPE_RATIONAL = 5,
  TYPE_UNDEFINED = 7,
};

enum : std::uint16_t {
  TAG_COMPRESSION = 0x0103,
  TAG_MAKE = 0x010F,
  TAG_MODEL = 0x0110,
  TAG_ORIENTATION = 0x0112,
  TAG_X_RESOLUTION = 0x011A,
  TAG_Y_RESOLUTION = 0x011B,
  TAG_RESOLUTION_UNIT = 0x0128,
  TAG_SOFTWARE = 0x0131,
  TAG_DATE_TIME = 0x0132,
  TAG_THUMBNAIL_OFFSET = 0x0201,
  TAG_YCBCR_POSITIONING = 0x0213,
  TAG_THUMBNAIL_LENGTH = 0x0202,
  TAG_EXPOSURE_TIME = 0x829A,
  TAG_F_NUMBER = 0x829D,
  TAG_EXIF_OFFSET = 0x8769,
  TAG_EXIF_VERSION = 0x9000,
  TAG_DATE_TIME_ORIGINAL = 0x9003,
  TAG_DATE_TIME_DIGITIZED = 0x9004,
  TAG_COMPONENTS_CONFIGURATION = 0x9101,
  TAG_USER_COMMENT = 0x9286,
  TAG_SUB_SEC_TIME = 0x9290,
  TAG_SUB_SEC_TIME_ORIGINAL = 0x9291,
  TAG_SUB_SEC_TIME_DIGITIZED = 0x9292,
  TAG_FLASHPIX_VERSION = 0xA000,
  TAG_COLOR_SPACE = 0xA001,
  TAG_PIXEL_X = 0xA002,
  TAG_PIXEL_Y = 0xA003,
};

void putU16(Bytes* out, std::uint16_t v) {
  out->push_back(static_cast<std::uint8_t>(v >> 8));
  out->push_back(static_cast<std::uint8_t>(v));
}

void putU32(Bytes* out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(static_cast<std::uint8_t>(v >> shift));
}

struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  Bytes value;  // in file order; patched later for offsets
};

class Directory {
 public:
  void ascii(std::uint16_t tag, const std::string& text) {
    Bytes value(text.begin(), text.end());
    value.push_back(0);
    add(tag, TYPE_ASCII, static_cast<std::uint32_t>(value.size()), value);
  }
  void shortValue(std::uint16_t tag, std::uint16_t v) {
    Bytes value;
    putU16(&value, v);
    add(tag, TYPE_SHORT, 1, value);
  }
  void longValue(std::uint16_t tag, std::uint32_t v) {
    Bytes value;
    putU32(&value, v);
    add(tag, TYPE_LONG, 1, value);
  }
  void rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) {
    Bytes value;
    putU32(&value, numerator);
    putU32(&value, denominator);
    add(tag, TYPE_RATIONAL, 1, value);
  }
  void undefined(std::uint16_t tag, const Bytes& value) {
    add(tag, TYPE_UNDEFINED, static_cast<std::uint32_t>(value.size()), value);
  }

  // Bytes the directory and its long values take; values start on even
  // offsets, as TIFF asks.
  std::size_t size() const {
    std::size_t total = 2 + 12 * entries_.size() + 4;
    for (const Entry& entry : entries_) {
      if (entry.value.size() > 4) total += entry.value.size() + (entry.value.size() & 1);
    }
    return total;
  }

  void setLong(std::uint16_t tag, std::uint32_t v) {
    for (Entry& entry : entries_) {
      if (entry.tag == tag) {
        entry.value.clear();
        putU32(&entry.value, v);
      }
    }
  }

  // Appends the directory, which starts at out->size() - base.
  void write(Bytes* out, std::size_t base, std::uint32_t next) const {
    const std::size_t start = out->size() - base;
    std::size_t valueAt = start + 2 + 12 * entries_.size() + 4;
    putU16(out, static_cast<std::uint16_t>(entries_.size()));
    for (const Entry& entry : entries_) {
      putU16(out, entry.tag);
      putU16(out, entry.type);
      putU32(out, entry.count);
      if (entry.value.size() > 4) {
        putU32(out, static_cast<std::uint32_t>(valueAt));
        valueAt += entry.value.size() + (entry.value.size() & 1);
      } else {
        // Short values lie in the entry, left-justified.
        for (std::size_t i = 0; i < 4; ++i) {
          out->push_back(i < entry.value.size() ? entry.value[i] : 0);
        }
      }
    }
    putU32(out, next);
    for (const Entry& entry : entries_) {
      if (entry.value.size() <= 4) continue;
      out->insert(out->end(), entry.value.begin(), entry.value.end());
      if (entry.value.size() & 1) out->push_back(0);
    }
  }

 private:
  // Entries are added in ascending tag order, as TIFF requires.
  void add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, const Bytes& value) {
    entries_.push_back(Entry{tag, type, count, value});
  }

  std::vector<Entry> entries_;
};

}  // namespace

Bytes buildExifSegment(const ExifFields& fields) {
  char subSec[8];
  std::snprintf(subSec, sizeof subSec, "%03d", fields.millisecond % 1000);

  Directory ifd0;
  ifd0.ascii(TAG_MAKE, fields.make);
  ifd0.ascii(TAG_MODEL, fields.model);
  ifd0.shortValue(TAG_ORIENTATION, 1);
  ifd0.rational(TAG_X_RESOLUTION, 300, 1);
  ifd0.rational(TAG_Y_RESOLUTION, 300, 1);
  ifd0.shortValue(TAG_RESOLUTION_UNIT, 2);
  ifd0.ascii(TAG_SOFTWARE, "skerrow-rig");
  ifd0.ascii(TAG_DATE_TIME, fields.dateTime);
  ifd0.shortValue(TAG_YCBCR_POSITIONING, 1);
  ifd0.longValue(TAG_EXIF_OFFSET, 0);

  Directory exif;
  exif.rational(TAG_EXPOSURE_TIME, 1, 250);
  exif.rational(TAG_F_NUMBER, 8, 1);
  exif.undefined(TAG_EXIF_VERSION, Bytes{'0', '2', '3', '0'});
  exif.ascii(TAG_DATE_TIME_ORIGINAL, fields.dateTime);
  exif.ascii(TAG_DATE_TIME_DIGITIZED, fields.dateTime);
  exif.undefined(TAG_COMPONENTS_CONFIGURATION, Bytes{1, 2, 3, 0});
  // A blank comment as cameras leave it: the character code, then spaces.
  Bytes comment{'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  comment.resize(44, ' ');
  exif.undefined(TAG_USER_COMMENT, comment);
  if (fields.subSeconds) {
    exif.ascii(TAG_SUB_SEC_TIME, subSec);
    exif.ascii(TAG_SUB_SEC_TIME_ORIGINAL, subSec);
    exif.ascii(TAG_SUB_SEC_TIME_DIGITIZED, subSec);
  }
  exif.undefined(TAG_FLASHPIX_VERSION, Bytes{'0', '1', '0', '0'});
  exif.shortValue(TAG_COLOR_SPACE, 1);
  exif.longValue(TAG_PIXEL_X, static_cast<std::uint32_t>(fields.width));
  exif.longValue(TAG_PIXEL_Y, static_cast<std::uint32_t>(fields.height));

  Directory ifd1;
  ifd1.shortValue(TAG_COMPRESSION, 6);
  ifd1.rational(TAG_X_RESOLUTION, 300, 1);
  ifd1.rational(TAG_Y_RESOLUTION, 300, 1);
  ifd1.shortValue(TAG_RESOLUTION_UNIT, 2);
  ifd1.longValue(TAG_THUMBNAIL_OFFSET, 0);
  ifd1.longValue(TAG_THUMBNAIL_LENGTH, static_cast<std::uint32_t>(fields.thumbnail.size()));

  const std::uint32_t ifd0At = 8;
  const std::uint32_t exifAt = ifd0At + static_cast<std::uint32_t>(ifd0.size());
  const std::uint32_t ifd1At = exifAt + static_cast<std::uint32_t>(exif.size());
  const std::uint32_t thumbnailAt = ifd1At + static_cast<std::uint32_t>(ifd1.size());
  const std::size_t tiffSize = thumbnailAt + fields.thumbnail.size();
  // Marker, length field and "Exif\0\0" come before the TIFF data, and the
  // length field counts itself.
  const std::size_t segmentLength = 2 + 6 + tiffSize;
  if (segmentLength > 0xFFFF) return Bytes();
  ifd0.setLong(TAG_EXIF_OFFSET, exifAt);
  ifd1.setLong(TAG_THUMBNAIL_OFFSET, thumbnailAt);

  Bytes out;
  out.reserve(2 + segmentLength);
  out.push_back(0xFF);
  out.push_back(0xE1);
  putU16(&out, static_cast<std::uint16_t>(segmentLength));
  for (char c : {'E', 'x', 'i', 'f'}) out.push_back(static_cast<std::uint8_t>(c));
  out.push_back(0);
  out.push_back(0);
  const std::size_t base = out.size();
  out.push_back('M');
  out.push_back('M');
  putU16(&out, 0x002A);
  putU32(&out, ifd0At);
  ifd0.write(&out, base, ifd1At);
  exif.write(&out, base, 0);
  ifd1.write(&out, base, 0);
  out.insert(out.end(), fields.thumbnail.begin(), fields.thumbnail.end());
  return out;
}

}  // namespace rig
