// Helpers shared by the control-layer tests: seeded images and a comparison
// that names the first differing (x, y, channel) with both values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "image/PixelTraits.h"
#include "softhost/SoftHost.h"

namespace bcltest {

inline int32_t FullScale(const PF_EffectWorld* w) { return IsDeep(w) ? 32768 : 255; }

// Channel c in alpha, red, green, blue order.
inline int32_t Channel(const PF_EffectWorld* w, int32_t x, int32_t y, int32_t c) {
  if (IsDeep(w)) return (&PixelAt<PF_Pixel16>(w, x, y)->alpha)[c];
  return (&PixelAt<PF_Pixel>(w, x, y)->alpha)[c];
}

inline void SetChannel(PF_EffectWorld* w, int32_t x, int32_t y, int32_t c, int32_t v) {
  if (IsDeep(w)) {
    (&PixelAt<PF_Pixel16>(w, x, y)->alpha)[c] = static_cast<A_u_short>(v);
  } else {
    (&PixelAt<PF_Pixel>(w, x, y)->alpha)[c] = static_cast<A_u_char>(v);
  }
}

inline void Fill(PF_EffectWorld* w, int32_t v) {
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      for (int32_t c = 0; c < 4; ++c) SetChannel(w, x, y, c, v);
    }
  }
}

// About one pixel in `sparsity` gets random channels, the rest stay black, so
// that bright points keep the kernel's shape instead of flooding the image.
inline void FillNoise(PF_EffectWorld* w, uint32_t seed, int32_t sparsity) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, FullScale(w));
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      const bool lit = rng() % static_cast<uint32_t>(sparsity) == 0;
      for (int32_t c = 0; c < 4; ++c) SetChannel(w, x, y, c, lit ? value(rng) : 0);
    }
  }
}

inline ::testing::AssertionResult SameImage(const PF_EffectWorld* actual,
                                            const PF_EffectWorld* expected) {
  static const char* const kNames[4] = {"alpha", "red", "green", "blue"};
  for (int32_t y = 0; y < actual->height; ++y) {
    for (int32_t x = 0; x < actual->width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        const int32_t got = Channel(actual, x, y, c);
        const int32_t want = Channel(expected, x, y, c);
        if (got != want) {
          return ::testing::AssertionFailure()
                 << "first difference at (" << x << ", " << y << ") " << kNames[c]
                 << ": production " << got << ", reference " << want;
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace bcltest
