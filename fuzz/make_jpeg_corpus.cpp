// Writes the seed corpus of fuzz_jpeg into the directory named on the command
// line: small camera-style JPEGs in both byte orders, one with the capture
// time in three directories, and a few damaged ones.
#include <cstdio>
#include <fstream>
#include <string>

#include "jpeg/jpeg_builder.h"

namespace {

using jpegtest::Bytes;
using jpegtest::concat;

bool write(const std::string& dir, const char* name, const Bytes& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const Bytes big = jpegtest::cameraJpeg(32, true, 4);
  const Bytes little = jpegtest::cameraJpeg(32, false, 3);
  // The camera head without the thumbnail and ICC data, to keep seeds small.
  jpegtest::TiffBuilder t(true);
  const int ifd0 = t.addDirectory();
  const int exif = t.addDirectory();
  t.addAscii(ifd0, 0x010F, "VENDOR");
  t.addShort(ifd0, 0x0112, 1);
  t.addLink(ifd0, 0x8769, exif);
  t.addRational(exif, 0x829A, 1, 250);
  t.addAscii(exif, 0x9003, "2013:12:31 23:59:58");
  t.add(exif, 0x9291, jpegtest::FORMAT_ASCII, 4, Bytes{'0', '0', '0', 0});
  t.add(exif, 0x9286, jpegtest::FORMAT_UNDEFINED, 12,
        Bytes{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'i', ' ', ' '});
  const Bytes small =
      concat({jpegtest::soi(), jpegtest::segment(0xE1, jpegtest::exifPayload(t.build())),
              jpegtest::segment(0xFE, Bytes{'c', '\r', '\n'}), jpegtest::frameHeader(8, 8, 3),
              jpegtest::sosAndScan(8)});
  const Bytes withApp0 = concat({jpegtest::soi(), jpegtest::segment(0xE0, Bytes(14, 0)),
                                 Bytes(small.begin() + 2, small.end())});
  const Bytes copies = jpegtest::jpegWithTiff(jpegtest::timeCopiesTiff(false), 8);
  const bool ok = write(dir, "camera-mm.jpg", big) && write(dir, "camera-ii.jpg", little) &&
                  write(dir, "time-copies.jpg", copies) && write(dir, "small.jpg", small) &&
                  write(dir, "app0-first.jpg", withApp0) &&
                  write(dir, "truncated.jpg", Bytes(small.begin(), small.begin() + 60));
  return ok ? 0 : 1;
}
