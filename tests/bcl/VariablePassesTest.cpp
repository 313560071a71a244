// The variable separable path against a reference written from its
// definition: every source pixel's first-pass samples spread with the
// second-pass kernel of the source's own control value, with no record
// merging. Equality shows that merging drops only records that cannot win.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "convolution/BCL.h"
#include "convolution/Engine.h"
#include "convolution/VariablePasses.h"
#include "image/AEException.h"
#include "kernels/KernelMaker.h"
#include "shapes/ShapesSupport.h"
#include "shell/ParamIndices.h"

namespace {

using shapestest::Channel;
using shapestest::SameImage;
using shapestest::SetChannel;
using softhost::SoftWorld;

// The profiles for the accumulated amounts 0, A/N, ...; a request gets the
// first amount it does not exceed by more than 1e-10, else the last.
class ReferenceLadder {
 public:
  ReferenceLadder(KernelMaker1D& maker, bool vertical, double amount, int32_t n) {
    for (double a = 0.0; static_cast<int32_t>(keys.size()) < n; a += amount / n) {
      int32_t w = 0, h = 0;
      maker.GetKernelSize(vertical ? 0.0 : a, vertical ? a : 0.0, &w, &h);
      std::vector<int32_t> profile(static_cast<size_t>(w) * h, 0);
      maker.BuildKernel(profile.data(), vertical ? 0.0 : a, vertical ? a : 0.0, 0);
      keys.push_back(a);
      profiles.push_back(profile);
    }
  }
  const std::vector<int32_t>& For(double request) const {
    for (size_t k = 0; k < keys.size(); ++k) {
      if (!(keys[k] < request && std::fabs(keys[k] - request) > 1e-10)) return profiles[k];
    }
    return profiles.back();
  }
  // Only when each rung reaches at least as far, tap by tap, as the one below
  // can a record of larger control value stand in for one of smaller value.
  bool Monotone() const {
    for (size_t k = 1; k < profiles.size(); ++k) {
      const int32_t half = static_cast<int32_t>(profiles[k].size() / 2);
      for (int32_t d = -half; d <= half; ++d) {
        if (Tap(profiles[k - 1], d) > Tap(profiles[k], d)) return false;
      }
    }
    return true;
  }

