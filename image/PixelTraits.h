// What differs between the pixel types, so that each image operation is
// written once as a template over the pixel: PF_Pixel (8 bits a channel,
// 0..255), PF_Pixel16 (16 bits, 0..32768) and PF_PixelFloat (1.0 = full
// scale; values above 1 and below 0 are legal). A new pixel type gets a
// specialisation here and a case in PixelFormat.h.
//
// kControlMax is the full scale of a control value (a Blur Control Layer or
// kernel-shape reading) under a frame of the format: a float layer is read
// as the 16-bit layer of the same picture would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "hostapi/PluginApi.h"
#include "image/PixelFormat.h"

template <typename Pixel>
struct PixelTraits;

template <>
struct PixelTraits<PF_Pixel> {
  using Channel = A_u_char;
  using IterateFunction = PF_IteratePixel8Func;
  static constexpr PixelFormat kFormat = PixelFormat::Argb8;
  static constexpr PF_NewWorldFlags kNewWorldFlags = PF_NewWorldFlag_NONE;
  static constexpr int32_t kMax = 255;
  static constexpr int32_t kControlMax = 255;
  static constexpr double kInverseMax = 0.00392156862745098;  // 1 / kMax as the layer reads it

  static PF_Err Iterate(PF_InData* inData, A_long progressBase, A_long progressFinal,
                        PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                        IterateFunction function, PF_EffectWorld* dst) {
    return inData->utils->iterate(inData, progressBase, progressFinal, src, area, refcon, function,
                                  dst);
  }
};

template <>
struct PixelTraits<PF_Pixel16> {
  using Channel = A_u_short;
  using IterateFunction = PF_IteratePixel16Func;
  static constexpr PixelFormat kFormat = PixelFormat::Argb16;
  static constexpr PF_NewWorldFlags kNewWorldFlags = PF_NewWorldFlag_DEEP_PIXELS;
  static constexpr int32_t kMax = 32768;
  static constexpr int32_t kControlMax = 32768;
  static constexpr double kInverseMax = 3.0517578125e-5;

  static PF_Err Iterate(PF_InData* inData, A_long progressBase, A_long progressFinal,
                        PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                        IterateFunction function, PF_EffectWorld* dst) {
    return inData->utils->iterate16(inData, progressBase, progressFinal, src, area, refcon,
                                    function, dst);
  }
};

template <>
struct PixelTraits<PF_PixelFloat> {
  using Channel = PF_FpShort;
  using IterateFunction = PF_IteratePixelFloatFunc;
  static constexpr PixelFormat kFormat = PixelFormat::ArgbFloat;
  // Float worlds come from PF_WorldSuite2, not new_world (see AEWorld).
  static constexpr PF_NewWorldFlags kNewWorldFlags = PF_NewWorldFlag_NONE;
  static constexpr float kMax = 1.0f;
  static constexpr int32_t kControlMax = 32768;

  // Through "PF Iterate Float Suite", which only the current host generation
  // offers; without it the answer is the host's "no such suite" error.
  static PF_Err Iterate(PF_InData* inData, A_long progressBase, A_long progressFinal,
                        PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                        IterateFunction function, PF_EffectWorld* dst);
};

// The largest value a channel of this integer depth stores unchanged (a
// 16-bit channel keeps values above full scale).
template <typename Pixel>
inline constexpr int32_t kStorableMax =
    std::numeric_limits<typename PixelTraits<Pixel>::Channel>::max();

// What the host's new_world is asked for to get a world of this format.
inline PF_NewWorldFlags NewWorldFlagsFor(PixelFormat format) {
  return DispatchPixel(format, []<typename Pixel>() { return PixelTraits<Pixel>::kNewWorldFlags; });
}

// The full scale of a control value read under a frame of this format.
inline int32_t ControlFullScale(PixelFormat format) {
  return DispatchPixel(format, []<typename Pixel>() { return PixelTraits<Pixel>::kControlMax; });
}

inline size_t PixelBytes(PixelFormat format) {
  return DispatchPixel(format, []<typename Pixel>() { return sizeof(Pixel); });
}

// Whether world holds pixels of type Pixel: the fast engines check the type
// they were written for before they touch a world.
template <typename Pixel>
inline bool HoldsPixels(const PF_EffectWorld* world) {
  return FormatOf(world) == PixelTraits<Pixel>::kFormat;
}

// A source pixel that can raise nothing: no channel above 0 (in float,
// negatives and NaN raise nothing either).
template <typename Pixel>
inline bool IsBlack(const Pixel& p) {
  return !(p.alpha > 0 || p.red > 0 || p.green > 0 || p.blue > 0);
}

// A pixel as the blurs read it: colour under full transparency counts as 0.
// A float alpha that is not above 0 (0, negative or NaN) is transparent.
template <typename Pixel>
inline Pixel WithoutHiddenColour(Pixel p) {
  if (!(p.alpha > 0)) p.red = p.green = p.blue = 0;
  return p;
}

// A source pixel as the blurs read it from a source that may still hold
// colour under transparent pixels (mask set, the host's input as it stands)
// or has been cleaned already.
template <typename Pixel>
inline Pixel CleanedIf(bool mask, const Pixel& p) {
  return mask ? WithoutHiddenColour(p) : p;
}

// Pixel (x, y) of a world; rows are rowbytes apart (rowbytes may exceed
// width times the pixel size).
template <typename Pixel>
inline Pixel* PixelAt(const PF_EffectWorld* world, int32_t x, int32_t y) {
  return reinterpret_cast<Pixel*>(static_cast<char*>(world->data) +
                                  static_cast<intptr_t>(y) * world->rowbytes) +
         x;
}
