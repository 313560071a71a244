// The fast separable engine against the straightforward passes: hand-made
// kernels through the pass routines, and the separable shapes and the cross
// through the effect, at every instruction set here, on one thread and three.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "FastCompare.h"
#include "convolution/Engine.h"
#include "convolution/Separable.h"
#include "convolution/fast/SeparableFast.h"
#include "image/AEWorld.h"
#include "render/RenderHarness.h"

namespace {

using softhost::SoftWorld;

std::vector<SimdLevel> Levels() {
  std::vector<SimdLevel> levels;
  for (int l = 0; l <= static_cast<int>(CpuSimdLevel()); ++l) {
    levels.push_back(static_cast<SimdLevel>(l));
  }
  return levels;
}

std::vector<int32_t> Tent(int32_t half, int32_t peak) {
  std::vector<int32_t> k;
  for (int32_t i = -half; i <= half; ++i) k.push_back(peak - peak * std::abs(i) / (half + 1));
  return k;
}

KernelView ViewOf(std::vector<int32_t>& weights, bool across) {
  KernelView v;
  v.kernelIndex = 0;
  v.width = across ? static_cast<int32_t>(weights.size()) : 1;
  v.height = across ? 1 : static_cast<int32_t>(weights.size());
  v.rowStride = v.width;
  v.weights = weights.data();
  return v;
}

class HandMadeKernels : public ::testing::TestWithParam<bool> {};

TEST_P(HandMadeKernels, MatchTheStraightforwardPasses) {
  const bool deep = GetParam();
  // The largest weight that keeps 255 in range at 8 bits; at 16 bits values
  // near 65535 overflow and must take the exact emulation.
  const int32_t top = deep ? 65535 : 32896;
  std::vector<int32_t> offCentre = Tent(20, 32767);
  offCentre.insert(offCentre.begin(), 0);
  struct KernelCase {
    const char* name;
    std::vector<int32_t> across, down;  // centre at size / 2
  };
  const KernelCase kernels[] = {
      {"zero and unit", {0, 32768, 0}, {32767, 0, 32769}},
      {"fans", Tent(40, 32768), Tent(33, 32767)},
      {"off centre, even", offCentre, {9000, 32768, 32768, 20000, 0, 1}},
      {"above unit", {top, 32768, top - 1, 40000 < top ? 40000 : top}, Tent(6, top)},
      {"wider than the image", Tent(70, 32768), Tent(50, 32769)},
  };
  const int32_t sizes[][2] = {{1, 19}, {37, 23}, {64, 40}};
  for (KernelCase k : kernels) {
    const KernelView across = ViewOf(k.across, true);
    const KernelView down = ViewOf(k.down, false);
    for (const auto& [w, h] : sizes) {
      // 65535 is never sent by the host, but the passes must still agree.
      const int32_t full = deep && w == 37 ? 65535 : deep ? 32768 : 255;
      SoftWorld src(w, h, deep), floor(w, h, deep);
      fasttest::Noise(src.World(), 11, full, 5);
      fasttest::Noise(floor.World(), 12, full / 3, 3);
      for (int threads : {1, 3}) {
        softhost::HostConfig config;
        config.threads = threads;
        softhost::Host host(config);
        SoftWorld expected(w, h, deep);
        rendertest::Store(rendertest::Load(floor), expected);
        {
          AEWorld temp(host.InData());
          temp.CopyFrom(expected.World());
          IterateMaxGather(host.InData(), across, src.World(), temp.World(), nullptr, deep, 0,
                           2 * h);
          IterateMaxGather(host.InData(), down, temp.World(), expected.World(), nullptr, deep, h,
                           2 * h);
        }
        for (SimdLevel level : Levels()) {
          SCOPED_TRACE(::testing::Message()
                       << k.name << ", " << w << " x " << h << ", " << (deep ? 16 : 8) << " bpc, "
                       << threads << " threads, " << SimdLevelName(level));
          SoftWorld out(w, h, deep);
          rendertest::Store(rendertest::Load(floor), out);
          ASSERT_TRUE(
              ConvolveSeparableFast(host.InData(), across, down, src.World(), out.World(), level));
          const std::string d =
              fasttest::FirstDifference(expected.World(), out.World(), src.World(), floor.World());
          ASSERT_TRUE(d.empty()) << d;
        }
      }
    }
  }
}

// Weights the vector arithmetic cannot reproduce are left to the
// straightforward passes, untouched.
TEST_P(HandMadeKernels, DeclineWeightsBeyondTheEngine) {
  const bool deep = GetParam();
  std::vector<int32_t> heavy{1, deep ? 65536 : 32897, 1};
  std::vector<int32_t> unit{32768};
  std::vector<int32_t> square{32768, 32768, 32768, 32768};
  softhost::Host host;
  SoftWorld in(9, 7, deep), out(9, 7, deep);
  fasttest::Noise(in.World(), 3, deep ? 32768 : 255, 5);
  const rendertest::Image before = rendertest::Load(out);
  KernelView wide = ViewOf(square, true);
  wide.width = wide.height = wide.rowStride = 2;
  for (const auto& [a, d] : {std::pair{ViewOf(heavy, true), ViewOf(unit, false)},
                             std::pair{ViewOf(unit, true), ViewOf(heavy, false)},
                             std::pair{wide, ViewOf(unit, false)}}) {
    EXPECT_FALSE(
        ConvolveSeparableFast(host.InData(), a, d, in.World(), out.World(), CpuSimdLevel()));
    EXPECT_TRUE(rendertest::FirstDifference(before, rendertest::Load(out), before).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, HandMadeKernels, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Deep" : "Eight"; });

class EngineParity : public ::testing::TestWithParam<bool> {
 protected:
  void TearDown() override { ResetEngineForTesting(); }
};

rendertest::Image Render(const rendertest::Controls& c, int threads,
                         const rendertest::Image& input) {
  softhost::HostConfig config = rendertest::ReferenceHostConfig();
  config.threads = threads;
  softhost::Host host(config);
  EXPECT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  rendertest::Apply(host, c);
  SoftWorld in(input.width, input.height, input.deep);
  SoftWorld out(input.width, input.height, input.deep);
  rendertest::Store(input, in);
  host.SetInput(in.World());
  EXPECT_EQ(host.Render(EffectMain, out.World()), PF_Err_NONE) << host.OutData()->return_msg;
  return rendertest::Load(out);
}

TEST_P(EngineParity, EverySeparableShapeAndTheCross) {
  const bool deep = GetParam();
  // 0-based "Blur Type": Gaussian, Diamond, Sharp Diamond, Box, Cross,
  // Cylinder; amounts 0, fractional, one axis only, wider than the image.
  const struct {
    int32_t blurType;
    double amount, vertical;
  } cases[] = {{0, 0, 0},  {0, 37, 11}, {1, 5.5, 5.5}, {2, 24, 0},
               {3, 0, 30}, {6, 130, 9}, {8, 19.5, 45}, {1, 180, 180}};
  SoftWorld noise(45, 31, deep);
  fasttest::Noise(noise.World(), 77, deep ? 32768 : 255, 5);
  // Colour under transparent pixels, which the fast engine must mask while
  // it reads the host's input instead of a cleaned copy.
  for (int32_t y = 0; y < noise.World()->height; ++y) {
    for (int32_t x = (y * 3) % 7; x < noise.World()->width; x += 7) {
      fasttest::Set(noise.World(), x, y, 0, 0);
    }
  }
  const rendertest::Image input = rendertest::Load(noise);
  for (const auto& s : cases) {
    rendertest::Controls c;
    c.shape = static_cast<rendertest::Shape>(s.blurType);
    c.uniform = false;
    c.amount = s.amount;
    c.vertical = s.vertical;
    SetEngineForTesting(Engine::Reference);
    const rendertest::Image expected = Render(c, 1, input);
    SetEngineForTesting(Engine::Fast);
    for (int threads : {1, 3}) {
      for (SimdLevel level : Levels()) {
        SCOPED_TRACE(::testing::Message() << "blur type " << s.blurType << ", " << s.amount << " x "
                                          << s.vertical << ", " << (deep ? 16 : 8) << " bpc, "
                                          << threads << " threads, " << SimdLevelName(level));
        SetSimdLevelForTesting(level);
        const std::string d =
            rendertest::FirstDifference(expected, Render(c, threads, input), input);
        ASSERT_TRUE(d.empty()) << d;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, EngineParity, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Deep" : "Eight"; });

}  // namespace
