// The arithmetic of one kernel tap, the same in every path: weights are Q15
// (32768 = 1.0) and only weights above 0 take part.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "convolution/simd/Sse2.h"
#include "convolution/simd/Target.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"

// A float channel as the fast engines hold it in their lanes: the value where
// it is above 0, else +0. Over an output that starts cleared, or holds no
// value below 0, the two raise every channel alike: a product of a weight
// above 0 with a value not above 0 (or NaN) never raises it, and with +0 the
// product is +0, which raises nothing either.
inline float FloatLane(float c) { return c > 0.0f ? c : 0.0f; }

// FloatLane of a pixel's channels, into four lanes in host order.
inline void FloatLanes(const PF_PixelFloat& p, float* lanes) {
#if QB_SIMD_X86
  // One maxps (SSE2 is every x86 build's baseline): GCC leaves the plain
  // form as four branches, a fifth of a float render.
  using F = simd::Sse2F32;
  F::Store(lanes, F::Max(F::Load(&p.alpha), F::Zero()));
#else
  lanes[0] = FloatLane(p.alpha);
  lanes[1] = FloatLane(p.red);
  lanes[2] = FloatLane(p.green);
  lanes[3] = FloatLane(p.blue);
#endif
}

// A pixel's four channels in lane order (alpha, red, green, blue), the
// order of the host's pixel record; 8-bit channels widened, and narrowed back
// (values then never pass 255); float channels as FloatLane holds them.
inline void LoadPixel(const PF_Pixel16& p, uint16_t* lanes) { std::memcpy(lanes, &p, 8); }
inline void StorePixel(const uint16_t* lanes, PF_Pixel16* p) { std::memcpy(p, lanes, 8); }

inline void LoadPixel(const PF_PixelFloat& p, float* lanes) { FloatLanes(p, lanes); }
inline void StorePixel(const float* lanes, PF_PixelFloat* p) { std::memcpy(p, lanes, 16); }

inline void LoadPixel(const PF_Pixel& p, uint16_t* lanes) {
  lanes[0] = p.alpha;
  lanes[1] = p.red;
  lanes[2] = p.green;
  lanes[3] = p.blue;
}

inline void StorePixel(const uint16_t* lanes, PF_Pixel* p) {
  p->alpha = static_cast<A_u_char>(lanes[0]);
  p->red = static_cast<A_u_char>(lanes[1]);
  p->green = static_cast<A_u_char>(lanes[2]);
  p->blue = static_cast<A_u_char>(lanes[3]);
}

// Whether an output that holds a floor can be raised by what float lanes
// give: no channel below 0 (NaN and -0 stay as RaiseTo keeps them, since
// nothing the lanes hold is greater; below 0 a tap could raise the floor to
// a product still below 0, which the lanes hold as +0).
template <typename Pixel>
bool FloorSuitsLanes(const PF_EffectWorld* world) {
  if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
    for (int32_t y = 0; y < world->height; ++y) {
      const Pixel* row = PixelAt<Pixel>(world, 0, y);
      for (int32_t x = 0; x < world->width; ++x) {
        if (row[x].alpha < 0 || row[x].red < 0 || row[x].green < 0 || row[x].blue < 0) {
          return false;
        }
      }
    }
  }
  (void)world;
  return true;
}

// The lanes the fast engines convolve a pixel type in: float pixels in float
// lanes, the others in 16-bit lanes.
template <typename Pixel>
using LaneOf = std::conditional_t<std::is_same_v<Pixel, PF_PixelFloat>, float, uint16_t>;

// The scale of a weight in float lanes, as Weigh applies it.
inline float WeightScale(int32_t w) { return static_cast<float>(w) * 0x1p-15f; }

// A weighted channel: (w * c) >> 15 in fixed point; in float c * (w * 2^-15),
// one multiplication by the weight scaled exactly (exact below 2^24). NaN
// and negative products then compare as raising nothing.
template <typename Pixel>
inline auto Weigh(int32_t w, typename PixelTraits<Pixel>::Channel c) {
  if constexpr (kIsFloatPixel<Pixel>) {
    return c * WeightScale(w);
  } else {
    return MulQ15(w, c);
  }
}

// One channel of one tap: out rises to the weighted source channel when
// that is greater.
template <typename Pixel>
inline void RaiseChannel(typename PixelTraits<Pixel>::Channel& out,
                         typename PixelTraits<Pixel>::Channel s, int32_t w) {
  const auto v = Weigh<Pixel>(w, s);
  if (v > out) out = static_cast<typename PixelTraits<Pixel>::Channel>(v);
}

// The weighted maximum of one tap. Every convolution writes through this.
template <typename Pixel>
inline void RaiseTo(Pixel* out, const Pixel& s, int32_t w) {
  RaiseChannel<Pixel>(out->alpha, s.alpha, w);
  RaiseChannel<Pixel>(out->red, s.red, w);
  RaiseChannel<Pixel>(out->green, s.green, w);
  RaiseChannel<Pixel>(out->blue, s.blue, w);
}
