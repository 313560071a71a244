// 32-bit float frames through SmartFX. The 16-bit render is the oracle: a
// float frame holding a 16-bit frame's values (v / 32768, exact) renders
// what the 16-bit frame renders, up to the truncation the fixed-point
// arithmetic adds; control images and the diagnostic views are read and
// drawn at 16 bits, so there the two agree exactly. Beyond 16 bits, the float
// arithmetic itself: highlights above 1.0 keep their value, and NaN,
// negatives and +Inf act as defined.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "render/RenderHarness.h"

namespace rendertest {
namespace {

using softhost::SoftWorld;

std::unique_ptr<SoftWorld> FloatWorld(int32_t w, int32_t h) {
  return std::make_unique<SoftWorld>(w, h, PixelFormat::ArgbFloat);
}

float& Channel(SoftWorld& world, int32_t x, int32_t y, int32_t c) {
  PF_PixelFloat& p = *world.PixelF(x, y);
  return c == 0 ? p.alpha : c == 1 ? p.red : c == 2 ? p.green : p.blue;
}

// The 16-bit image's values on the float scale.
std::unique_ptr<SoftWorld> Promoted(const Image& image) {
  auto world = FloatWorld(image.width, image.height);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        Channel(*world, x, y, c) = static_cast<float>(image.At(x, y)[c]) / 32768.0f;
      }
    }
  }
  return world;
}

struct Scene {
  int32_t blurType;  // 1-based popup value
  double amount;
  bool controlled;  // the layer itself as its Blur Control Layer
  int32_t view;     // 1 Normal, 2 Kernel, 3 BCL
};

void Set(softhost::Host& host, const Scene& s) {
  std::vector<PF_ParamDef>& p = host.Params();
  p[ParamOutputView].u.pd.value = s.view;
  p[ParamBlurType].u.pd.value = s.blurType;
  p[ParamUniformAmount].u.bd.value = 1;
  p[ParamBlurAmount].u.fd.value = static_cast<PF_Fixed>(std::lround(s.amount * 65536.0));
  host.SetLayer(ParamBCLLayer, softhost::LayerChoice{s.controlled ? softhost::LayerChoice::Self
                                                                  : softhost::LayerChoice::None,
                                                     nullptr});
  // The custom shape reads the frame itself, which for float is a control.
  host.SetLayer(
      ParamShapeLayer,
      softhost::LayerChoice{
          s.blurType == 8 ? softhost::LayerChoice::Self : softhost::LayerChoice::None, nullptr});
}

PF_Err RenderInto(softhost::Host& host, SoftWorld& input, SoftWorld& output) {
  host.SetInput(input.World());
  return host.Render(EffectMain, output.World());
}

class FloatAgainst16 : public ::testing::TestWithParam<Scene> {};

TEST_P(FloatAgainst16, RendersThe16BitImageUpToItsTruncation) {
  const Scene s = GetParam();
  SCOPED_TRACE(::testing::Message() << "type " << s.blurType << " amount " << s.amount
                                    << (s.controlled ? " controlled" : "") << " view " << s.view);
  const Image input = MakePattern(Random, 37, 29, true, 7);
  softhost::Host host(ReferenceHostConfig());
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  Set(host, s);

  const auto in16 = ToWorld(input);
  SoftWorld out16(input.width, input.height, true);
  ASSERT_EQ(RenderInto(host, *in16, out16), PF_Err_NONE) << host.OutData()->return_msg;
  const Image expected = Load(out16);

  const auto inF = Promoted(input);
  const auto outF = FloatWorld(input.width, input.height);
  ASSERT_EQ(RenderInto(host, *inF, *outF), PF_Err_NONE) << host.OutData()->return_msg;
  EXPECT_EQ(host.LiveWorlds(), 0);

  // Each tap's float product lies at or above its truncated 16-bit value
  // and below the next step; two passes widen that to two steps.
  const double above = s.view == 1 ? 2.0 : 0.0;
  for (int32_t y = 0; y < input.height; ++y) {
    for (int32_t x = 0; x < input.width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        const double got = Channel(*outF, x, y, c) * 32768.0;
        const int32_t want = expected.At(x, y)[c];
        if (got >= want && got <= want + above) continue;
        FAIL() << "at (" << x << ", " << y << ") channel " << c << ": float " << got
               << " x 2^-15, 16-bit " << want << ", input " << input.At(x, y)[c];
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryShapeViewAndPath, FloatAgainst16,
    ::testing::Values(Scene{1, 14, false, 1}, Scene{2, 9, false, 1}, Scene{3, 9, false, 1},
                      Scene{4, 11, false, 1}, Scene{5, 12, false, 1}, Scene{6, 12, false, 1},
                      Scene{7, 10, false, 1}, Scene{8, 8, false, 1}, Scene{9, 10, false, 1},
                      Scene{1, 14, true, 1}, Scene{5, 12, true, 1}, Scene{7, 10, true, 1},
                      Scene{1, 14, false, 2}, Scene{5, 12, false, 2}, Scene{1, 14, true, 3}));

// One point of 20.0 on black through the Gaussian: every output pixel is the
// point's value times the across weight, then times the down weight, each
// scaled by 2^-15, in float; the centre keeps 20.0 itself.
TEST(FloatRender, AHighlightKeepsItsValueAndTakesTheKernelsShape) {
  constexpr int32_t kSide = 41;
  constexpr int32_t kAmount = 16;
  const std::vector<int32_t> across = Profile(Gaussian, kAmount / 2.0, true);
  const std::vector<int32_t> down = Profile(Gaussian, kAmount / 2.0, false);
  softhost::Host host(ReferenceHostConfig());
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  Set(host, Scene{1, kAmount, false, 1});
  const auto in = FloatWorld(kSide, kSide);
  *in->PixelF(kSide / 2, kSide / 2) = PF_PixelFloat{1.0f, 20.0f, 3.5f, 0.25f};
  const auto out = FloatWorld(kSide, kSide);
  ASSERT_EQ(RenderInto(host, *in, *out), PF_Err_NONE) << host.OutData()->return_msg;

  EXPECT_EQ(out->PixelF(kSide / 2, kSide / 2)->red, 20.0f);
  const int32_t hw = static_cast<int32_t>(across.size()) / 2;
  const int32_t hh = static_cast<int32_t>(down.size()) / 2;
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      const int32_t i = x - kSide / 2 + hw;
      const int32_t j = y - kSide / 2 + hh;
      float want = 0.0f;
      if (i >= 0 && j >= 0 && i < 2 * hw + 1 && j < 2 * hh + 1 && across[size_t(i)] > 0 &&
          down[size_t(j)] > 0) {
        const float first = 20.0f * (static_cast<float>(across[size_t(i)]) * 0x1p-15f);
        want = first * (static_cast<float>(down[size_t(j)]) * 0x1p-15f);
      }
      ASSERT_EQ(std::bit_cast<uint32_t>(out->PixelF(x, y)->red), std::bit_cast<uint32_t>(want))
          << "at (" << x << ", " << y << "): " << out->PixelF(x, y)->red << " for " << want;
    }
  }
}

