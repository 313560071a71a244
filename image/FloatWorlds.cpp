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

}  // namespace

void ControlFromFloat(const PF_EffectWorld* floatWorld, PF_EffectWorld* world16) {
  const int32_t width = std::min(floatWorld->width, world16->width);
  const int32_t height = std::min(floatWorld->height, world16->height);
  for (int32_t y = 0; y < height; ++y) {
    const PF_PixelFloat* from = PixelAt<PF_PixelFloat>(floatWorld, 0, y);
    PF_Pixel16* to = PixelAt<PF_Pixel16>(world16, 0, y);
    for (int32_t x = 0; x < width; ++x) {
      to[x] = PF_Pixel16{ControlChannel(from[x].alpha), ControlChannel(from[x].red),
                         ControlChannel(from[x].green), ControlChannel(from[x].blue)};
    }
  }
}

void FloatFrom16(const PF_EffectWorld* world16, PF_EffectWorld* floatWorld) {
  const int32_t width = std::min(floatWorld->width, world16->width);
  const int32_t height = std::min(floatWorld->height, world16->height);
  for (int32_t y = 0; y < height; ++y) {
    const PF_Pixel16* from = PixelAt<PF_Pixel16>(world16, 0, y);
    PF_PixelFloat* to = PixelAt<PF_PixelFloat>(floatWorld, 0, y);
    for (int32_t x = 0; x < width; ++x) {
      to[x] = PF_PixelFloat{FloatChannel(from[x].alpha), FloatChannel(from[x].red),
                            FloatChannel(from[x].green), FloatChannel(from[x].blue)};
    }
  }
}
