// An image as the effect sees it, held by the command-line host between
// files and host worlds.
//
// Pixels are alpha, red, green, blue, straight (not premultiplied) alpha,
// rows top to bottom without padding. Integer channels are 0..255 for 8-bit
// images and 0..32768 for 16-bit ones, in `argb`; float images hold their
// channels in `argbFloat`, 1.0 = full scale, any value (above 1, negative,
// NaN, infinite) as the effect's float worlds take it. The Image owns its
// pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace softhost {
class SoftWorld;
}

namespace qbcli {

enum class Depth : uint8_t { Bits8, Bits16, Float };

inline int BitsOf(Depth depth) {
  return depth == Depth::Bits8 ? 8 : depth == Depth::Bits16 ? 16 : 32;
}

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  Depth depth = Depth::Bits8;
  std::vector<uint16_t> argb;    // 8 and 16 bits
  std::vector<float> argbFloat;  // float

  Image() = default;
  Image(int32_t w, int32_t h, Depth d) : width(w), height(h), depth(d) {
    const size_t count = static_cast<size_t>(w) * h * 4;
    if (IsFloat()) {
      argbFloat.assign(count, 0.0f);
    } else {
      argb.assign(count, 0);
    }
  }

  bool IsFloat() const { return depth == Depth::Float; }
  // Of the integer depths.
  uint16_t Full() const { return depth == Depth::Bits8 ? 255 : 32768; }
  size_t Index(int32_t x, int32_t y) const { return (static_cast<size_t>(y) * width + x) * 4; }
  uint16_t* At(int32_t x, int32_t y) { return &argb[Index(x, y)]; }
  const uint16_t* At(int32_t x, int32_t y) const { return &argb[Index(x, y)]; }
  float* FloatAt(int32_t x, int32_t y) { return &argbFloat[Index(x, y)]; }
  const float* FloatAt(int32_t x, int32_t y) const { return &argbFloat[Index(x, y)]; }
};

// Between depths with the effect's own rounding, so that a colour means the
// same to the effect whichever depth it is rendered at. Integers widen to
// float exactly (c / 255, v / 32768); float narrows to 16 bits as
// round(v * 32768) after limiting it to [0, 1] (NaN as 0), and to 8 bits
// through the 16-bit value.
Image ToDepth(const Image& image, Depth depth);

// A world of the software host at `depth`.
std::unique_ptr<softhost::SoftWorld> NewWorld(int32_t width, int32_t height, Depth depth);

// Host worlds must have the image's size and depth.
void CopyToWorld(const Image& image, softhost::SoftWorld& world);
Image CopyFromWorld(const softhost::SoftWorld& world);

}  // namespace qbcli
