// Rendered shots: a picture showing the frame number and the camera time,
// compressed with libjpeg-turbo, with camera-style Exif in front.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rig {

struct RenderRequest {
  int width = 640;
  int height = 480;
  int quality = 90;
  int noise = 0;            // texture amplitude 0-255
  std::uint64_t frame = 0;  // shown in the picture
  std::string cameraTime;   // "YYYY:MM:DD HH:MM:SS", the camera's clock
  int millisecond = 0;      // of the camera's clock
  bool subSeconds = true;   // false: the clock has whole seconds, the Exif no SubSecTime
  std::string make;
  std::string model;
};

// The whole JPEG file: SOI, APP1 Exif (with a 160 x 120 thumbnail), then the
// compressed picture. False, with one line on standard error, when the
// encoder fails or memory runs out; *jpeg is then empty.
bool renderShot(const RenderRequest& request, std::vector<std::uint8_t>* jpeg);

}  // namespace rig
