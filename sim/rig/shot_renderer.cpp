#include "rig/shot_renderer.h"

#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "rig/exif_writer.h"

namespace rig {
namespace {

constexpr int kThumbnailWidth = 160;
constexpr int kThumbnailHeight = 120;

// A 5 x 7 bitmap font for the characters a frame caption uses; each row is
// five bits, the leftmost pixel in bit 4.
struct Glyph {
  char c;
  std::uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

const Glyph* findGlyph(char c) {
  for (const Glyph& glyph : kFont) {
    if (glyph.c == c) return &glyph;
  }
  return nullptr;  // drawn as a space
}

class Canvas {
 public:
  Canvas(int width, int height, std::uint8_t* pixels)
      : width_(width), height_(height), pixels_(pixels) {}

  // A diagonal gradient, with a deterministic texture on top when asked:
  // flat pictures compress to a fraction of a real camera's file size.
  void background(int noise, std::uint64_t frame) {
    std::uint32_t state = static_cast<std::uint32_t>(frame * 2654435761u) | 1u;
    for (int y = 0; y < height_; ++y) {
      std::uint8_t* row = pixels_ + static_cast<std::size_t>(y) * width_ * 3;
      for (int x = 0; x < width_; ++x) {
        int r = 40 + (x * 120) / width_;
        int g = 60 + (y * 120) / height_;
        int b = 110 + ((x + y) * 60) / (width_ + height_);
        if (noise > 0) {
          state ^= state << 13;
          state ^= state >> 17;
          state ^= state << 5;
          const int delta = static_cast<int>(state % (2u * noise + 1u)) - noise;
          r += delta;
          g += delta;
          b += delta;
        }
        row[3 * x] = clamp(r);
        row[3 * x + 1] = clamp(g);
        row[3 * x + 2] = clamp(b);
      }
    }
  }

  // Draws text with its top left corner at (x, y), each font pixel a
  // scale x scale square; what falls outside the picture is left out.
  void text(const std::string& line, int x, int y, int scale) {
    for (char c : line) {
      const Glyph* glyph = findGlyph(c);
      if (glyph != nullptr) {
        for (int row = 0; row < 7; ++row) {
          for (int col = 0; col < 5; ++col) {
            if (glyph->rows[row] & (0x10 >> col)) {
              fill(x + col * scale, y + row * scale, scale, scale);
            }
          }
        }
      }
      x += 6 * scale;
    }
  }

 private:
  static std::uint8_t clamp(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }

  void fill(int x0, int y0, int w, int h) {
    for (int y = y0; y < y0 + h; ++y) {
      if (y < 0 || y >= height_) continue;
      for (int x = x0; x < x0 + w; ++x) {
        if (x < 0 || x >= width_) continue;
        std::uint8_t* p = pixels_ + (static_cast<std::size_t>(y) * width_ + x) * 3;
        p[0] = p[1] = p[2] = 255;
      }
    }
  }

  int width_;
  int height_;
  std::uint8_t* pixels_;
};

// Owns a libjpeg-turbo compressor.
class Compressor {
 public:
  Compressor() : handle_(tjInitCompress()) {}
  ~Compressor() {
    if (handle_ != nullptr) tjDestroy(handle_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  // Compresses RGB rows into *out. False, with one line on standard
  // error, on failure.
  bool compress(const std::uint8_t* pixels, int width, int height, int quality,
                std::vector<std::uint8_t>* out) {
    if (handle_ == nullptr) {
      std::fprintf(stderr, "skerrow-rig: cannot start the JPEG encoder\n");
      return false;
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (tjCompress2(handle_, pixels, width, 0, height, TJPF_RGB, &buffer, &size, TJSAMP_420,
                    quality, TJFLAG_FASTDCT) != 0) {
      std::fprintf(stderr, "skerrow-rig: JPEG encoder failed: %s\n", tjGetErrorStr2(handle_));
      tjFree(buffer);
      return false;
    }
    out->assign(buffer, buffer + size);
    tjFree(buffer);
    return true;
  }

 private:
  tjhandle handle_;
};

bool renderPicture(const RenderRequest& request, int width, int height, int quality,
                   Compressor* compressor, std::vector<std::uint8_t>* out) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  Canvas canvas(width, height, pixels.data());
  canvas.background(request.noise, request.frame);
  char frameText[32];
  std::snprintf(frameText, sizeof frameText, "#%llu",
                static_cast<unsigned long long>(request.frame));
  char timeText[40];
  std::snprintf(timeText, sizeof timeText, "%s.%03d", request.cameraTime.c_str(),
                request.millisecond);
  // The time line is the longest (23 characters): size the font to fit it
  // across most of the width.
  int scale = (width * 9 / 10) / (6 * 23);
  if (scale < 1) scale = 1;
  const int margin = width / 20;
  canvas.text(frameText, margin, height / 4, scale);
  canvas.text(timeText, margin, height / 4 + 10 * scale, scale);
  return compressor->compress(pixels.data(), width, height, quality, out);
}

// Skips a leading JFIF APP0, which camera files do not carry; returns the
// offset of the first byte after SOI worth keeping.
std::size_t afterSoiAndJfif(const std::vector<std::uint8_t>& jpeg) {
  std::size_t at = 2;
  if (jpeg.size() >= at + 4 && jpeg[at] == 0xFF && jpeg[at + 1] == 0xE0) {
    const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    if (length >= 2 && length <= jpeg.size() - at - 2) at += 2 + length;
  }
  return at;
}

}  // namespace

bool renderShot(const RenderRequest& request, std::vector<std::uint8_t>* jpeg) {
  jpeg->clear();
  try {
    Compressor compressor;
    std::vector<std::uint8_t> picture;
    std::vector<std::uint8_t> thumbnail;
    if (!renderPicture(request, request.width, request.height, request.quality, &compressor,
                       &picture) ||
        !renderPicture(request, kThumbnailWidth, kThumbnailHeight, 75, &compressor, &thumbnail)) {
      return false;
    }
    ExifFields fields;
    fields.make = request.make;
    fields.model = request.model;
    fields.dateTime = request.cameraTime;
    fields.millisecond = request.millisecond;
    fields.subSeconds = request.subSeconds;
    fields.width = request.width;
    fields.height = request.height;
    fields.thumbnail = std::move(thumbnail);
    const Bytes exif = buildExifSegment(fields);
    if (exif.empty() || picture.size() < 4) {
      std::fprintf(stderr, "skerrow-rig: cannot build the Exif segment\n");
      return false;
    }
    const std::size_t rest = afterSoiAndJfif(picture);
    jpeg->reserve(2 + exif.size() + picture.size() - rest);
    jpeg->push_back(0xFF);
    jpeg->push_back(0xD8);
    jpeg->insert(jpeg->end(), exif.begin(), exif.end());
    jpeg->insert(jpeg->end(), picture.begin() + static_cast<std::ptrdiff_t>(rest), picture.end());
    return true;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "skerrow-rig: out of memory rendering a %d x %d shot\n", request.width,
                 request.height);
    jpeg->clear();
    return false;
  }
}

}  // namespace rig
