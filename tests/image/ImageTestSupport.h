// Shared by the image tests: a software host whose in_data is ready for
// direct calls, channel access by index (0 alpha, 1 red, 2 green, 3 blue) and
// checks that name the first difference or the exception raised.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "hostapi/PluginApi.h"
#include "image/AEException.h"
#include "image/PixelTraits.h"
#include "shell/HostInfo.h"
#include "softhost/SoftHost.h"

namespace imagetest {

inline PF_Err NoCommand(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return PF_Err_NONE;
}

// A host of the given API major version, recorded as global setup does;
// in_data keeps utils and effect_ref after the empty command returns.
struct HostSession {
  explicit HostSession(A_short majorVersion = 13) {
    host.Config().majorVersion = majorVersion;
    host.Call(&NoCommand, PF_Cmd_ABOUT);
    RecordHostInfo(host.InData());
  }
  ~HostSession() { ResetHostInfo(); }
  PF_InData* In() { return host.InData(); }
  softhost::Host host;
};

inline int32_t Channel(const PF_EffectWorld* w, int32_t x, int32_t y, int32_t c) {
  if (IsDeep(w)) {
    const PF_Pixel16* p = PixelAt<PF_Pixel16>(w, x, y);
    return c == 0 ? p->alpha : c == 1 ? p->red : c == 2 ? p->green : p->blue;
  }
  const PF_Pixel* p = PixelAt<PF_Pixel>(w, x, y);
  return c == 0 ? p->alpha : c == 1 ? p->red : c == 2 ? p->green : p->blue;
}

inline void SetPixel(PF_EffectWorld* w, int32_t x, int32_t y, int32_t a, int32_t r, int32_t g,
                     int32_t b) {
  if (IsDeep(w)) {
    *PixelAt<PF_Pixel16>(w, x, y) =
        PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r), static_cast<A_u_short>(g),
                   static_cast<A_u_short>(b)};
  } else {
    *PixelAt<PF_Pixel>(w, x, y) = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r),
                                           static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
  }
}

inline int32_t FullScale(const PF_EffectWorld* w) { return IsDeep(w) ? 32768 : 255; }
// Every channel uniform in 0..full scale; alpha fixed when opaqueAlpha >= 0.
inline void FillNoise(PF_EffectWorld* w, uint32_t seed, int32_t opaqueAlpha = -1) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, FullScale(w));
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      const int32_t a = value(rng), r = value(rng), g = value(rng), b = value(rng);
      SetPixel(w, x, y, opaqueAlpha >= 0 ? opaqueAlpha : a, r, g, b);
    }
  }
}

inline ::testing::AssertionResult SameImage(const PF_EffectWorld* actual,
                                            const PF_EffectWorld* expected) {
  for (int32_t y = 0; y < expected->height; ++y) {
    for (int32_t x = 0; x < expected->width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        if (Channel(actual, x, y, c) != Channel(expected, x, y, c)) {
          return ::testing::AssertionFailure()
                 << "first difference at (" << x << ", " << y << ") channel " << c << ": got "
                 << Channel(actual, x, y, c) << ", expected " << Channel(expected, x, y, c);
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

template <typename Body>
::testing::AssertionResult RaisesAE(Body&& body, int32_t code, const char* text) {
  try {
    body();
  } catch (const AEException& e) {
    if (e.Code() == code && std::string(e.Message()) == text) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "raised (" << e.Code() << ", \"" << e.Message()
                                         << "\"), expected (" << code << ", \"" << text << "\")";
  }
  return ::testing::AssertionFailure() << "nothing raised, expected \"" << text << "\"";
}

}  // namespace imagetest
