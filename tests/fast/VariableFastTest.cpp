// The fast control-layer paths against the straightforward record algorithm
// and column scatter: separable shapes (the effect's own, and profiles whose
// peaks pass 32768 or the lanes' range), both pass orders, ladders of 2 to
// 50 rungs, every depth of image and layer, noisy and smooth images, at
// every instruction set this processor has; and a user abort, which must
// leave the same partial image, answer PF_Interrupt_CANCEL and leak nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "FastCompare.h"
#include "convolution/Engine.h"
#include "convolution/VariablePasses.h"
#include "image/AEException.h"
#include "kernels/KernelMaker.h"
#include "kernels/StarKernel.h"
#include "shell/EntryPoint.h"
#include "shell/HostInfo.h"
#include "shell/ParamIndices.h"

namespace {

using fasttest::Set;
using softhost::SoftWorld;

// Noise, one pixel in five black; or a smooth ramp with scattered bright
// pixels, whose records mostly dominate each other.
void Paint(PF_EffectWorld* w, bool smooth, uint32_t seed) {
  const int32_t full = IsDeep(w) ? 32768 : 255;
  if (!smooth) return fasttest::Noise(w, seed, full, 5);
  std::mt19937 rng(seed);
  for (int32_t y = 0; y < w->height; ++y) {
    for (int32_t x = 0; x < w->width; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        Set(w, x, y, c,
            rng() % 23 == 0 ? full : full * (x + 2 * y + c) / (w->width + 2 * w->height + 4));
      }
    }
  }
}

// A tent whose peak grows with the amount up to `peak`, so that rungs and
// both passes carry weights above 32768.
class PeakedMaker : public KernelMaker1D {
 public:
  explicit PeakedMaker(int32_t top) : peak(top) {}
  void MakeProfile(int32_t* profile, double amount, bool) override {
    const int32_t n = BaseKernelLength(amount);
    const int32_t centre = std::min(peak, 32768 + static_cast<int32_t>(amount * 700));
    for (int32_t i = 0; i < n; ++i) {
      profile[i] = std::max(0, centre - std::abs(i - n / 2) * 5000 + (i % 3) * 40);
    }
  }

 private:
  int32_t peak;
};

enum class Shape { Gaussian, Box, Diamond, Cylinder, MildPeaks, HighPeaks, Beyond };

std::unique_ptr<KernelMaker1D> MakeShape(Shape shape, PF_InData* in) {
  switch (shape) {
    case Shape::Gaussian:
      return std::make_unique<GaussianKernelMaker>(in);
    case Shape::Box:
      return std::make_unique<BoxKernelMaker>(in);
    case Shape::Diamond:
      return std::make_unique<DiamondKernelMaker>(in);
    case Shape::Cylinder:
      return std::make_unique<CylinderKernelMaker>(in);
    case Shape::MildPeaks:  // 8-bit values stay within a channel
      return std::make_unique<PeakedMaker>(32895);
    case Shape::HighPeaks:
      return std::make_unique<PeakedMaker>(45000);
    case Shape::Beyond:  // beyond the lanes: the straightforward loop runs
      break;
  }
  return std::make_unique<PeakedMaker>(70000);
}

struct Case {
  const char* name;
  Shape shape;
  double h, v;
  int32_t compoundShapes;
  int32_t depths;  // bit 0: 16-bit image, bit 1: 16-bit layer, bit 2: inverted
  bool smooth;
};

const Case kCases[] = {
    {"GaussianDown", Shape::Gaussian, 9.5, 3, 50, 0, false},
    {"GaussianDeepSmooth", Shape::Gaussian, 7, 14, 7, 3, true},
    {"GaussianInverted", Shape::Gaussian, 6, 6, 7, 6, false},
    {"GaussianOneAxis", Shape::Gaussian, 0, 8, 50, 1, false},
    {"BoxWide", Shape::Box, 30, 45, 50, 0, false},
    {"DiamondDeep", Shape::Diamond, 8, 8, 2, 3, false},
    {"Cylinder", Shape::Cylinder, 9, 6, 7, 4, false},
    {"MildPeaksDown", Shape::MildPeaks, 7, 4, 50, 2, true},
    {"HighPeaksDeep", Shape::HighPeaks, 4, 6, 7, 1, false},
    {"BeyondLanes", Shape::Beyond, 5, 3, 7, 1, false},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// An image, a noisy control layer a little smaller than it (centred, so a
// border lies outside the layer) and the records a render needs.
struct Scene {
  Scene(softhost::Host& host, int32_t w, int32_t h, const Case& c)
      : src(w, h, (c.depths & 1) != 0), layer(w - 5, h - 3, (c.depths & 2) != 0) {
    Paint(src.World(), c.smooth, 7 + static_cast<uint32_t>(c.depths));
    Paint(layer.World(), false, 8);
    factory.useBCL = true;
    factory.inData = host.InData();
    factory.source = src.World();
    factory.bclWorld = layer.World();
    factory.bcl = BCLSettings{2, 0, 1, 1, 0, 0, 1.0, 1.0, (c.depths & 4) != 0, c.compoundShapes};
    settings.inData = host.InData();
    settings.hAmount = c.h;
    settings.vAmount = c.v;
  }
  SoftWorld src, layer;
  KernelHolderFactory factory;
  KernelSettings settings;
};

class VariableFast : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override { ResetEngineForTesting(); }
};

