// The fast two-dimensional shapes against the straightforward gather and
// scatter: Star, Spiral, a drawn Custom shape and hand-made kernels with
// weights of 0, exactly 32768, above it and beyond the lanes, uniform and
// under a noisy control layer, at every instruction set this processor has
// and on one host thread and three.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "FastCompare.h"
#include "convolution/Engine.h"
#include "kernels/CustomKernel.h"
#include "kernels/KernelMaker.h"
#include "kernels/SpiralKernel.h"
#include "kernels/StarKernel.h"
#include "shell/HostInfo.h"

namespace {

using fasttest::Get;
using fasttest::Noise;
using fasttest::Set;
using softhost::SoftWorld;

PF_Err NoCommand(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return PF_Err_NONE;
}

// A kernel of given weights for every amount; under a control layer rung k
// gets every weight scaled by (k + 1) / count, so that the rungs differ.
std::vector<int32_t> Scaled(const std::vector<int32_t>& weights, int32_t k, int32_t count) {
  std::vector<int32_t> out(weights);
  for (int32_t& w : out) w = static_cast<int32_t>(static_cast<int64_t>(w) * (k + 1) / count);
  return out;
}

// Masked makers also record where each rung's weights are positive.
template <class Base>
class FixedMaker : public Base {
 public:
  FixedMaker(int32_t w, int32_t h, std::vector<int32_t> k)
      : width(w), height(h), weights(std::move(k)) {}
  void PrepareShape(double h, double v, int32_t kernelCount) override {
    Base::PrepareShape(h, v, kernelCount);
    count = kernelCount;
  }
  void GetKernelSize(double, double, int32_t* w, int32_t* h) override {
    *w = width;
    *h = height;
  }
  void BuildKernel(int32_t* out, double, double, int32_t kernelIndex) override {
    const std::vector<int32_t> k = Scaled(weights, kernelIndex, count);
    std::copy(k.begin(), k.end(), out);
    if constexpr (std::is_base_of_v<MaskedKernelMaker, Base>) {
      this->RecordPositives(out, width, height, kernelIndex);
    }
  }

 private:
  int32_t width, height, count = 1;
  std::vector<int32_t> weights;
};

enum class Shape { Star, Spiral, Custom, Fixed, FixedMasked };

struct Case {
  const char* name;
  Shape shape;
  int32_t width, height;
  double h, v;
  int32_t compoundShapes;             // 0: no control layer
  std::vector<int32_t> weights = {};  // Fixed shapes: 5 x 3
};

// Weights of 0, negative, exactly 32768, just above it and up to the lanes'
// end, in a kernel that is not symmetric under a half turn.
const std::vector<int32_t> kOdd = {0,     1,     32768, 70, -5,    32769, 12000, 40000,
                                   65535, 32768, 2,     0,  30000, 32767, 9};
// Weights above 32768 that still keep 8-bit values within a channel.
const std::vector<int32_t> kHighEight = {32895, 0,     32768, 1,   32769, 20000, 7,    32800,
                                         0,     32767, 4,     900, 32768, 16384, 32895};
// One weight beyond the lanes: the straightforward loop must run.
const std::vector<int32_t> kBeyond = {0, 70000, 0, 1, 32768, 5, 0, 3, 0, 4, 0, 2, 0, 1, 0};

const Case kCases[] = {
    {"StarWiderThanImage", Shape::Star, 9, 7, 13, 11, 0},
    {"StarControlTwoRungs", Shape::Star, 23, 17, 12, 5, 2},
    {"SpiralControl", Shape::Spiral, 29, 19, 6, 6, 50},
    {"CustomUniform", Shape::Custom, 31, 25, 7, 5, 0},
    {"CustomControl", Shape::Custom, 27, 19, 6, 8, 7},
    {"FixedWeights", Shape::Fixed, 19, 13, 0, 0, 0, kOdd},
    {"FixedHighWeightsControl", Shape::FixedMasked, 21, 9, 3, 2, 2, kHighEight},
    {"FixedMaskedControl", Shape::FixedMasked, 15, 13, 3, 2, 7, kOdd},
    {"BeyondLanesControl", Shape::FixedMasked, 13, 9, 2, 2, 2, kBeyond},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// An alpha ring with a bar, drawn as the custom shape.
void DrawShapeLayer(PF_EffectWorld* w) {
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      const int32_t dx = 2 * x - w->width, dy = 2 * y - w->height;
      const bool on = (dx * dx + dy * dy > 60 && dx * dx + dy * dy < 200) || (y == 3 && x > 4);
      for (int32_t c = 0; c < 4; ++c) Set(w, x, y, c, on ? 255 : 0);
    }
  }
}

