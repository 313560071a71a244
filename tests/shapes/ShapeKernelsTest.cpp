// The two-dimensional kernel makers: cross, custom layer, spiral and star.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "image/AEException.h"
#include "kernels/CrossKernel.h"
#include "kernels/CustomKernel.h"
#include "kernels/SpiralKernel.h"
#include "kernels/StarKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using namespace shapestest;

// The cross is the box kernel of (h, v/6) across the middle rows and that of
// (h/6, v) down the middle columns, the larger weight winning.
TEST(CrossKernel, BarsOfBoxKernels) {
  struct Case {
    double h, v;
    int32_t width, height;
  };
  const Case cases[] = {{0, 0, 1, 1}, {12, 12, 27, 27}, {12, 0, 27, 1}, {9, 4.5, 21, 13}};
  HostSession session;
  CrossKernelMaker maker(session.In());
  BoxKernelMaker box(session.In());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "amounts " << c.h << " x " << c.v);
    const Kernel k = BuildKernelOf(maker, c.h, c.v);
    ASSERT_EQ(k.width, c.width);
    ASSERT_EQ(k.height, c.height);
    EXPECT_EQ(k.At(k.width / 2, k.height / 2), 32768);
    const Kernel across = BuildKernelOf(box, c.h, c.v * CrossKernelMaker::kBarThickness);
    const Kernel down = BuildKernelOf(box, c.h * CrossKernelMaker::kBarThickness, c.v);
    const int32_t top = c.height / 2 - across.height / 2, left = c.width / 2 - down.width / 2;
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        const int32_t a = y >= top && y < top + across.height ? across.At(x, y - top) : 0;
        const int32_t d = x >= left && x < left + down.width ? down.At(x - left, y) : 0;
        ASSERT_EQ(k.At(x, y), std::max(a, d)) << x << "," << y;
      }
    }
  }
}

Kernel CustomKernel(PF_InData* inData, PF_EffectWorld* layer, int32_t channel, double h, double v) {
  KernelSettings settings;
  settings.inData = inData;
  settings.shapeWorld = layer;
  settings.shapeChannel = channel;
  CustomKernelMaker maker(settings);
  return BuildKernelOf(maker, h, v);
}

// No layer: zeros, centre included. A uniform opaque layer of (red 64, green
// 192, blue 0): away from the sampling box's rim every weight is the chosen
// channel's value, within the Mitchell resampler's ringing (a few percent
// when a small layer is enlarged); alpha is exact because an opaque layer
// stays opaque through both resamplings.
TEST(CustomKernel, ChannelsOfAUniformLayer) {
  HostSession session;
  for (const auto& a : {std::pair{0.0, 0.0}, std::pair{2.5, 0.5}}) {
    const Kernel k = CustomKernel(session.In(), nullptr, kShapeRed, a.first, a.second);
    EXPECT_EQ(k.width, a.first == 0 ? 3 : 9);
    EXPECT_EQ(std::count(k.weights.begin(), k.weights.end(), 0), k.width * k.height);
  }
  struct Expect {
    int32_t channel, weight;
    bool exact;
  };
  const Expect expects[] = {
      {kShapeGreen, 24672, false},     {kShapeBlue, 0, true},
      {kShapeAlpha, 32768, true},      {7, 32768, true},  // any other value reads alpha
      {kShapeLuminance, 10965, false},                    // (64 + 192 + 0) / 765 of full weight
  };
  const int32_t sizes[][2] = {{5, 5}, {300, 200}};
  for (const auto& size : sizes) {
    for (bool deep : {false, true}) {
      softhost::SoftWorld layer(size[0], size[1], deep);
      FillAll(layer.World(), deep ? 32768 : 255, deep ? 8224 : 64, deep ? 24672 : 192, 0);
      for (const Expect& e : expects) {
        SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << (deep ? " deep" : "")
                                        << " channel " << e.channel);
        const Kernel k = CustomKernel(session.In(), layer.World(), e.channel, 5, 5);
        ASSERT_EQ(k.width, 13);
        ASSERT_EQ(k.height, 13);
        EXPECT_EQ(k.At(6, 6), 32768);
        for (int32_t y = 4; y <= 8; ++y) {
          for (int32_t x = 4; x <= 8; ++x) {
            if (x == 6 && y == 6) continue;
            EXPECT_LE(std::abs(k.At(x, y) - e.weight), e.exact ? 0 : e.weight / 20)
                << x << "," << y;
          }
        }
        // The box (10 x 10 at offset 1.5) never reaches the outer ring.
        for (int32_t i = 0; i < 13; ++i) EXPECT_EQ(k.At(i, 0) + k.At(0, i), 0) << i;
      }
    }
  }
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}

