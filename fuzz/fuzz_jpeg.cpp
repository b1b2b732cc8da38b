// Runs the whole per-image sequence (scan, Exif parse, stamp, write-back,
// release) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "jpeg/image_stamp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return 0;
  }
  // A heap block of exactly the input's size, so that any read or write past
  // the image is caught.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size == 0 ? 1 : size]);
  if (size != 0) {
    std::memcpy(buffer.get(), data, size);
  }
  const bool stamped = jpeg::stampImageBuffer(buffer.get(), static_cast<int>(size));
  // A buffer that is not a readable JPEG must be saved exactly as delivered.
  if (!stamped && size != 0 && std::memcmp(buffer.get(), data, size) != 0) {
    std::abort();
  }
  return 0;
}
