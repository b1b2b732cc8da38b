// A camera-style Exif APP1 segment, big-endian ("MM") as many cameras write
// it: IFD0 with Make and Model, an Exif directory with the capture time to
// the millisecond, and IFD1 with a JPEG thumbnail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rig {

using Bytes = std::vector<std::uint8_t>;

struct ExifFields {
  std::string make;
  std::string model;
  std::string dateTime;    // "YYYY:MM:DD HH:MM:SS", the camera's clock
  int millisecond = 0;     // 0-999, written as three digits
  bool subSeconds = true;  // false: a clock of whole seconds, no SubSecTime tags at all
  int width = 0;
  int height = 0;
  Bytes thumbnail;  // a whole JPEG file
};

// The whole APP1 segment: 0xFF 0xE1, the length field, "Exif\0\0", the TIFF
// data. Empty when it would not fit the 65535-byte length field.
//
// TIFF data layout (offsets from the "MM" mark):
//   0   "MM" 0x002A, offset of IFD0 (8)
//   8   IFD0: count, 12-byte entries, offset of IFD1; then its long values
//       Exif IFD: count, entries, 0; then its long values
//       IFD1: count, entries, 0; then its long values
//       thumbnail JPEG
Bytes buildExifSegment(const ExifFields& fields);

}  // namespace rig
