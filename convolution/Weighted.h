// The arithmetic of one kernel tap, the same in every path: weights are Q15
// (32768 = 1.0) and only weights above 0 take part.
#pragma once

#include <cstdint>

#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"

// A weighted channel: (w * c) >> 15 in fixed point; in float c * (w * 2^-15),
// one multiplication by the weight scaled exactly (exact below 2^24). NaN
// and negative products then compare as raising nothing.
template <typename Pixel>
inline auto Weigh(int32_t w, typename PixelTraits<Pixel>::Channel c) {
  if constexpr (kIsFloatPixel<Pixel>) {
    return c * (static_cast<float>(w) * 0x1p-15f);
  } else {
    return MulQ15(w, c);
  }
}

// The weighted maximum of one tap: each channel of out rises to the
// weighted source channel when that is greater. Every convolution writes
// through this.
template <typename Pixel>
inline void RaiseTo(Pixel* out, const Pixel& s, int32_t w) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  const auto a = Weigh<Pixel>(w, s.alpha);
  const auto r = Weigh<Pixel>(w, s.red);
  const auto g = Weigh<Pixel>(w, s.green);
  const auto b = Weigh<Pixel>(w, s.blue);
  if (a > out->alpha) out->alpha = static_cast<Channel>(a);
  if (r > out->red) out->red = static_cast<Channel>(r);
  if (g > out->green) out->green = static_cast<Channel>(g);
  if (b > out->blue) out->blue = static_cast<Channel>(b);
}
