// The pixel format of a world, read in one place (FormatOf), and the one
// dispatch from a format to code written as a template over the pixel type
// (DispatchPixel). Everything that differs between formats lives in
// PixelTraits; a body that needs its pixel type is a template lambda:
//
//   DispatchPixel(FormatOf(world), [&]<typename Pixel>() { ... });
#pragma once

#include <cstdint>
#include <utility>

#include "hostapi/PluginApi.h"

enum class PixelFormat : uint8_t {
  Argb8,   // PF_Pixel
  Argb16,  // PF_Pixel16
};

inline PixelFormat FormatOf(const PF_EffectWorld* world) {
  return (world->world_flags & PF_WorldFlag_DEEP) != 0 ? PixelFormat::Argb16 : PixelFormat::Argb8;
}

template <typename Body>
decltype(auto) DispatchPixel(PixelFormat format, Body&& body) {
  switch (format) {
    case PixelFormat::Argb16:
      return std::forward<Body>(body).template operator()<PF_Pixel16>();
    case PixelFormat::Argb8:
      break;
  }
  return std::forward<Body>(body).template operator()<PF_Pixel>();
}

// Explicit instantiations of a template for every pixel type:
// QB_FOR_EACH_PIXEL(MACRO) expands MACRO(Pixel) once per type.
#define QB_FOR_EACH_PIXEL(MACRO) MACRO(PF_Pixel) MACRO(PF_Pixel16)