std::unique_ptr<KernelMaker> MakeShape(const Case& c, PF_InData* in, KernelSettings& settings) {
  switch (c.shape) {
    case Shape::Star:
      return std::make_unique<StarKernelMaker>(in);
    case Shape::Spiral:
      return std::make_unique<SpiralKernelMaker>(in);
    case Shape::Custom:
      return std::make_unique<CustomKernelMaker>(settings);
    case Shape::Fixed:
      return std::make_unique<FixedMaker<KernelMaker>>(5, 3, c.weights);
    case Shape::FixedMasked:
      break;
  }
  return std::make_unique<FixedMaker<MaskedKernelMaker>>(5, 3, c.weights);
}

using Param = std::tuple<Case, bool /*deep*/, int /*threads*/>;

class TwoDimensionalFast : public ::testing::TestWithParam<Param> {
 protected:
  void TearDown() override {
    ResetEngineForTesting();
    ResetHostInfo();
  }
};

TEST_P(TwoDimensionalFast, MatchesStraightforward) {
  const auto& [c, deep, threads] = GetParam();
  softhost::HostConfig config;
  config.threads = threads;
  softhost::Host host(config);
  host.Call(&NoCommand, PF_Cmd_ABOUT);
  RecordHostInfo(host.InData());

  SoftWorld src(c.width, c.height, deep), floor(c.width, c.height, deep);
  SoftWorld layer(c.width - 3, c.height - 2, !deep), shape(16, 12, false);
  const int32_t top = deep ? 32768 : 255;
  Noise(src.World(), 11 + c.width, top, 4);
  Noise(layer.World(), 12 + c.height, deep ? 255 : 32768, 9);
  DrawShapeLayer(shape.World());
  // A floor of dim values that the result must keep where nothing beats it.
  Noise(floor.World(), 13, top / 8, 2);

  KernelSettings settings;
  settings.inData = host.InData();
  settings.hAmount = c.h;
  settings.vAmount = c.v;
  settings.shapeWorld = shape.World();
  settings.shapeChannel = kShapeAlpha;
  KernelHolderFactory factory;
  factory.useBCL = c.compoundShapes > 0;
  factory.inData = host.InData();
  factory.source = src.World();
  factory.bclWorld = layer.World();
  factory.bcl = BCLSettings{2, 0, 0, 1, 0, 0, 1.0, 1.0, false, c.compoundShapes};

  auto render = [&](Engine engine, SimdLevel level) {
    auto out = std::make_unique<SoftWorld>(c.width, c.height, deep);
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        for (int32_t k = 0; k < 4; ++k) Set(out->World(), x, y, k, Get(floor.World(), x, y, k));
      }
    }
    SetEngineForTesting(engine);
    SetSimdLevelForTesting(level);
    std::unique_ptr<KernelMaker> maker = MakeShape(c, host.InData(), settings);
    maker->ConvolveImage(src.World(), out->World(), &settings, &factory);
    return out;
  };
  const auto expected = render(Engine::Reference, SimdLevel::Scalar);
  for (int32_t l = 0; l <= static_cast<int32_t>(CpuSimdLevel()); ++l) {
    const auto level = static_cast<SimdLevel>(l);
    const auto actual = render(Engine::Fast, level);
    EXPECT_EQ(
        fasttest::FirstDifference(expected->World(), actual->World(), src.World(), floor.World()),
        "")
        << SimdLevelName(level);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, TwoDimensionalFast,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool(),
                                            ::testing::Values(1, 3)),
                         [](const ::testing::TestParamInfo<Param>& p) {
                           return std::string(std::get<0>(p.param).name) +
                                  (std::get<1>(p.param) ? "Deep" : "Eight") + "Threads" +
                                  std::to_string(std::get<2>(p.param));
                         });

}  // namespace