TEST(SpiralWeight, ReferenceSamplesAndNoSeamAlongTheAxes) {
  // Half-sizes 10 and 20 twist 8 degrees per pixel. Five pixels straight
  // right of the centre: angle 90, plus 40, lands in the middle of the arm
  // [90, 170] at elliptic radius 0.5. At the centre the angle is undefined.
  const SpiralGeometry tall = MakeSpiralGeometry(10, 20);
  EXPECT_DOUBLE_EQ(tall.k, 8);
  EXPECT_EQ(SpiralWeight(tall, 15, 20), 29361);
  EXPECT_EQ(SpiralWeight(tall, 10, 20), 0);
  EXPECT_EQ(SpiralWeight(tall, 20.5, 20), 0);
  // Half-sizes 10 twist 12 degrees per pixel: straight up at 85/12 pixels
  // gives 85 degrees, in the gap between the first two arms.
  const SpiralGeometry round = MakeSpiralGeometry(10, 10);
  EXPECT_EQ(SpiralWeight(round, 10, 10 - 85.0 / 12), 0);
  EXPECT_GT(SpiralWeight(round, 10, 10 - 75.0 / 12), 0);

  // Samples exactly on the centre column or row take the angle their
  // neighbours approach, so the arms cross the axes without a seam.
  for (const auto& d : {std::pair{0, 1}, std::pair{0, -1}, std::pair{1, 0}, std::pair{-1, 0}}) {
    for (double r : {0.5, 3.25, 7.75}) {
      const double sx = 10 + d.first * r, sy = 10 + d.second * r, e = 1e-9;
      const int32_t on = SpiralWeight(round, sx, sy);
      EXPECT_LE(std::abs(on - SpiralWeight(round, sx + d.second * e, sy + d.first * e)), 2) << r;
      EXPECT_LE(std::abs(on - SpiralWeight(round, sx - d.second * e, sy - d.first * e)), 2) << r;
    }
  }
}

// Only amounts of 40 and above skip the host images, so a failing host
// allocation tells the paths apart. Sampled directly the four arms map onto
// themselves under a quarter turn; supersampled the kernel is the fine
// spiral reduced and follows the direct sampling away from arm edges.
TEST(SpiralKernel, DirectAndSupersampledPaths) {
  HostSession session;
  SpiralKernelMaker maker(session.In());
  const Kernel k = BuildKernelOf(maker, 40, 40);
  ASSERT_EQ(k.width, 81);
  EXPECT_EQ(k.At(40, 40), 32768);
  for (int32_t y = 0; y < 81; ++y) {
    for (int32_t x = 0; x < 81; ++x) {
      if (x == 40 && y == 40) continue;
      EXPECT_LE(std::abs(k.At(x, y) - k.At(80 - y, x)), 2) << x << "," << y;
    }
  }
  const Kernel fine = BuildKernelOf(maker, 20, 20);
  std::vector<int32_t> direct(41 * 41, 0);
  DrawSpiral(direct.data(), 20, 20, 41, 41);
  int64_t total = 0;
  for (size_t i = 0; i < direct.size(); ++i) total += std::abs(fine.weights[i] - direct[i]);
  EXPECT_LT(total / static_cast<int64_t>(direct.size()), 2000);

  session.host.Faults().failNewWorldAt = 0;
  session.host.ResetFaultCounters();
  const Kernel wide = BuildKernelOf(maker, 55.5, 40);
  EXPECT_EQ(wide.width, 113);
  EXPECT_EQ(wide.height, 81);
  EXPECT_THROW(BuildKernelOf(maker, 39.9, 40), AEException);
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}
// The listed positions of kernel k, up to the first empty entry or the end
// of its range, against every element above 0 (columns outer, rows inner).
::testing::AssertionResult ListNamesPositives(const MaskedKernelMaker& maker, int32_t k,
                                              const Kernel& kernel) {
  std::vector<std::pair<int32_t, int32_t>> listed, positive;
  const int32_t per = maker.PixelsPerKernel();
  for (int32_t i = k * per; i < (k + 1) * per && maker.Table()[i].x != -1; ++i) {
    listed.emplace_back(maker.Table()[i].x, maker.Table()[i].y);
  }
  for (int32_t x = 0; x < kernel.width; ++x) {
    for (int32_t y = 0; y < kernel.height; ++y) {
      if (kernel.At(x, y) > 0) positive.emplace_back(x, y);
    }
  }
  if (listed == positive) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "kernel " << k << ": " << listed.size() << " listed, "
                                       << positive.size() << " positive";
}

