#include "cli/Image.h"

#include <stdexcept>

#include "softhost/SoftHost.h"

namespace qbcli {

namespace {

uint16_t To16(uint16_t c) { return static_cast<uint16_t>((c * 32768u + 128u) / 255u); }
uint16_t To8(uint16_t c) { return static_cast<uint16_t>((c * 255u + 16384u) >> 15); }

void RequireSameShape(const Image& image, const softhost::SoftWorld& world) {
  if (image.width != world.Width() || image.height != world.Height() ||
      image.deep != world.Deep()) {
    throw std::logic_error("image and host world differ in size or depth");
  }
}

}  // namespace

Image ToDepth(const Image& image, bool deep) {
  if (image.deep == deep) return image;
  Image result(image.width, image.height, deep);
  for (size_t i = 0; i < image.argb.size(); ++i) {
    result.argb[i] = deep ? To16(image.argb[i]) : To8(image.argb[i]);
  }
  return result;
}

void CopyToWorld(const Image& image, softhost::SoftWorld& world) {
  RequireSameShape(image, world);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      const uint16_t* p = image.At(x, y);
      if (image.deep) {
        *world.Pixel16(x, y) = PF_Pixel16{p[0], p[1], p[2], p[3]};
      } else {
        *world.Pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(p[0]), static_cast<A_u_char>(p[1]),
                                       static_cast<A_u_char>(p[2]), static_cast<A_u_char>(p[3])};
      }
    }
  }
}

Image CopyFromWorld(const softhost::SoftWorld& world) {
  Image image(world.Width(), world.Height(), world.Deep());
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      uint16_t* p = image.At(x, y);
      if (image.deep) {
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
