// Builds synthetic JPEG files and Exif data, in either byte order, for the
// JPEG layer's tests, fuzz seeds and benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jpegtest {

using Bytes = std::vector<unsigned char>;

enum ExifFormat : std::uint16_t {
  FORMAT_BYTE = 1,
  FORMAT_ASCII = 2,
  FORMAT_SHORT = 3,
  FORMAT_LONG = 4,
  FORMAT_RATIONAL = 5,
  FORMAT_UNDEFINED = 7,
  FORMAT_SRATIONAL = 10,
  FORMAT_FLOAT = 11,
  FORMAT_DOUBLE = 12,
};

// The TIFF structure of an Exif segment: the 8-byte header, then every
// directory in the order added (IFD0 first), then the values longer than 4
// bytes. Offsets count from the TIFF header, as in the file.
class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian) : bigEndian_(bigEndian) {}

  int addDirectory();
  // value holds the bytes in file order; it lies in the entry when
  // count x unit size is at most 4, else behind the directories.
  void add(int dir, std::uint16_t tag, std::uint16_t format, std::uint32_t count, Bytes value);
  void addAscii(int dir, std::uint16_t tag, const std::string& text);  // with its zero byte
  void addShort(int dir, std::uint16_t tag, std::uint16_t value);
  void addLong(int dir, std::uint16_t tag, std::uint32_t value);
  void addRational(int dir, std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator,
                   std::uint16_t format = FORMAT_RATIONAL);
  void addLink(int dir, std::uint16_t tag, int child);  // ExifOffset, InteroperabilityOffset
  void setNext(int dir, int next);
  void setThumbnail(int dir, const Bytes& jpeg);  // ThumbnailOffset/Length and the data

  Bytes build();

  // After build(): where a directory, an entry and an entry's value bytes lie.
  std::uint32_t directoryOffset(int dir) const { return dirs_[dir].offset; }
  std::uint32_t entryOffset(int dir, std::uint16_t tag) const;
  std::uint32_t valueOffset(int dir, std::uint16_t tag) const;

  Bytes u16(std::uint16_t v) const;
  Bytes u32(std::uint32_t v) const;
  void patchU16(Bytes& tiff, std::size_t offset, std::uint16_t v) const;
  void patchU32(Bytes& tiff, std::size_t offset, std::uint32_t v) const;

 private:
  struct Entry {
    std::uint16_t tag, format;
    std::uint32_t count;
    Bytes value;
    int link = -1;  // directory whose offset is the value
    bool isThumbnailOffset = false;
    std::uint32_t valueOffset = 0;
  };
  struct Directory {
    std::vector<Entry> entries;
    int next = -1;
    Bytes thumbnail;
    std::uint32_t offset = 0;
    std::uint32_t thumbnailOffset = 0;
  };
  const Entry& find(int dir, std::uint16_t tag) const;

  bool bigEndian_;
  std::vector<Directory> dirs_;
};

Bytes concat(std::initializer_list<Bytes> parts);
Bytes exifPayload(const Bytes& tiff);  // "Exif", two zeros, TIFF data
// A segment as the reader stores it: big-endian length field, then payload.
Bytes storedSegment(const Bytes& payload);
// A segment in the stream: 0xFF, marker, length field, payload.
Bytes segment(std::uint8_t marker, const Bytes& payload);

Bytes soi();
Bytes frameHeader(std::uint16_t height, std::uint16_t width, std::uint8_t components);  // SOF0
Bytes quantTable();                                                                     // DQT
Bytes huffmanTable();                                                                   // DHT
Bytes iccProfile();  // APP2 ICC_PROFILE
// SOS header, scanBytes of entropy-coded-looking data without markers, EOI.
Bytes sosAndScan(std::size_t scanBytes);

// Where cameraTiff() put the values that stamping changes, from the TIFF base.
struct CameraLayout {
  std::uint32_t dateTimeOriginal;    // 20-byte value
  std::uint32_t subSecTimeOriginal;  // subSecCount bytes
  std::uint32_t userComment;         // "ASCII", 3 zeros, 8 spaces
};
constexpr std::size_t USER_COMMENT_BYTES = 16;

// A camera's Exif data: IFD0 with Make, Model, Orientation and DateTime; an
// Exif directory with exposure values, DateTimeOriginal "2013:12:31
// 23:59:58", SubSecTimeOriginal of subSecCount bytes ("000" cut or padded
// with zeros), DateTimeDigitized, SubSecTime, a blank UserComment and a
// A maker-style MakerNote; an interoperability directory; IFD1 with a thumbnail.
Bytes cameraTiff(bool bigEndian, std::uint32_t subSecCount = 4, CameraLayout* layout = nullptr);

// SOI, APP1 Exif (from cameraTiff), APP2 ICC, DQT, DHT, SOF0, SOS, scan, EOI.
Bytes cameraJpeg(std::size_t scanBytes, bool bigEndian = true, std::uint32_t subSecCount = 4,
                 CameraLayout* layout = nullptr);
// Where cameraJpeg() puts the TIFF base: after SOI, marker, length, "Exif\0\0".
constexpr std::size_t CAMERA_TIFF_BASE = 12;

// SOI, APP1 Exif with tiff, DQT, DHT, SOF0, SOS, scan, EOI; the TIFF base at
// CAMERA_TIFF_BASE.
Bytes jpegWithTiff(const Bytes& tiff, std::size_t scanBytes);

// Where timeCopiesTiff() put each copy, from the TIFF base: IFD0, Exif, IFD1.
struct TimeCopiesLayout {
  std::uint32_t dateTimeOriginal[3];    // 20-byte values
  std::uint32_t subSecTimeOriginal[3];  // "50" and a zero, inside the entry
};

// Exif data as some cameras write it: DateTimeOriginal "2013:12:31 23:59:58"
// and SubSecTimeOriginal "50" in IFD0, in the Exif directory and in IFD1,
// with Make, Model, DateTime and DateTimeDigitized beside them.
Bytes timeCopiesTiff(bool bigEndian, TimeCopiesLayout* layout = nullptr);

}  // namespace jpegtest
