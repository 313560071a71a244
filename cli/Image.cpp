#include "cli/Image.h"

#include <cmath>
#include <stdexcept>

#include "softhost/SoftHost.h"

namespace qbcli {

namespace {

uint16_t To16(uint16_t c) { return static_cast<uint16_t>((c * 32768u + 128u) / 255u); }
uint16_t To8(uint16_t c) { return static_cast<uint16_t>((c * 255u + 16384u) >> 15); }
uint16_t FloatTo16(float f) {
  if (!(f > 0.0f)) return 0;  // NaN too
  if (f >= 1.0f) return 32768;
  return static_cast<uint16_t>(std::lround(f * 32768.0f));
}

PixelFormat FormatOf(Depth depth) {
  return depth == Depth::Float    ? PixelFormat::ArgbFloat
         : depth == Depth::Bits16 ? PixelFormat::Argb16
                                  : PixelFormat::Argb8;
}

Depth DepthOf(const softhost::SoftWorld& world) {
  switch (world.Format()) {
    case PixelFormat::ArgbFloat:
      return Depth::Float;
    case PixelFormat::Argb16:
      return Depth::Bits16;
    case PixelFormat::Argb8:
      break;
  }
  return Depth::Bits8;
}

void RequireSameShape(const Image& image, const softhost::SoftWorld& world) {
  if (image.width != world.Width() || image.height != world.Height() ||
      image.depth != DepthOf(world)) {
    throw std::logic_error("image and host world differ in size or depth");
  }
}

}  // namespace

std::unique_ptr<softhost::SoftWorld> NewWorld(int32_t width, int32_t height, Depth depth) {
  return std::make_unique<softhost::SoftWorld>(width, height, FormatOf(depth));
}

Image ToDepth(const Image& image, Depth depth) {
  if (image.depth == depth) return image;
  Image result(image.width, image.height, depth);
  if (depth == Depth::Float) {
    const float full = image.Full();
    for (size_t i = 0; i < image.argb.size(); ++i) result.argbFloat[i] = image.argb[i] / full;
  } else if (image.IsFloat()) {
    for (size_t i = 0; i < image.argbFloat.size(); ++i) {
      const uint16_t v = FloatTo16(image.argbFloat[i]);
      result.argb[i] = depth == Depth::Bits8 ? To8(v) : v;
    }
  } else {
    for (size_t i = 0; i < image.argb.size(); ++i) {
      result.argb[i] = depth == Depth::Bits16 ? To16(image.argb[i]) : To8(image.argb[i]);
    }
  }
  return result;
}

void CopyToWorld(const Image& image, softhost::SoftWorld& world) {
  RequireSameShape(image, world);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      if (image.IsFloat()) {
        const float* p = image.FloatAt(x, y);
        *world.PixelF(x, y) = PF_PixelFloat{p[0], p[1], p[2], p[3]};
        continue;
      }
      const uint16_t* p = image.At(x, y);
      if (image.depth == Depth::Bits16) {
        *world.Pixel16(x, y) = PF_Pixel16{p[0], p[1], p[2], p[3]};
      } else {
        *world.Pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(p[0]), static_cast<A_u_char>(p[1]),
                                       static_cast<A_u_char>(p[2]), static_cast<A_u_char>(p[3])};
      }
    }
  }
}

Image CopyFromWorld(const softhost::SoftWorld& world) {
  Image image(world.Width(), world.Height(), DepthOf(world));
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      if (image.IsFloat()) {
        const PF_PixelFloat& q = *world.PixelF(x, y);
        float* p = image.FloatAt(x, y);
        p[0] = q.alpha, p[1] = q.red, p[2] = q.green, p[3] = q.blue;
        continue;
      }
      uint16_t* p = image.At(x, y);
      if (image.depth == Depth::Bits16) {
        const PF_Pixel16& q = *world.Pixel16(x, y);
        p[0] = q.alpha, p[1] = q.red, p[2] = q.green, p[3] = q.blue;
      } else {
        const PF_Pixel& q = *world.Pixel8(x, y);
        p[0] = q.alpha, p[1] = q.red, p[2] = q.green, p[3] = q.blue;
      }
    }
  }
  return image;
}

}  // namespace qbcli