TEST_P(VariableFast, MatchesTheRecordAlgorithm) {
  const Case& c = GetParam();
  softhost::Host host;
  Scene scene(host, 37, 26, c);
  auto render = [&](Engine engine, SimdLevel level) {
    SetEngineForTesting(engine);
    SetSimdLevelForTesting(level);
    auto out = std::make_unique<SoftWorld>(37, 26, (c.depths & 1) != 0);
    const std::unique_ptr<KernelMaker1D> maker = MakeShape(c.shape, host.InData());
    (IsDeep(scene.src.World()) ? ConvolveVariable16 : ConvolveVariable8)(
        scene.src.World(), out->World(), &scene.settings, &scene.factory, maker.get());
    return out;
  };
  const auto expected = render(Engine::Reference, SimdLevel::Scalar);
  for (const int threads : {1, 3}) {
    host.Config().threads = threads;
    for (int32_t l = 0; l <= static_cast<int32_t>(CpuSimdLevel()); ++l) {
      const auto level = static_cast<SimdLevel>(l);
      const auto actual = render(Engine::Fast, level);
      EXPECT_EQ(
          fasttest::FirstDifference(expected->World(), actual->World(), scene.src.World(), nullptr),
          "")
          << SimdLevelName(level) << ", " << threads << " threads";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, VariableFast, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return p.param.name; });

// The control-layer paths run in parallel on the fast engine, so a stop has
// no meaningful partial image: stopped at the last poll of the render, both
// answer the host's code and leave the output as it arrived.
TEST(VariableFastAbort, StopLeavesTheOutputAsItArrived) {
  for (const bool star : {false, true}) {
    const Case c = star ? Case{"star", Shape::Gaussian, 5, 4, 7, 1, false}
                        : Case{"across", Shape::Gaussian, 3, 6, 7, 1, false};
    SCOPED_TRACE(c.name);
    SetEngineForTesting(Engine::Fast);
    long polls = 0;
    auto render = [&](int abortAt, PF_Err* err) {
      softhost::Host host;
      host.Call([](PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*,
                   void*) -> PF_Err { return PF_Err_NONE; },
                PF_Cmd_ABOUT);
      RecordHostInfo(host.InData());
      Scene scene(host, 29, 21, c);
      host.Faults().abortAfterPolls = abortAt;
      auto out = std::make_unique<SoftWorld>(29, 21, IsDeep(scene.src.World()));
      std::unique_ptr<KernelMaker> maker;
      if (star) {
        maker = std::make_unique<StarKernelMaker>(host.InData());
      } else {
        maker = MakeShape(c.shape, host.InData());
      }
      *err = PF_Err_NONE;
      try {
        maker->ConvolveImage(scene.src.World(), out->World(), &scene.settings, &scene.factory);
      } catch (const AEException& e) {
        *err = e.Code();
        EXPECT_STREQ(e.Message(), "ConvolveImage: Error or user Abort.");
      }
      ResetHostInfo();
      polls = host.AbortPolls();
      return out;
    };
    PF_Err err = PF_Err_NONE;
    const auto whole = render(-1, &err);
    ASSERT_EQ(err, PF_Err_NONE);
    const auto stopped = render(static_cast<int>(polls) - 1, &err);
    EXPECT_EQ(err, PF_Interrupt_CANCEL);
    const SoftWorld untouched(29, 21, IsDeep(stopped->World()));
    EXPECT_EQ(
        fasttest::FirstDifference(untouched.World(), stopped->World(), whole->World(), nullptr),
        "");
  }
  ResetEngineForTesting();
}

// Through the module, which serves its memory from host handles: an
// aborted control-layer render gives every handle back.
TEST(VariableFastAbort, AbortedRendersThroughTheModuleLeakNothing) {
  softhost::EffectModule module(QB_MODULE_PATH);
  for (const int32_t blurType : {1, 5}) {  // Gaussian, Star
    softhost::Host host;
    ASSERT_EQ(host.Setup(module.Entry()), PF_Err_NONE);
    SoftWorld src(60, 40, true), layer(60, 40, false), out(60, 40, true);
    Paint(src.World(), true, 3);
    Paint(layer.World(), false, 4);
    host.SetInput(src.World());
    host.Params()[ParamBlurType].u.pd.value = blurType;
    host.Params()[ParamBlurAmount].u.fd.value = 24 << 16;
    host.SetLayer(ParamBCLLayer,
                  softhost::LayerChoice{softhost::LayerChoice::Image, layer.World()});
    const long live = softhost::GetHandleStats().live;
    host.Faults().abortAfterPolls = 5;
    EXPECT_EQ(host.Render(module.Entry(), out.World()), PF_Interrupt_CANCEL) << blurType;
    EXPECT_EQ(softhost::GetHandleStats().live, live) << blurType;
    EXPECT_EQ(host.LiveWorlds(), 0) << blurType;
  }
}

}  // namespace