// NaN and negative channels raise nothing, so a frame holding them renders
// the frame with zeros in their place, bit for bit; colour under an alpha
// that is not above 0 is hidden. +Inf spreads as +Inf over the kernel.
TEST(FloatRender, NaNNegativesAndInfinityActAsDefined) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  for (const int32_t blurType : {1, 5, 7}) {
    for (const bool controlled : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << "type " << blurType << (controlled ? " controlled" : ""));
      softhost::Host host(ReferenceHostConfig());
      ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
      Set(host, Scene{blurType, 10, controlled, 1});
      constexpr int32_t kW = 33, kH = 27;
      const auto odd = FloatWorld(kW, kH);
      const auto clean = FloatWorld(kW, kH);
      for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
          const float base = static_cast<float>((x * 7 + y * 13) % 11) * 0.3f;
          *odd->PixelF(x, y) = *clean->PixelF(x, y) = PF_PixelFloat{1.0f, base, base * 0.5f, 2.0f};
        }
      }
      *odd->PixelF(3, 4) = PF_PixelFloat{1.0f, kNaN, -5.0f, -0.0f};
      *clean->PixelF(3, 4) = PF_PixelFloat{1.0f, 0.0f, 0.0f, 0.0f};
      *odd->PixelF(20, 9) = PF_PixelFloat{kNaN, 9.0f, 9.0f, 9.0f};
      *odd->PixelF(10, 20) = PF_PixelFloat{-1.0f, 9.0f, 9.0f, 9.0f};
      *clean->PixelF(20, 9) = *clean->PixelF(10, 20) = PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f};
      const auto outOdd = FloatWorld(kW, kH);
      const auto outClean = FloatWorld(kW, kH);
      ASSERT_EQ(RenderInto(host, *odd, *outOdd), PF_Err_NONE) << host.OutData()->return_msg;
      ASSERT_EQ(RenderInto(host, *clean, *outClean), PF_Err_NONE);
      for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
          for (int32_t c = 0; c < 4; ++c) {
            const float got = Channel(*outOdd, x, y, c);
            // As a control, the hidden colour still counts, so the kernels
            // differ; what stays is an output of no NaN and nothing below 0.
            if (controlled) {
              ASSERT_TRUE(got >= 0.0f) << "at (" << x << ", " << y << ") channel " << c;
              continue;
            }
            ASSERT_EQ(std::bit_cast<uint32_t>(got),
                      std::bit_cast<uint32_t>(Channel(*outClean, x, y, c)))
                << "at (" << x << ", " << y << ") channel " << c;
          }
        }
      }

      odd->PixelF(16, 13)->green = kInf;
      ASSERT_EQ(RenderInto(host, *odd, *outOdd), PF_Err_NONE);
      EXPECT_EQ(outOdd->PixelF(16, 13)->green, kInf);
      EXPECT_EQ(outOdd->PixelF(17, 13)->green, kInf);
      EXPECT_TRUE(std::isfinite(outOdd->PixelF(0, 0)->green));
      EXPECT_TRUE(std::isfinite(outOdd->PixelF(16, 13)->red));
    }
  }
}

}  // namespace
}  // namespace rendertest
