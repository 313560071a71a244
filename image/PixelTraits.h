// What differs between the two pixel depths, so that each image operation is
// written once as a template over PF_Pixel (8 bits, 0..255) and PF_Pixel16
// (16 bits, 0..32768).
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

template <typename Pixel>
struct PixelTraits;

template <>
struct PixelTraits<PF_Pixel> {
  using Channel = A_u_char;
  static constexpr int32_t kMax = 255;
  static constexpr bool kDeep = false;
};

template <>
struct PixelTraits<PF_Pixel16> {
  using Channel = A_u_short;
  static constexpr int32_t kMax = 32768;
  static constexpr bool kDeep = true;
};

// Transparent black: a source pixel that can raise nothing.
template <typename Pixel>
inline bool IsBlack(const Pixel& p) {
  return p.alpha == 0 && p.red == 0 && p.green == 0 && p.blue == 0;
}

// A pixel as the blurs read it: colour under full transparency counts as 0.
template <typename Pixel>
inline Pixel WithoutHiddenColour(Pixel p) {
  if (p.alpha == 0) p.red = p.green = p.blue = 0;
  return p;
}

inline bool IsDeep(const PF_EffectWorld* world) {
  return (world->world_flags & PF_WorldFlag_DEEP) != 0;
}

// Pixel (x, y) of a world; rows are rowbytes apart (rowbytes may exceed
// width times the pixel size).
template <typename Pixel>
inline Pixel* PixelAt(const PF_EffectWorld* world, int32_t x, int32_t y) {
  return reinterpret_cast<Pixel*>(static_cast<char*>(world->data) +
                                  static_cast<intptr_t>(y) * world->rowbytes) +
         x;
}
