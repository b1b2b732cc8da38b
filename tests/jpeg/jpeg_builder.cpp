#include "jpeg/jpeg_builder.h"

#include <stdexcept>

namespace jpegtest {

namespace {

std::uint32_t unitSize(std::uint16_t format) {
  static const std::uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return format < 13 ? sizes[format] : 1;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

int TiffBuilder::addDirectory() {
  dirs_.emplace_back();
  return static_cast<int>(dirs_.size()) - 1;
}

void TiffBuilder::add(int dir, std::uint16_t tag, std::uint16_t format, std::uint32_t count,
                      Bytes value) {
  dirs_[dir].entries.push_back(Entry{tag, format, count, std::move(value)});
}

void TiffBuilder::addAscii(int dir, std::uint16_t tag, const std::string& s) {
  Bytes value = text(s);
  value.push_back(0);
  add(dir, tag, FORMAT_ASCII, static_cast<std::uint32_t>(value.size()), value);
}

void TiffBuilder::addShort(int dir, std::uint16_t tag, std::uint16_t value) {
  add(dir, tag, FORMAT_SHORT, 1, u16(value));
}

void TiffBuilder::addLong(int dir, std::uint16_t tag, std::uint32_t value) {
  add(dir, tag, FORMAT_LONG, 1, u32(value));
}

void TiffBuilder::addRational(int dir, std::uint16_t tag, std::uint32_t numerator,
                              std::uint32_t denominator, std::uint16_t format) {
  add(dir, tag, format, 1, concat({u32(numerator), u32(denominator)}));
}

void TiffBuilder::addLink(int dir, std::uint16_t tag, int child) {
  add(dir, tag, FORMAT_LONG, 1, u32(0));
  dirs_[dir].entries.back().link = child;
}

void TiffBuilder::setNext(int dir, int next) { dirs_[dir].next = next; }

void TiffBuilder::setThumbnail(int dir, const Bytes& jpeg) {
  dirs_[dir].thumbnail = jpeg;
  addLong(dir, 0x0201, 0);
  dirs_[dir].entries.back().isThumbnailOffset = true;
  addLong(dir, 0x0202, static_cast<std::uint32_t>(jpeg.size()));
}

Bytes TiffBuilder::build() {
  // Pass 1: offsets of the directories, then of the long values.
  std::uint32_t at = 8;
  for (Directory& d : dirs_) {
    d.offset = at;
    at += 2 + 12 * static_cast<std::uint32_t>(d.entries.size()) + 4;
  }
  for (Directory& d : dirs_) {
    for (Entry& e : d.entries) {
      if (std::uint64_t(e.count) * unitSize(e.format) > 4) {
        e.valueOffset = at;
        at += static_cast<std::uint32_t>(e.value.size() + (e.value.size() & 1));
      }
    }
    d.thumbnailOffset = at;
    at += static_cast<std::uint32_t>(d.thumbnail.size());
  }

  // Pass 2: the bytes.
  Bytes out = bigEndian_ ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  out = concat({out, u16(0x2A), u32(8)});
  for (const Directory& d : dirs_) {
    out = concat({out, u16(static_cast<std::uint16_t>(d.entries.size()))});
    for (const Entry& e : d.entries) {
      out = concat({out, u16(e.tag), u16(e.format), u32(e.count)});
      Bytes field;
      if (e.link >= 0) {
        field = u32(dirs_[e.link].offset);
      } else if (e.isThumbnailOffset) {
        field = u32(d.thumbnailOffset);
      } else if (std::uint64_t(e.count) * unitSize(e.format) > 4) {
        field = u32(e.valueOffset);
      } else {
        field = e.value;
      }
      field.resize(4, 0);
      out = concat({out, field});
    }
    out = concat({out, u32(d.next >= 0 ? dirs_[d.next].offset : 0)});
  }
  for (const Directory& d : dirs_) {
    for (const Entry& e : d.entries) {
      if (std::uint64_t(e.count) * unitSize(e.format) > 4) {
        out = concat({out, e.value});
        if (e.value.size() & 1) {
          out.push_back(0);
        }
      }
    }
    out = concat({out, d.thumbnail});
  }
  return out;
}

const TiffBuilder::Entry& TiffBuilder::find(int dir, std::uint16_t tag) const {
  for (const Entry& e : dirs_[dir].entries) {
    if (e.tag == tag) {
      return e;
    }
  }
  throw std::logic_error("no such tag in the test directory");
}

std::uint32_t TiffBuilder::entryOffset(int dir, std::uint16_t tag) const {
  const Directory& d = dirs_[dir];
  for (std::size_t i = 0; i < d.entries.size(); ++i) {
    if (d.entries[i].tag == tag) {
      return d.offset + 2 + 12 * static_cast<std::uint32_t>(i);
    }
  }
  throw std::logic_error("no such tag in the test directory");
}

std::uint32_t TiffBuilder::valueOffset(int dir, std::uint16_t tag) const {
  const Entry& e = find(dir, tag);
  return std::uint64_t(e.count) * unitSize(e.format) > 4 ? e.valueOffset
                                                         : entryOffset(dir, tag) + 8;
}

Bytes TiffBuilder::u16(std::uint16_t v) const {
  Bytes b{static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  return bigEndian_ ? b : Bytes{b[1], b[0]};
}

Bytes TiffBuilder::u32(std::uint32_t v) const {
  Bytes b{static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  return bigEndian_ ? b : Bytes{b[3], b[2], b[1], b[0]};
}

void TiffBuilder::patchU16(Bytes& tiff, std::size_t offset, std::uint16_t v) const {
  Bytes b = u16(v);
  tiff.at(offset) = b[0];
  tiff.at(offset + 1) = b[1];
}

void TiffBuilder::patchU32(Bytes& tiff, std::size_t offset, std::uint32_t v) const {
  Bytes b = u32(v);
  for (int i = 0; i < 4; ++i) {
    tiff.at(offset + i) = b[i];
  }
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

Bytes exifPayload(const Bytes& tiff) { return concat({Bytes{'E', 'x', 'i', 'f', 0, 0}, tiff}); }

Bytes storedSegment(const Bytes& payload) {
  const std::size_t length = payload.size() + 2;
  if (length > 0xFFFF) {
    throw std::length_error("segment too long");
  }
  return concat({Bytes{static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)},
                 payload});
}

Bytes segment(std::uint8_t marker, const Bytes& payload) {
  return concat({Bytes{0xFF, marker}, storedSegment(payload)});
}

Bytes soi() { return Bytes{0xFF, 0xD8}; }

Bytes frameHeader(std::uint16_t height, std::uint16_t width, std::uint8_t components) {
  Bytes p{8,
          static_cast<unsigned char>(height >> 8),
          static_cast<unsigned char>(height),
          static_cast<unsigned char>(width >> 8),
          static_cast<unsigned char>(width),
          components};
  for (std::uint8_t c = 1; c <= components; ++c) {
    p.insert(p.end(), {c, static_cast<unsigned char>(c == 1 ? 0x22 : 0x11),
                       static_cast<unsigned char>(c == 1 ? 0 : 1)});
  }
  return segment(0xC0, p);
}

Bytes quantTable() {
  Bytes p{0x00};
  for (int i = 0; i < 64; ++i) {
    p.push_back(static_cast<unsigned char>(1 + i / 4));
  }
  return segment(0xDB, p);
}

Bytes huffmanTable() {
  Bytes p{0x00, 1};  // DC table 0: one code of length 1
  p.resize(17, 0);
  p.push_back(0);
  return segment(0xC4, p);
}

Bytes iccProfile() {
  // Header, one tag (the media white point, D50), its XYZ data.
  Bytes profile(164, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      profile[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
    }
  };
  auto putText = [&](std::size_t at, const char* s) {
    for (std::size_t i = 0; s[i] != 0; ++i) {
      profile[at + i] = static_cast<unsigned char>(s[i]);
    }
  };
  put32(0, 164);
  put32(8, 0x02100000);
  putText(12, "mntr");
  putText(16, "RGB ");
  putText(20, "XYZ ");
  putText(36, "acsp");
  put32(128, 1);
  putText(132, "wtpt");
  put32(136, 144);
  put32(140, 20);
  putText(144, "XYZ ");
  put32(152, 0x0000F6D6);
  put32(156, 0x00010000);
  put32(160, 0x0000D32D);
  return segment(0xE2, concat({text("ICC_PROFILE"), Bytes{0, 1, 1}, profile}));
}

Bytes sosAndScan(std::size_t scanBytes) {
  Bytes out = segment(0xDA, Bytes{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  std::uint32_t state = 12345;
  out.reserve(out.size() + scanBytes + 2);
  for (std::size_t i = 0; i < scanBytes; ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned char b = static_cast<unsigned char>(state >> 16);
    out.push_back(b == 0xFF ? 0x7F : b);
  }
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

Bytes cameraTiff(bool bigEndian, std::uint32_t subSecCount, CameraLayout* layout) {
  TiffBuilder t(bigEndian);
  const int ifd0 = t.addDirectory();
  const int exif = t.addDirectory();
  const int interop = t.addDirectory();
  const int ifd1 = t.addDirectory();
  t.addAscii(ifd0, 0x010F, "VENDOR CORPORATION");
  t.addAscii(ifd0, 0x0110, "VENDOR D3");
  t.addShort(ifd0, 0x0112, 1);
  t.addRational(ifd0, 0x011A, 300, 1);
  t.addRational(ifd0, 0x011B, 300, 1);
  t.addShort(ifd0, 0x0128, 2);
  t.addAscii(ifd0, 0x0131, "Ver.2.00");
  t.addAscii(ifd0, 0x0132, "2013:12:31 23:59:58");
  t.addLink(ifd0, 0x8769, exif);
  t.setNext(ifd0, ifd1);

  t.addRational(exif, 0x829A, 1, 250);
  t.addRational(exif, 0x829D, 8, 1);
  t.addShort(exif, 0x8822, 1);
  t.addShort(exif, 0x8827, 200);
  t.addAscii(exif, 0x9003, "2013:12:31 23:59:58");
  t.addAscii(exif, 0x9004, "2013:12:31 23:59:58");
  t.addRational(exif, 0x9204, 0, 6, FORMAT_SRATIONAL);
  t.addShort(exif, 0x9207, 5);
  t.addShort(exif, 0x9209, 0);
  t.addRational(exif, 0x920A, 500, 10);
  Bytes makerNote = text("Maker");
  makerNote.insert(makerNote.end(),
                   {0, 2, 0x10, 0, 0, 'M', 'M', 0, 0x2A, 0, 0,   0,   8,         // TIFF
                    0, 1, 0,    1, 0, 7,   0,   0, 0,    4, '0', '2', '1', '0',  // version
                    0, 0, 0,    0});
  makerNote.resize(96, 0x5A);
  t.add(exif, 0x927C, FORMAT_UNDEFINED, static_cast<std::uint32_t>(makerNote.size()), makerNote);
  t.add(exif, 0x9286, FORMAT_UNDEFINED, USER_COMMENT_BYTES,
        concat({text("ASCII"), Bytes{0, 0, 0}, text("        ")}));
  t.add(exif, 0x9290, FORMAT_ASCII, 3, text("50"));
  Bytes subSec = text("000");
  subSec.resize(subSecCount, 0);
  t.add(exif, 0x9291, FORMAT_ASCII, subSecCount, subSec);
  t.add(exif, 0x9292, FORMAT_ASCII, 3, text("50"));
  t.addShort(exif, 0xA002, 4256);
  t.addShort(exif, 0xA003, 2832);
  t.addLink(exif, 0xA005, interop);

  t.addAscii(interop, 0x0001, "R98");
  t.add(interop, 0x0002, FORMAT_UNDEFINED, 4, text("0100"));

  t.addShort(ifd1, 0x0103, 6);
  t.addRational(ifd1, 0x011A, 300, 1);
  t.addRational(ifd1, 0x011B, 300, 1);
  t.addShort(ifd1, 0x0128, 2);
  t.setThumbnail(ifd1, concat({soi(), quantTable(), frameHeader(120, 160, 3), huffmanTable(),
                               sosAndScan(400)}));
  Bytes tiff = t.build();
  if (layout != nullptr) {
    *layout = CameraLayout{t.valueOffset(exif, 0x9003), t.valueOffset(exif, 0x9291),
                           t.valueOffset(exif, 0x9286)};
  }
  return tiff;
}

Bytes cameraJpeg(std::size_t scanBytes, bool bigEndian, std::uint32_t subSecCount,
                 CameraLayout* layout) {
  return concat({soi(), segment(0xE1, exifPayload(cameraTiff(bigEndian, subSecCount, layout))),
                 iccProfile(), quantTable(), huffmanTable(), frameHeader(2832, 4256, 3),
                 sosAndScan(scanBytes)});
}

Bytes jpegWithTiff(const Bytes& tiff, std::size_t scanBytes) {
  return concat({soi(), segment(0xE1, exifPayload(tiff)), quantTable(), huffmanTable(),
                 frameHeader(64, 64, 3), sosAndScan(scanBytes)});
}

Bytes timeCopiesTiff(bool bigEndian, TimeCopiesLayout* layout) {
  TiffBuilder t(bigEndian);
  const int dirs[] = {t.addDirectory(), t.addDirectory(), t.addDirectory()};
  const int ifd0 = dirs[0];
  const int exif = dirs[1];
  const int ifd1 = dirs[2];
  t.addAscii(ifd0, 0x010F, "VENDOR CORPORATION");
  t.addAscii(ifd0, 0x0110, "VENDOR D3");
  t.addAscii(ifd0, 0x0132, "2013:12:31 23:59:58");
  t.addLink(ifd0, 0x8769, exif);
  t.setNext(ifd0, ifd1);
  t.addShort(ifd1, 0x0103, 6);
  // Each directory's tags in ascending order, as readers expect.
  for (int dir : dirs) {
    t.addAscii(dir, 0x9003, "2013:12:31 23:59:58");
  }
  t.addAscii(exif, 0x9004, "2013:12:31 23:59:58");
  for (int dir : dirs) {
    t.addAscii(dir, 0x9291, "50");
  }
  t.addAscii(exif, 0x9292, "50");
  Bytes tiff = t.build();
  if (layout != nullptr) {
    for (int i = 0; i < 3; ++i) {
      layout->dateTimeOriginal[i] = t.valueOffset(dirs[i], 0x9003);
      layout->subSecTimeOriginal[i] = t.valueOffset(dirs[i], 0x9291);
    }
  }
  return tiff;
}

}  // namespace jpegtest
