#include "image/FloatWorlds.h"

#include <algorithm>
#include <cmath>

#include "image/PixelTraits.h"

namespace {

A_u_short ControlChannel(float v) {
  // The negated test sends NaN to 0 with the negatives.
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 32768;
  // v * 32768 is exact in float, so a tie is a true tie.
  return static_cast<A_u_short>(std::lround(v * 32768.0f));
}

float FloatChannel(A_u_short v) { return static_cast<float>(v) * 0x1p-15f; }

// Each pixel of `from` through `convert` into `to`, over the part both cover.
template <typename From, typename To, typename Convert>
void ConvertPixels(const PF_EffectWorld* from, PF_EffectWorld* to, Convert convert) {
  const int32_t width = std::min(from->width, to->width);
  const int32_t height = std::min(from->height, to->height);
  for (int32_t y = 0; y < height; ++y) {
    const From* in = PixelAt<From>(from, 0, y);
    To* out = PixelAt<To>(to, 0, y);
    for (int32_t x = 0; x < width; ++x) {
      out[x] =
          To{convert(in[x].alpha), convert(in[x].red), convert(in[x].green), convert(in[x].blue)};
    }
  }
}

}  // namespace

void ControlFromFloat(const PF_EffectWorld* floatWorld, PF_EffectWorld* world16) {
  ConvertPixels<PF_PixelFloat, PF_Pixel16>(floatWorld, world16, ControlChannel);
}

void FloatFrom16(const PF_EffectWorld* world16, PF_EffectWorld* floatWorld) {
  ConvertPixels<PF_Pixel16, PF_PixelFloat>(world16, floatWorld, FloatChannel);
}
