// Shared by the shape, image, kernel and control-layer tests: a software host
// whose PF_InData is ready for direct calls, channels by index (0 alpha,
// 1 red, 2 green, 3 blue), kernels copied out of their views (element (x, y)
// at y * width + x, origin at (width/2, height/2), Q15 weights), the weighted
// maximum written straight from its definition, and checks that name the
// first difference or the exception raised.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convolution/EnginePlan.h"
#include "hostapi/PluginApi.h"
#include "image/AEException.h"
#include "image/HostFacts.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "render/EngineChoice.h"
#include "softhost/SoftHost.h"

namespace shapestest {

// A host of the given API major version; in_data keeps utils and effect_ref
// after the empty command, and Facts() is what global setup would record.
struct HostSession {
  explicit HostSession(A_short majorVersion = 13) {
    host.Config().majorVersion = majorVersion;
    host.Call([](PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*,
                 void*) -> PF_Err { return PF_Err_NONE; },
              PF_Cmd_ABOUT);
  }
  PF_InData* In() { return host.InData(); }
  HostFacts Facts() { return HostFacts{host.InData()->version.major}; }
  softhost::Host host;
};

// The engine this process runs, over a destination that holds a floor.
inline ConvolvePlan ActivePlan() {
  ConvolvePlan plan;
  plan.engine = ActiveEngine();
  plan.simd = ActiveSimdLevel();
  return plan;
}

inline bool Deep(const PF_EffectWorld* w) { return FormatOf(w) == PixelFormat::Argb16; }
inline int32_t FullScale(const PF_EffectWorld* w) { return Deep(w) ? 32768 : 255; }

template <typename Pixel>
auto& ChannelOf(Pixel* p, int32_t c) {
  static constexpr decltype(&Pixel::alpha) kMembers[] = {&Pixel::alpha, &Pixel::red, &Pixel::green,
                                                         &Pixel::blue};
  return p->*kMembers[c];
}

inline int32_t Channel(const PF_EffectWorld* w, int32_t x, int32_t y, int32_t c) {
  if (Deep(w)) return ChannelOf(PixelAt<PF_Pixel16>(w, x, y), c);
  return ChannelOf(PixelAt<PF_Pixel>(w, x, y), c);
}

inline void SetChannel(PF_EffectWorld* w, int32_t x, int32_t y, int32_t c, int32_t v) {
  if (Deep(w)) {
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
inline void FillSparse(PF_EffectWorld* w, uint32_t seed, int32_t sparsity = 1) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, FullScale(w));
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      const bool lit = rng() % static_cast<uint32_t>(sparsity) == 0;
      for (int32_t c = 0; c < 4; ++c) SetChannel(w, x, y, c, lit ? value(rng) : 0);
    }
  }
}

enum Separable { Gaussian, Diamond, SharpDiamond, Box, Cylinder };
inline const char* const kSeparableNames[] = {"Gaussian", "Diamond", "SharpDiamond", "Box",
                                              "Cylinder"};

inline std::unique_ptr<KernelMaker1D> MakeSeparable(Separable s, PF_InData* inData,
                                                    HostFacts host = {}) {
  if (s == Gaussian) return std::make_unique<GaussianKernelMaker>(inData, host);
  if (s == Diamond) return std::make_unique<DiamondKernelMaker>();
  if (s == SharpDiamond) return std::make_unique<SharpDiamondKernelMaker>();
  if (s == Box) return std::make_unique<BoxKernelMaker>(inData, host);
  return std::make_unique<CylinderKernelMaker>(inData, host);
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

}  // namespace shapestest
