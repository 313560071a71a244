#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "image/AEException.h"
#include "kernels/SpiralKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using shapestest::BuildKernelOf;
using shapestest::HostSession;
using shapestest::Kernel;

TEST(SpiralWeight, ReferenceSamples) {
  // Half-sizes 10 and 20 twist 8 degrees per pixel. Five pixels straight
  // right of the centre: angle 90, plus 40, lands in the middle of the arm
  // [90, 170] at elliptic radius 0.5.
  const SpiralGeometry tall = MakeSpiralGeometry(10, 20);
  EXPECT_DOUBLE_EQ(tall.k, 8);
  EXPECT_EQ(SpiralWeight(tall, 15, 20), 29361);
  // At the centre itself the angle is undefined.
  EXPECT_EQ(SpiralWeight(tall, 10, 20), 0);
  // Outside the ellipse.
  EXPECT_EQ(SpiralWeight(tall, 20.5, 20), 0);

  // Half-sizes 10 twist 12 degrees per pixel: straight up at 85/12 pixels
  // gives 85 degrees, in the gap between the first two arms.
  const SpiralGeometry round = MakeSpiralGeometry(10, 10);
  EXPECT_EQ(SpiralWeight(round, 10, 10 - 85.0 / 12), 0);
  EXPECT_GT(SpiralWeight(round, 10, 10 - 75.0 / 12), 0);

  const SpiralGeometry tiny = MakeSpiralGeometry(0.2, 0);
  EXPECT_DOUBLE_EQ(tiny.a, 0.5);
  EXPECT_DOUBLE_EQ(tiny.b, 0.5);
}

// Samples exactly on the centre column or row take the angle their
// neighbours approach, so the arms cross the axes without a seam.
TEST(SpiralWeight, NoSeamAlongTheAxes) {
  const SpiralGeometry g = MakeSpiralGeometry(10, 10);
  const double offsets[][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};
  for (const auto& d : offsets) {
    for (double r = 0.5; r < 10; r += 0.25) {
      const double sx = 10 + d[0] * r;
      const double sy = 10 + d[1] * r;
      const int32_t on = SpiralWeight(g, sx, sy);
      const double nudge = 1e-9;
      const int32_t beside1 = SpiralWeight(g, sx + d[1] * nudge, sy + d[0] * nudge);
      const int32_t beside2 = SpiralWeight(g, sx - d[1] * nudge, sy - d[0] * nudge);
      EXPECT_LE(std::abs(on - beside1), 2) << "direction " << d[0] << "," << d[1] << " r " << r;
      EXPECT_LE(std::abs(on - beside2), 2) << "direction " << d[0] << "," << d[1] << " r " << r;
    }
  }
}

// With both amounts at 40 or more the kernel grid is sampled directly: four
// arms, so a quarter turn maps the kernel onto itself.
TEST(SpiralKernel, DirectPathHasFourFoldSymmetry) {
  HostSession session;
  SpiralKernelMaker maker(session.In());
  const Kernel k = BuildKernelOf(maker, 40, 40);
  ASSERT_EQ(k.width, 81);
  EXPECT_EQ(k.At(40, 40), 32768);
  EXPECT_EQ(k.At(0, 0), 0);
  EXPECT_EQ(k.At(80, 0), 0);
  EXPECT_EQ(k.At(0, 80), 0);
  EXPECT_EQ(k.At(80, 80), 0);
  int32_t lit = 0;
  for (int32_t y = 0; y < 81; ++y) {
    for (int32_t x = 0; x < 81; ++x) {
      if (x == 40 && y == 40) continue;
      // A quarter turn clockwise about the centre.
      EXPECT_LE(std::abs(k.At(x, y) - k.At(80 - y, x)), 2) << x << "," << y;
      if (k.At(x, y) > 16384) ++lit;
    }
  }
  // Arms of 80 degrees out of every 90 with a cosine profile: about half of
  // the ellipse is well lit.
  EXPECT_GT(lit, 1000);
  EXPECT_LT(lit, 3500);
}

// Only amounts of 40 and above skip the host images; a failing host
// allocation tells the paths apart.
TEST(SpiralKernel, SizesAndPathChoice) {
  struct Case {
    double h, v;
    int32_t width, height;
    bool direct;
  };
  const Case cases[] = {{0, 0, 1, 1, false},     {10, 10, 21, 21, false},
                        {40, 20, 81, 41, false}, {39.9, 40, 81, 81, false},
                        {40, 40, 81, 81, true},  {55.5, 40, 113, 81, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.h << " x " << c.v);
    HostSession session;
    SpiralKernelMaker maker(session.In());
    const Kernel k = BuildKernelOf(maker, c.h, c.v);
    ASSERT_EQ(k.width, c.width);
    ASSERT_EQ(k.height, c.height);
    EXPECT_EQ(k.At(k.width / 2, k.height / 2), 32768);

    session.host.Faults().failNewWorldAt = 0;
    session.host.ResetFaultCounters();
    if (c.direct) {
      EXPECT_NO_THROW(BuildKernelOf(maker, c.h, c.v));
    } else {
      EXPECT_THROW(BuildKernelOf(maker, c.h, c.v), AEException);
    }
    EXPECT_EQ(session.host.LiveWorlds(), 0);
  }
}

// The supersampled kernel is the fine spiral reduced: it follows the direct
// sampling of the same spiral closely away from the arm edges.
TEST(SpiralKernel, SupersampledFollowsTheSpiral) {
  HostSession session;
  SpiralKernelMaker maker(session.In());
  const Kernel k = BuildKernelOf(maker, 20, 20);
  std::vector<int32_t> direct(41 * 41, 0);
  DrawSpiral(direct.data(), 20, 20, 41, 41);
  int64_t total = 0;
  for (size_t i = 0; i < direct.size(); ++i) total += std::abs(k.weights[i] - direct[i]);
  EXPECT_LT(total / static_cast<int64_t>(direct.size()), 2000);
}

}  // namespace
