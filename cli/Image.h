// An image as the effect sees it, held by the command-line host between
// files and host worlds.
//
// Pixels are alpha, red, green, blue, straight (not premultiplied) alpha,
// rows top to bottom without padding; channel values are 0..255 for 8-bit
// images and 0..32768 for deep ones. The Image owns its pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace softhost {
class SoftWorld;
}

namespace qbcli {

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  bool deep = false;
  std::vector<uint16_t> argb;

  Image() = default;
  Image(int32_t w, int32_t h, bool isDeep)
      : width(w), height(h), deep(isDeep), argb(static_cast<size_t>(w) * h * 4, 0) {}

  uint16_t Full() const { return deep ? 32768 : 255; }
  uint16_t* At(int32_t x, int32_t y) { return &argb[(static_cast<size_t>(y) * width + x) * 4]; }
  const uint16_t* At(int32_t x, int32_t y) const {
    return &argb[(static_cast<size_t>(y) * width + x) * 4];
  }
};

// Between depths with the effect's own rounding, so that a colour means the
// same to the effect whichever depth it is rendered at.
Image ToDepth(const Image& image, bool deep);

// Host worlds must have the image's size and depth.
void CopyToWorld(const Image& image, softhost::SoftWorld& world);
Image CopyFromWorld(const softhost::SoftWorld& world);

}  // namespace qbcli