 private:
  static int32_t Tap(const std::vector<int32_t>& p, int32_t d) {
    const int32_t i = d + static_cast<int32_t>(p.size()) / 2;
    return i < 0 || i >= static_cast<int32_t>(p.size()) ? 0
                                                        : std::max(p[static_cast<size_t>(i)], 0);
  }
  std::vector<double> keys;
  std::vector<std::vector<int32_t>> profiles;
};

// Spreads the sources on the first lineLimit lines (rows when the first pass
// is horizontal, else columns) into dst; answers whether the second-pass
// ladder is monotone.
bool ReferenceVariable(PF_EffectWorld* src, PF_EffectWorld* dst, double hAmount, double vAmount,
                       const KernelHolderFactory& factory, KernelMaker1D& maker,
                       int32_t lineLimit = 1 << 30) {
  const bool firstHorizontal = hAmount < vAmount;
  const double a1 = firstHorizontal ? hAmount : vAmount;
  const double a2 = firstHorizontal ? vAmount : hAmount;
  const ReferenceLadder ladder1(maker, !firstHorizontal, a1, factory.bcl.compoundShapes);
  const ReferenceLadder ladder2(maker, firstHorizontal, a2, factory.bcl.compoundShapes);
  BCLImage bcl;
  bcl.Init(factory.inData, factory.source, factory.bclWorld, factory.bcl);
  const double d = shapestest::FullScale(factory.source);  // the image's scale, not the layer's
  for (int32_t y = 0; y < src->height; ++y) {
    for (int32_t x = 0; x < src->width; ++x) {
      if ((firstHorizontal ? y : x) >= lineLimit) continue;
      int32_t control = 0;
      const double f = bcl.SampleAmount(x, y, &control);
      const std::vector<int32_t>& k1 = ladder1.For(f * a1);
      const std::vector<int32_t>& k2 = ladder2.For(control / d * a2);
      const int32_t l1 = static_cast<int32_t>(k1.size()), l2 = static_cast<int32_t>(k2.size());
      for (int32_t i = 0; i < l1; ++i) {
        const int32_t tx = firstHorizontal ? x - l1 / 2 + i : x;
        const int32_t ty = firstHorizontal ? y : y - l1 / 2 + i;
        if (k1[i] <= 0 || tx < 0 || ty < 0 || tx >= src->width || ty >= src->height) continue;
        for (int32_t m = 0; m < l2; ++m) {
          const int32_t dx = firstHorizontal ? tx : tx - l2 / 2 + m;
          const int32_t dy = firstHorizontal ? ty - l2 / 2 + m : ty;
          if (k2[m] <= 0 || dx < 0 || dy < 0 || dx >= dst->width || dy >= dst->height) continue;
          for (int32_t c = 0; c < 4; ++c) {
            const int32_t v = (k2[m] * ((k1[i] * Channel(src, x, y, c)) >> 15)) >> 15;
            if (v > Channel(dst, dx, dy, c)) SetChannel(dst, dx, dy, c, v);
          }
        }
      }
    }
  }
  return ladder2.Monotone();
}

std::unique_ptr<KernelMaker1D> MakeShape(const std::string& name, PF_InData* inData) {
  if (name == "Gaussian") return std::make_unique<GaussianKernelMaker>(inData);
  if (name == "Diamond") return std::make_unique<DiamondKernelMaker>(inData);
  if (name == "SharpDiamond") return std::make_unique<SharpDiamondKernelMaker>();
  if (name == "Box") return std::make_unique<BoxKernelMaker>(inData);
  return std::make_unique<CylinderKernelMaker>(inData);
}

// A source, a noisy control layer a little smaller than it (centred, so a
// border falls outside the layer) and the factory that carries them.
struct Scene {
  Scene(softhost::Host& host, int32_t w, int32_t h, int32_t depths, int32_t n, uint32_t seed)
      : src(w, h, depths & 1), layer(w - 5, h - 3, depths & 2), dst(w, h, depths & 1) {
    shapestest::FillSparse(src.World(), seed, 5);
    shapestest::FillSparse(layer.World(), seed + 1, 1);
    factory = KernelHolderFactory{};
    factory.useBCL = true;
    factory.inData = host.InData();
    factory.source = src.World();
    factory.bclWorld = layer.World();
    factory.bcl = BCLSettings{2, 0, 0, 1, 0, 0, 1.0, 1.0, (depths & 4) != 0, n};
    settings.inData = host.InData();
  }
  void Run(KernelMaker1D& maker, double h, double v) {
    settings.hAmount = h;
    settings.vAmount = v;
    (IsDeep(src.World()) ? ConvolveVariable16 : ConvolveVariable8)(src.World(), dst.World(),
                                                                   &settings, &factory, &maker);
  }
  SoftWorld src, layer, dst;
  KernelHolderFactory factory;
  KernelSettings settings;
};

using VariableParam = std::tuple<const char*, int32_t, std::pair<double, double>, int32_t>;
class VariableMatchesReference : public ::testing::TestWithParam<VariableParam> {};

// depths: bit 0 a 16-bit image, bit 1 a 16-bit layer, bit 2 inverted.
TEST_P(VariableMatchesReference, PixelForPixel) {
  const auto [shape, depths, amounts, n] = GetParam();
  softhost::Host host;
  const std::unique_ptr<KernelMaker1D> maker = MakeShape(shape, host.InData());
  Scene scene(host, 37, 26, depths, n, static_cast<uint32_t>(depths * 131 + n));
  scene.Run(*maker, amounts.first, amounts.second);
  SoftWorld expected(37, 26, depths & 1);
  if (ReferenceVariable(scene.src.World(), expected.World(), amounts.first, amounts.second,
                        scene.factory, *maker)) {
    EXPECT_TRUE(SameImage(scene.dst.World(), expected.World()));
    return;
  }
  // Gaussian rungs jitter around 32768 at the peak and some sit one tap off
  // centre, so a dominated record may have been a winner; merging still only
  // removes, so nothing may exceed the reference.
  for (int32_t y = 0; y < 26; ++y) {
    for (int32_t x = 0; x < 37; ++x) {
      for (int32_t c = 0; c < 4; ++c) {
        ASSERT_LE(Channel(scene.dst.World(), x, y, c), Channel(expected.World(), x, y, c))
            << "at (" << x << ", " << y << ") channel " << c;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, VariableMatchesReference,
    ::testing::Combine(::testing::Values("Diamond", "Gaussian", "Box", "SharpDiamond", "Cylinder"),
                       ::testing::Values(0, 3, 4),
                       ::testing::Values(std::pair{9.5, 3.0}, std::pair{0.0, 4.0},
                                         std::pair{30.0, 45.0}),
                       ::testing::Values(2, 50)));

// The effect's default: the layer blurs under itself. At low quality (nearest
// scaling) the module gives the reference's result for the default settings.
TEST(VariablePasses, ModuleBlursUnderItsOwnLayerByDefault) {
  softhost::HostConfig config;
  config.quality = PF_Quality_LO;
  softhost::Host host(config);
  softhost::EffectModule module(QB_MODULE_PATH);
  ASSERT_EQ(host.Setup(module.Entry()), PF_Err_NONE);
  for (const bool deep : {false, true}) {
    Scene scene(host, 40, 30, deep ? 3 : 0, 50, 21);
    for (int32_t y = 0; y < 30; ++y) {  // opaque: the render keeps every colour
      for (int32_t x = 0; x < 40; ++x) SetChannel(scene.src.World(), x, y, 0, deep ? 32768 : 255);
    }
    host.SetInput(scene.src.World());
    host.Params()[ParamBlurAmount].u.fd.value = 13 << 16;  // a diameter: amounts 6.5
    ASSERT_EQ(host.Render(module.Entry(), scene.dst.World()), PF_Err_NONE);
    DiamondKernelMaker maker(host.InData());
    scene.factory.bclWorld = scene.src.World();
    scene.factory.bcl = BCLSettings{2, 0, 0, 0, 20, 15, 1.0, 1.0, false, 50};
    SoftWorld expected(40, 30, deep);
    ASSERT_TRUE(
        ReferenceVariable(scene.src.World(), expected.World(), 6.5, 6.5, scene.factory, maker));
    EXPECT_TRUE(SameImage(scene.dst.World(), expected.World())) << "deep " << deep;
  }
}

// The straightforward passes poll once per line along the first pass
// (vertical on a tie), with the index of the line just finished; an abort is
// raised only after a whole line.
TEST(VariablePasses, PollsAfterEachLine) {
  SetEngineForTesting(Engine::Reference);
  {
    softhost::Host host;
    DiamondKernelMaker maker(host.InData());
    Scene scene(host, 17, 11, 0, 10, 3);
    std::vector<A_long> finished;
    host.onProgress = [&](A_long current, A_long total) {
      EXPECT_EQ(total, 17);  // a tie: vertical first, one poll per column
      finished.push_back(current);
    };
    scene.Run(maker, 4.0, 4.0);
    ASSERT_EQ(finished.size(), 17u);
    for (int32_t i = 0; i < 17; ++i) EXPECT_EQ(finished[static_cast<size_t>(i)], i);
  }
  for (const int32_t depths : {1, 2}) {
    softhost::Host host;
    host.Faults().abortAfterPolls = 0;
    DiamondKernelMaker maker(host.InData());
    Scene scene(host, 23, 19, depths, 20, 11);
    for (int32_t y = 0; y < 19; ++y) SetChannel(scene.src.World(), 0, y, 1, 255);
    try {
      scene.Run(maker, 6.0, 3.0);
      ADD_FAILURE() << "no abort";
    } catch (const AEException& e) {
      EXPECT_EQ(e.Code(), PF_Interrupt_CANCEL);
      EXPECT_STREQ(e.Message(), "ConvolveImage: Error or user Abort.");
    }
    SoftWorld expected(23, 19, depths & 1);
    ReferenceVariable(scene.src.World(), expected.World(), 6.0, 3.0, scene.factory, maker, 1);
    EXPECT_TRUE(SameImage(scene.dst.World(), expected.World())) << "depths " << depths;
    EXPECT_GT(Channel(scene.dst.World(), 0, 9, 1), 0);
  }
  ResetEngineForTesting();
}

// Weights and control values compare unsigned (a first-pass weight can exceed
// 32767); a record that dominates removes the ones it covers entirely.
TEST(MergeRecord, DropsOnlyCoveredChannels) {
  using Record = SecondPassInfo<PF_Pixel>;
  struct Case {
    std::vector<Record> list;
    Record incoming;
    bool absorbed;
    size_t kept;
  };
  const Case cases[] = {
      {{{{1, 2, 3, 4}, 5, 100, nullptr}}, {{1, 2, 3, 4}, 5, 100, nullptr}, true, 1},
      {{{{9, 9, 9, 9}, 5, 32768, nullptr}}, {{9, 9, 9, 9}, 5, 100, nullptr}, true, 1},
      {{{{9, 9, 9, 9}, 32768, 10, nullptr}}, {{9, 9, 9, 9}, 255, 10, nullptr}, true, 1},
      {{{{1, 1, 1, 1}, 10, 50, nullptr}}, {{9, 9, 9, 9}, 5, 90, nullptr}, false, 1},
      {{{{1, 1, 1, 1}, 30, 300, nullptr},
        {{5, 5, 5, 5}, 3, 30, nullptr},
        {{1, 1, 1, 1}, 1, 500, nullptr}},
       {{50, 50, 50, 50}, 10, 100, nullptr},
       false,
       2},
  };
  for (const Case& c : cases) {
    SPIMaker<PF_Pixel> maker;
    std::vector<Record> list = c.list;
    for (size_t i = 0; i + 1 < list.size(); ++i) list[i].next = &list[i + 1];
    Record* head = list.data();
    Record incoming = c.incoming;
    EXPECT_EQ(MergeRecord(&incoming, &head, maker), c.absorbed);
    size_t kept = 0;
    for (const Record* r = head; r != nullptr; r = r->next) ++kept;
    EXPECT_EQ(kept, c.kept);
  }
}

// Not a timing: every line starts again from the first record page, so the
// pages stay near one line's worth however large the image.
TEST(VariablePasses, RecordPagesStayBoundedOnALargeNoisyRender) {
  softhost::Host host;
  DiamondKernelMaker maker(host.InData());
  Scene scene(host, 2000, 2000, 0, 50, 99);
  ResetRecordPageHighWater();
  // The pages belong to the straightforward record algorithm.
  SetEngineForTesting(Engine::Reference);
  scene.Run(maker, 20.0, 30.0);
  ResetEngineForTesting();
  int32_t kw = 0, kh = 0;
  maker.GetKernelSize(20.0, 0.0, &kw, &kh);
  const double lineWorth = 2000.0 * kw / SPIMaker<PF_Pixel>::kPageRecords;
  std::printf("record pages: high-water %d; unmerged records of one line %.2f pages\n",
              RecordPageHighWater(), lineWorth);
  EXPECT_LE(RecordPageHighWater(), static_cast<int32_t>(std::ceil(lineWorth)) + 1);
}

}  // namespace
