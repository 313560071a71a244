// The pixel format of a world, read in one place (FormatOf), and the one
// dispatch from a format to code written as a template over the pixel type
// (DispatchPixel). Everything that differs between formats lives in
// PixelTraits; a body that needs its pixel type is a template lambda:
//
//   DispatchPixel(FormatOf(world), [&]<typename Pixel>() { ... });
#pragma once

#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "hostapi/PluginApi.h"

enum class PixelFormat : uint8_t {
  Argb8,      // PF_Pixel, 0..255
  Argb16,     // PF_Pixel16, 0..32768
  ArgbFloat,  // PF_PixelFloat, 1.0 = full scale, any float value
};

// A host tells a float world apart only through PF_WorldSuite2's
// PF_GetPixelFormat. The effect records that answer on its own descriptor
// of the world (a copy of the host's record, sharing its pixels) in a flag
// bit the host API leaves undefined, so that FormatOf stays the one place a
// format is read; hosts know their worlds by their own records and ignore it.
inline constexpr PF_WorldFlags kFloatPixelsWorldFlag = 1L << 23;

inline PixelFormat FormatOf(const PF_EffectWorld* world) {
  if ((world->world_flags & kFloatPixelsWorldFlag) != 0) return PixelFormat::ArgbFloat;
  return (world->world_flags & PF_WorldFlag_DEEP) != 0 ? PixelFormat::Argb16 : PixelFormat::Argb8;
}

// Marks the effect's descriptor of a world as what the host said it holds.
inline void RecordFormat(PF_EffectWorld& world, PixelFormat format) {
  world.world_flags &= ~(kFloatPixelsWorldFlag | PF_WorldFlag_DEEP);
  if (format == PixelFormat::ArgbFloat) world.world_flags |= kFloatPixelsWorldFlag;
  if (format == PixelFormat::Argb16) world.world_flags |= PF_WorldFlag_DEEP;
}

template <typename Body>
decltype(auto) DispatchPixel(PixelFormat format, Body&& body) {
  switch (format) {
    case PixelFormat::Argb16:
      return std::forward<Body>(body).template operator()<PF_Pixel16>();
    case PixelFormat::ArgbFloat:
      return std::forward<Body>(body).template operator()<PF_PixelFloat>();
    case PixelFormat::Argb8:
      break;
  }
  return std::forward<Body>(body).template operator()<PF_Pixel>();
}

// For images that are read as controls, not shown: kernel shapes, the
// control layer and the masks drawn from them. They are 8 or 16 bits; a float
// layer is brought to 16 bits before it gets here, so a float world is a
// fault of the caller.
template <typename Body>
decltype(auto) DispatchControlPixel(PixelFormat format, Body&& body) {
  switch (format) {
    case PixelFormat::Argb16:
      return std::forward<Body>(body).template operator()<PF_Pixel16>();
    case PixelFormat::ArgbFloat:
      throw std::logic_error("A float world where an 8 or 16-bit control image was expected");
    case PixelFormat::Argb8:
      break;
  }
  return std::forward<Body>(body).template operator()<PF_Pixel>();
}

template <typename Pixel>
inline constexpr bool kIsFloatPixel = std::is_same_v<Pixel, PF_PixelFloat>;

// Explicit instantiations of a template for every pixel type:
// QB_FOR_EACH_PIXEL(MACRO) expands MACRO(Pixel) once per type;
// QB_FOR_EACH_INTEGER_PIXEL only for the fixed-point ones.
#define QB_FOR_EACH_PIXEL(MACRO) MACRO(PF_Pixel) MACRO(PF_Pixel16) MACRO(PF_PixelFloat)
#define QB_FOR_EACH_INTEGER_PIXEL(MACRO) MACRO(PF_Pixel) MACRO(PF_Pixel16)
