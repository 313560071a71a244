// Shared by the shape and control-layer tests: a software host whose
// PF_InData is ready for direct calls, images by channel index (0 alpha,
// 1 red, 2 green, 3 blue), kernels copied out of their views (element (x, y)
// at y * width + x, origin at (width/2, height/2), Q15 weights), the weighted
// maximum written straight from its definition, and an image comparison that
// names the first difference.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "hostapi/PluginApi.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "shell/HostInfo.h"
#include "softhost/SoftHost.h"

namespace shapestest {

inline PF_Err NoCommand(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return PF_Err_NONE;
}

// A host of the given API major version as global setup records it; in_data
// keeps utils and effect_ref after the empty command.
class HostSession {
 public:
  explicit HostSession(A_short majorVersion = 13) {
    host.Config().majorVersion = majorVersion;
    host.Call(&NoCommand, PF_Cmd_ABOUT);
    RecordHostInfo(host.InData());
  }
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;
  ~HostSession() { ResetHostInfo(); }

  PF_InData* In() { return host.InData(); }

  softhost::Host host;
};

inline int32_t FullScale(const PF_EffectWorld* w) { return IsDeep(w) ? 32768 : 255; }

// Channel c of a pixel struct: 0 alpha, 1 red, 2 green, 3 blue.
template <typename Pixel>
auto& ChannelOf(Pixel* p, int32_t c) {
  static constexpr decltype(&Pixel::alpha) kMembers[] = {&Pixel::alpha, &Pixel::red, &Pixel::green,
                                                         &Pixel::blue};
  return p->*kMembers[c];
}

inline int32_t Channel(const PF_EffectWorld* w, int32_t x, int32_t y, int32_t c) {
  if (IsDeep(w)) return ChannelOf(PixelAt<PF_Pixel16>(w, x, y), c);
  return ChannelOf(PixelAt<PF_Pixel>(w, x, y), c);
}

inline void SetChannel(PF_EffectWorld* w, int32_t x, int32_t y, int32_t c, int32_t v) {
  if (IsDeep(w)) {
    ChannelOf(PixelAt<PF_Pixel16>(w, x, y), c) = static_cast<A_u_short>(v);
  } else {
    ChannelOf(PixelAt<PF_Pixel>(w, x, y), c) = static_cast<A_u_char>(v);
  }
}

inline void SetPixel(PF_EffectWorld* w, int32_t x, int32_t y, int32_t a, int32_t r, int32_t g,
                     int32_t b) {
  const int32_t v[4] = {a, r, g, b};
  for (int32_t c = 0; c < 4; ++c) SetChannel(w, x, y, c, v[c]);
}

inline void FillAll(PF_EffectWorld* w, int32_t a, int32_t r, int32_t g, int32_t b) {
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) SetPixel(w, x, y, a, r, g, b);
  }
}

// About one pixel in `sparsity` lit with random channels, the rest black, so
// that single kernels stay visible in the result.
inline void FillSparse(PF_EffectWorld* w, uint32_t seed, int32_t sparsity) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, FullScale(w));
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      const bool lit = rng() % static_cast<uint32_t>(sparsity) == 0;
      for (int32_t c = 0; c < 4; ++c) SetChannel(w, x, y, c, lit ? value(rng) : 0);
    }
  }
}

struct Kernel {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<int32_t> weights;

  int32_t At(int32_t x, int32_t y) const { return weights[static_cast<size_t>(y * width + x)]; }
};

inline Kernel CopyKernel(const KernelView& view) {
  Kernel k{view.width, view.height, {}};
  for (int32_t y = 0; y < view.height; ++y) {
    for (int32_t x = 0; x < view.width; ++x) k.weights.push_back(view.Weight(x, y));
  }
  return k;
}

// The maker's kernel as a single-kernel user builds it.
inline Kernel BuildKernelOf(KernelMaker& maker, double h, double v) {
  maker.ReleaseKernel();
  maker.PrepareShape(h, v, 1);
  Kernel k;
  maker.GetKernelSize(h, v, &k.width, &k.height);
  k.weights.assign(static_cast<size_t>(k.width * k.height), 0);
  maker.BuildKernel(k.weights.data(), h, v, 0);
  return k;
}

// Every source pixel, with the kernel the callback gives it, raises each
// destination pixel its kernel reaches; taps outside the image are dropped.
inline void ReferenceScatter(const PF_EffectWorld* src, PF_EffectWorld* dst,
                             const std::function<Kernel(int32_t x, int32_t y)>& kernelAt) {
  for (int32_t y = 0; y < src->height; ++y) {
    for (int32_t x = 0; x < src->width; ++x) {
      const Kernel k = kernelAt(x, y);
      for (int32_t j = 0; j < k.height; ++j) {
        for (int32_t i = 0; i < k.width; ++i) {
          const int64_t w = k.At(i, j);
          const int32_t tx = x - k.width / 2 + i;
          const int32_t ty = y - k.height / 2 + j;
          if (w <= 0 || tx < 0 || ty < 0 || tx >= dst->width || ty >= dst->height) continue;
          for (int32_t c = 0; c < 4; ++c) {
            const auto value = static_cast<int32_t>((w * Channel(src, x, y, c)) >> 15);
            if (value > Channel(dst, tx, ty, c)) SetChannel(dst, tx, ty, c, value);
          }
        }
      }
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
                 << ": production " << got << ", reference " << want << "; production argb "
                 << Channel(actual, x, y, 0) << " " << Channel(actual, x, y, 1) << " "
                 << Channel(actual, x, y, 2) << " " << Channel(actual, x, y, 3)
                 << ", reference argb " << Channel(expected, x, y, 0) << " "
                 << Channel(expected, x, y, 1) << " " << Channel(expected, x, y, 2) << " "
                 << Channel(expected, x, y, 3);
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace shapestest
