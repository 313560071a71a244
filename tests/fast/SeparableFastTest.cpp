// The fast separable engine against the straightforward passes it replaces:
// hand-made kernels through the pass routines, and every separable shape and
// the cross through the effect, at every instruction set this processor has,
// on one thread and on three.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "convolution/Engine.h"
#include "convolution/Separable.h"
#include "convolution/fast/SeparableFast.h"
#include "image/AEWorld.h"
#include "render/RenderHarness.h"

namespace {

using rendertest::Controls;
using rendertest::Image;
using rendertest::Pix;

std::vector<SimdLevel> Levels() {
  std::vector<SimdLevel> levels;
  for (int l = 0; l <= static_cast<int>(CpuSimdLevel()); ++l) {
    levels.push_back(static_cast<SimdLevel>(l));
  }
  return levels;
}

Image RandomImage(int32_t w, int32_t h, bool deep, int32_t top, uint32_t seed) {
  Image image(w, h, deep);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(0, top);
  for (Pix& p : image.pixels) {
    p = Pix{rng() % 5 == 0 ? 0 : value(rng), value(rng), value(rng), value(rng)};
  }
  return image;
}

// A dim, flat image with a few bright pixels: the result is settled early
// almost everywhere, except where a far, light tap meets a bright pixel.
Image SparseImage(int32_t w, int32_t h, bool deep, int32_t top, uint32_t seed) {
  Image image(w, h, deep, Pix{top / 30, top / 40, top / 50, top / 60});
  std::mt19937 rng(seed);
  for (Pix& p : image.pixels) {
    if (rng() % 40 == 0) p = Pix{top, top, top / 2, top};
  }
  return image;
}

// First differing (x, y, channel) with the expected and actual pixels, the
// source pixel and the floor dst started from.
std::string Difference(const Image& expected, const Image& actual, const Image& src,
                       const Image& floor) {
  static const char* const kChannel[] = {"alpha", "red", "green", "blue"};
  auto argb = [](const Pix& p) {
    std::ostringstream s;
    s << p[0] << " " << p[1] << " " << p[2] << " " << p[3];
    return s.str();
  };
  for (int32_t y = 0; y < expected.height; ++y) {
    for (int32_t x = 0; x < expected.width; ++x) {
      for (int c = 0; c < 4; ++c) {
        if (expected.At(x, y)[c] == actual.At(x, y)[c]) continue;
        std::ostringstream s;
        s << "(" << x << ", " << y << ") " << kChannel[c] << ": straightforward "
          << argb(expected.At(x, y)) << ", fast " << argb(actual.At(x, y)) << ", source "
          << argb(src.At(x, y)) << ", floor " << argb(floor.At(x, y));
        return s.str();
      }
    }
  }
  return "";
}

std::string DepthName(const ::testing::TestParamInfo<bool>& depth) {
  return depth.param ? "Deep" : "Eight";
}

// ---- Hand-made kernels through the pass routines ---------------------------

struct KernelCase {
  const char* name;
  std::vector<int32_t> across;  // kernel elements, centre at size / 2
  std::vector<int32_t> down;
};

std::vector<int32_t> Tent(int32_t half, int32_t peak) {
  std::vector<int32_t> k;
  for (int32_t i = -half; i <= half; ++i) k.push_back(peak - peak * std::abs(i) / (half + 1));
  return k;
}

// A plateau of `level` with the centre at 32768 and soft ends, as the
// smoothed box has.
std::vector<int32_t> Plateau(int32_t half, int32_t level) {
  std::vector<int32_t> k(static_cast<size_t>(2 * half + 1), level);
  for (int32_t i = 0; i < 4; ++i) {
    k[static_cast<size_t>(i)] = k[k.size() - 1 - static_cast<size_t>(i)] = level * (i + 1) / 5;
  }
  k[static_cast<size_t>(half)] = 32768;
  return k;
}

std::vector<int32_t> Noise(int32_t n, int32_t top, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> value(-2000, top);
  std::vector<int32_t> k(static_cast<size_t>(n));
  for (int32_t& w : k) w = rng() % 4 == 0 ? 0 : value(rng);
  return k;
}

std::vector<KernelCase> KernelCases(bool deep) {
  // The largest weight that keeps 255 in range at 8 bits; at 16 bits any
  // weight up to 65535 (values near 65535 then overflow and take the exact
  // emulation).
  const int32_t top = deep ? 65535 : 32896;
  std::vector<int32_t> offCentre = Tent(20, 32767);
  offCentre.insert(offCentre.begin(), 0);
  return {
      {"single taps", {32768}, {32768}},
      {"zero and unit", {0, 32768, 0}, {32767, 0, 32769}},
      {"fans", Tent(40, 32768), Tent(33, 32767)},
      {"plateaus", Plateau(45, 32769), Plateau(30, 32768)},
      {"off centre, even", offCentre, {9000, 32768, 32768, 20000, 0, 1}},
      {"above unit", {top, 32768, top - 1, 40000 < top ? 40000 : top}, Tent(6, top)},
      {"random", Noise(23, 32768, 5), Noise(17, top, 6)},
      {"wider than the image", Tent(70, 32768), Plateau(50, 32768)},
  };
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
  const int32_t sizes[][2] = {{1, 19}, {19, 1}, {13, 9}, {37, 23}, {64, 40}};
  for (KernelCase k : KernelCases(deep)) {
    const KernelView across = ViewOf(k.across, true);
    const KernelView down = ViewOf(k.down, false);
    for (const auto& size : sizes) {
      // At 16 bits values up to 65535, which the host never sends but the
      // passes must still treat as the straightforward loops do.
      const int32_t top = deep && size[0] == 37 ? 65535 : deep ? 32768 : 255;
      for (bool clearFloor : {true, false}) {
        // Clear floors with random pixels, raised ones with sparse bright ones.
        const Image src = clearFloor ? RandomImage(size[0], size[1], deep, top, 11)
                                     : SparseImage(size[0], size[1], deep, top, 11);
        const Image floor = clearFloor ? Image(size[0], size[1], deep)
                                       : RandomImage(size[0], size[1], deep, top / 3, 12);
        for (int threads : {1, 3}) {
          softhost::HostConfig config;
          config.threads = threads;
          softhost::Host host(config);
          softhost::SoftWorld in(size[0], size[1], deep), expected(size[0], size[1], deep);
          rendertest::Store(src, in);
          rendertest::Store(floor, expected);
          {
            AEWorld temp(host.InData());
            temp.CopyFrom(expected.World());
            IterateMaxGather(host.InData(), across, in.World(), temp.World(), nullptr, deep, 0,
                             2 * size[1]);
            IterateMaxGather(host.InData(), down, temp.World(), expected.World(), nullptr, deep,
                             size[1], 2 * size[1]);
          }
          for (SimdLevel level : Levels()) {
            SCOPED_TRACE(::testing::Message()
                         << k.name << ", " << size[0] << " x " << size[1] << (deep ? ", 16" : ", 8")
                         << " bpc, " << (clearFloor ? "clear" : "raised") << " floor, " << threads
                         << " threads, " << SimdLevelName(level));
            softhost::SoftWorld out(size[0], size[1], deep);
            rendertest::Store(floor, out);
            ASSERT_TRUE(
                ConvolveSeparableFast(host.InData(), across, down, in.World(), out.World(), level));
            const std::string d =
                Difference(rendertest::Load(expected), rendertest::Load(out), src, floor);
            ASSERT_TRUE(d.empty()) << d;
          }
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
  softhost::SoftWorld in(9, 7, deep), out(9, 7, deep);
  rendertest::Store(RandomImage(9, 7, deep, deep ? 32768 : 255, 3), in);
  const Image before = rendertest::Load(out);
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

INSTANTIATE_TEST_SUITE_P(Depths, HandMadeKernels, ::testing::Bool(), DepthName);

// ---- The effect, fast against straightforward ------------------------------

struct ShapeCase {
  int32_t blurType;  // 0-based "Blur Type" choice
  double amount, vertical;
};

class EngineParity : public ::testing::TestWithParam<bool> {
 protected:
  void TearDown() override { ResetEngineForTesting(); }
};

Image Render(const Controls& c, int threads, const Image& input) {
  softhost::HostConfig config = rendertest::ReferenceHostConfig();
  config.threads = threads;
  softhost::Host host(config);
  EXPECT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  rendertest::Apply(host, c);
  softhost::SoftWorld in(input.width, input.height, input.deep);
  softhost::SoftWorld out(input.width, input.height, input.deep);
  rendertest::Store(input, in);
  host.SetInput(in.World());
  EXPECT_EQ(host.Render(EffectMain, out.World()), PF_Err_NONE) << host.OutData()->return_msg;
  return rendertest::Load(out);
}

TEST_P(EngineParity, EverySeparableShapeAndTheCross) {
  const bool deep = GetParam();
  // Gaussian, Diamond, Sharp Diamond, Box, Cross, Cylinder; amounts 0,
  // fractional, unequal, one axis only, and kernels wider than the image.
  const ShapeCase cases[] = {{0, 0, 0},   {0, 37, 11}, {1, 5.5, 5.5}, {2, 24, 0},    {3, 0, 30},
                             {3, 61, 61}, {6, 41, 26}, {6, 130, 9},   {8, 19.5, 45}, {1, 180, 180}};
  const Image input = RandomImage(45, 31, deep, deep ? 32768 : 255, 77);
  for (const ShapeCase& s : cases) {
    Controls c;
    c.shape = static_cast<rendertest::Shape>(s.blurType);
    c.uniform = false;
    c.amount = s.amount;
    c.vertical = s.vertical;
    SetEngineForTesting(Engine::Reference);
    const Image expected = Render(c, 1, input);
    SetEngineForTesting(Engine::Fast);
    for (int threads : {1, 3}) {
      for (SimdLevel level : Levels()) {
        SCOPED_TRACE(::testing::Message() << "blur type " << s.blurType << ", " << s.amount << " x "
                                          << s.vertical << (deep ? ", 16" : ", 8") << " bpc, "
                                          << threads << " threads, " << SimdLevelName(level));
        SetSimdLevelForTesting(level);
        const std::string d =
            Difference(expected, Render(c, threads, input), input, Image(45, 31, deep));
        ASSERT_TRUE(d.empty()) << d;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, EngineParity, ::testing::Bool(), DepthName);

}  // namespace
