// Pixel access and first-mismatch reporting shared by the fast-engine
// comparisons; channels are indexed alpha, red, green, blue.
#pragma once

#include <random>
#include <sstream>
#include <string>

#include "image/PixelTraits.h"
#include "softhost/SoftHost.h"

namespace fasttest {

inline int32_t Get(const PF_EffectWorld* w, int32_t x, int32_t y, int32_t c) {
  return IsDeep(w) ? (&PixelAt<PF_Pixel16>(w, x, y)->alpha)[c]
                   : (&PixelAt<PF_Pixel>(w, x, y)->alpha)[c];
}

inline void Set(PF_EffectWorld* w, int32_t x, int32_t y, int32_t c, int32_t v) {
  if (IsDeep(w)) {
    (&PixelAt<PF_Pixel16>(w, x, y)->alpha)[c] = static_cast<A_u_short>(v);
  } else {
    (&PixelAt<PF_Pixel>(w, x, y)->alpha)[c] = static_cast<A_u_char>(v);
  }
}

// Random channels up to `top`, about one pixel in `dark` left black.
inline void Noise(PF_EffectWorld* w, uint32_t seed, int32_t top, int32_t dark) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, top);
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      const bool black = rng() % static_cast<uint32_t>(dark) == 0;
      for (int32_t c = 0; c < 4; ++c) Set(w, x, y, c, black ? 0 : value(rng));
    }
  }
}

// Empty when equal; else the first differing (x, y, channel) with every
// value that went into it (`floor`, what dst started from, may be null).
inline std::string FirstDifference(const PF_EffectWorld* expected, const PF_EffectWorld* actual,
                                   const PF_EffectWorld* src, const PF_EffectWorld* floor) {
  static const char* const kNames[] = {"alpha", "red", "green", "blue"};
  auto argb = [](const PF_EffectWorld* w, int32_t x, int32_t y) {
    std::ostringstream s;
    for (int32_t c = 0; c < 4; ++c) s << (c ? " " : "") << Get(w, x, y, c);
    return s.str();
  };
  for (int32_t y = 0; y < expected->height; ++y) {
    for (int32_t x = 0; x < expected->width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        if (Get(expected, x, y, c) == Get(actual, x, y, c)) continue;
        std::ostringstream s;
        s << "(" << x << ", " << y << ") " << kNames[c] << ": straightforward "
          << argb(expected, x, y) << ", fast " << argb(actual, x, y) << ", source "
          << argb(src, x, y);
        if (floor != nullptr) s << ", floor " << argb(floor, x, y);
        return s.str();
      }
    }
  }
  return "";
}

}  // namespace fasttest