// The star points up, is symmetric about the centre column, leaves the
// kernel's corners and the notch between its lower points empty, and its
// list names exactly the positive elements.
TEST(StarKernel, OrientationSymmetryAndList) {
  struct Case {
    double h, v;
    int32_t width, height, maskWidth, maskHeight;
  };
  const Case cases[] = {{0, 0, 1, 1, 40, 40}, {10, 5, 21, 11, 42, 40}, {7.5, 12, 17, 25, 40, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "amounts " << c.h << " x " << c.v);
    HostSession session;
    StarKernelMaker maker(session.In());
    const Kernel k = BuildKernelOf(maker, c.h, c.v);
    ASSERT_EQ(k.width, c.width);
    ASSERT_EQ(k.height, c.height);
    EXPECT_EQ(maker.Mask().RawWorld()->width, c.maskWidth);
    EXPECT_EQ(maker.Mask().RawWorld()->height, c.maskHeight);
    const int32_t cx = k.width / 2, cy = k.height / 2;
    EXPECT_EQ(k.At(cx, cy), 32768);
    EXPECT_TRUE(ListNamesPositives(maker, 0, k));
    if (k.width == 1) continue;
    EXPECT_EQ(
        k.At(0, 0) + k.At(k.width - 1, 0) + k.At(0, k.height - 1) + k.At(k.width - 1, k.height - 1),
        0);
    // Top point near row 0 on the centre column; the bottom of that column
    // lies between the two lower points.
    EXPECT_GT(k.At(cx, 1), 8000);
    EXPECT_EQ(k.At(cx, k.height - 1), 0);
    EXPECT_GT(k.At(cx, cy - 1), 30000);
    for (int32_t y = 0; y < k.height; ++y) {
      for (int32_t x = 0; x < cx; ++x) {
        EXPECT_LE(std::abs(k.At(x, y) - k.At(k.width - 1 - x, y)), 700) << x << "," << y;
      }
    }
  }
}

// A ladder prepared once: each index fills only its own range, in the order
// the convolution reads, and a kernel index beyond the preparation raises.
TEST(StarKernel, TableRangesPerKernel) {
  HostSession session;
  StarKernelMaker maker(session.In());
  std::vector<int32_t> scratch(169, 0);
  try {
    maker.BuildKernel(scratch.data(), 6, 6, 0);
    FAIL() << "built without a mask";
  } catch (const AEException& e) {
    EXPECT_STREQ(e.Message(), "AEWorld not initialized");
  }

  maker.ReleaseKernel();
  maker.PrepareShape(6, 6, 3);
  ASSERT_EQ(maker.PixelsPerKernel(), 13 * 13);
  ASSERT_EQ(maker.Table().Size(), 3 * 13 * 13);
  Kernel small{7, 7, std::vector<int32_t>(49, 0)};
  maker.BuildKernel(small.weights.data(), 3, 3, 1);
  Kernel full{13, 13, std::vector<int32_t>(169, 0)};
  maker.BuildKernel(full.weights.data(), 6, 6, 2);
  EXPECT_TRUE(ListNamesPositives(maker, 0, Kernel{}));
  EXPECT_TRUE(ListNamesPositives(maker, 1, small));
  EXPECT_TRUE(ListNamesPositives(maker, 2, full));
  EXPECT_EQ(maker.Table()[2 * 169 - 1].x, -1);

  try {
    maker.BuildKernel(scratch.data(), 6, 6, 3);
    FAIL() << "index 3 of 3 accepted";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "Index out of Range");
  }
  maker.ReleaseKernel();
  EXPECT_EQ(maker.PixelsPerKernel(), 0);
  EXPECT_EQ(maker.Table().Size(), 0);
}

}  // namespace
