// The two-dimensional kernel makers: cross, custom layer, spiral and star,
// and the polygon scan conversion that draws the star.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "kernels/CrossKernel.h"
#include "kernels/CustomKernel.h"
#include "kernels/ScanConversion.h"
#include "kernels/SpiralKernel.h"
#include "kernels/StarKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using namespace shapestest;

// A plus of two smoothed boxes, each as long as its own axis' box kernel and
// a sixth of the other axis' amount thick.
TEST(CrossKernel, PlusOfTwoBars) {
  HostSession session;
  CrossKernelMaker maker(session.In(), session.Facts());
  const std::vector<int32_t> box2 = {0, 16384, 32768, 32768, 32768, 16384, 0};
  EXPECT_EQ(BuildKernelOf(maker, 2, 0).weights, box2);
  EXPECT_EQ(BuildKernelOf(maker, 0, 2).weights, box2);
  // Equal amounts: the bars are each other's transposes, meet only in the
  // middle, and a bar 2 thick has the 5 positive taps of a box of 2.
  const Kernel k = BuildKernelOf(maker, 12, 12);
  ASSERT_EQ(k.width, 27);
  ASSERT_EQ(k.height, 27);
  EXPECT_EQ(k.At(13, 13), 32768);
  const Kernel wide = BuildKernelOf(maker, 9, 4.5);  // each axis as long as its own box
  EXPECT_EQ(std::pair(wide.width, wide.height), std::pair(21, 13));
  int32_t thickness = 0;
  for (int32_t y = 0; y < 27; ++y) {
    thickness += k.At(3, y) > 0;
    for (int32_t x = 0; x < 27; ++x) ASSERT_EQ(k.At(x, y), k.At(y, x)) << x << "," << y;
  }
  EXPECT_EQ(thickness, 5);
  EXPECT_GT(k.At(3, 13), 32000);  // full strength away from the ends
  EXPECT_EQ(k.At(8, 8), 0);
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
  const Kernel none = CustomKernel(session.In(), nullptr, kShapeRed, 2.5, 0.5);
  EXPECT_EQ(none.width, 9);
  EXPECT_EQ(std::count(none.weights.begin(), none.weights.end(), 0), none.width * none.height);
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
// The star points up, is symmetric about the centre column and leaves the
// kernel's corners and the notch between its lower points empty.
TEST(StarKernel, OrientationAndSymmetry) {
  struct Case {
    double h, v;
    int32_t width, height;
  };
  const Case cases[] = {{0, 0, 1, 1}, {10, 5, 21, 11}, {7.5, 12, 17, 25}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "amounts " << c.h << " x " << c.v);
    HostSession session;
    StarKernelMaker maker(session.In(), session.Facts());
    const Kernel k = BuildKernelOf(maker, c.h, c.v);
    ASSERT_EQ(k.width, c.width);
    ASSERT_EQ(k.height, c.height);
    const int32_t cx = k.width / 2, cy = k.height / 2;
    EXPECT_EQ(k.At(cx, cy), 32768);
    if (k.width == 1) continue;
    EXPECT_EQ(
        k.At(0, 0) + k.At(k.width - 1, 0) + k.At(0, k.height - 1) + k.At(k.width - 1, k.height - 1),
        0);
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

// Records every plot; a pixel plotted twice is a fault of the subdivision.
class RecordingCallback : public GenericScanCallback {
 public:
  explicit RecordingCallback(const std::vector<Vec2d>& outline) {
    points.Resize(static_cast<int32_t>(outline.size()), Vec2d{});
    for (size_t i = 0; i < outline.size(); ++i) points[static_cast<int32_t>(i)] = outline[i];
  }
  void Plot(int32_t x, int32_t y, int32_t coverage) override {
    if (!plots.emplace(std::make_pair(x, y), coverage).second) ++repeats;
  }
  std::map<std::pair<int32_t, int32_t>, int32_t> plots;
  int32_t repeats = 0;
};

const std::vector<Vec2d> kSquare = {{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2}};

// An empty outline draws nothing, an open one raises.
TEST(ScanPolygon, DegenerateOutlines) {
  RecordingCallback empty({});
  EXPECT_NO_THROW(ScanPolygon(empty));
  EXPECT_TRUE(empty.plots.empty());

  RecordingCallback open({{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2.0000001}});
  EXPECT_TRUE(RaisesAE([&] { ScanPolygon(open); }, 1, "ScanPolygon: PointList not initialized :("));
  EXPECT_TRUE(open.plots.empty());
}

// Axis-aligned outlines with integer corners, judged independently (a
// square's ring of edge pixels around an inside core included): within
// the bounding box, a pixel's closed square either meets an edge (coverage
// 2) or its centre decides by ray casting (coverage 1, or not plotted); no
// pixel outside the box is plotted. Both orientations.
TEST(ScanPolygon, ConcaveRectilinearOutlines) {
  const std::vector<std::vector<Vec2d>> outlines = {
      kSquare,
      // U opening downward
      {{2, 2}, {12, 2}, {12, 11}, {9, 11}, {9, 5}, {5, 5}, {5, 11}, {2, 11}, {2, 2}},
      // a comb with a one-pixel gap
      {{1, 1}, {9, 1}, {9, 8}, {7, 8}, {7, 3}, {6, 3}, {6, 8}, {1, 8}, {1, 1}},
  };
  for (const auto& outline : outlines) {
    RecordingCallback cb(outline);
    ScanPolygon(cb);
    EXPECT_EQ(cb.repeats, 0);
    Vec2d lo = outline[0], hi = outline[0];
    for (const Vec2d& p : outline) {
      lo = Vec2d{std::min(lo.x, p.x), std::min(lo.y, p.y)};
      hi = Vec2d{std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
    for (int32_t x = -1; x < 15; ++x) {
      for (int32_t y = -1; y < 15; ++y) {
        bool touched = false;
        int32_t crossings = 0;
        for (size_t i = 0; i + 1 < outline.size(); ++i) {
          const Vec2d a = outline[i];
          const Vec2d b = outline[i + 1];
          const double loX = std::min(a.x, b.x), hiX = std::max(a.x, b.x);
          const double loY = std::min(a.y, b.y), hiY = std::max(a.y, b.y);
          if (loX <= x + 1 && hiX >= x && loY <= y + 1 && hiY >= y) touched = true;
          // Ray to the right from the centre, counting vertical edges.
          if (a.x == b.x && a.x > x + 0.5 && loY < y + 0.5 && hiY > y + 0.5) ++crossings;
        }
        const auto it = cb.plots.find({x, y});
        const int32_t got = it == cb.plots.end() ? kCoverNothing : it->second;
        int32_t want = touched ? kCoverEdge : (crossings % 2 ? kCoverInside : kCoverNothing);
        if (x < lo.x || x > hi.x || y < lo.y || y > hi.y) want = kCoverNothing;
        EXPECT_EQ(got, want) << "pixel " << x << "," << y;
      }
    }
  }
}

TEST(StarCallback, SquareWithNineSampleEdges) {
  softhost::SoftWorld narrow(10, 10, false), deep(10, 10, true);
  StarCallback<PF_Pixel> cb8(narrow.World(), PF_Pixel{255, 255, 255, 255});
  StarCallback<PF_Pixel16> cb16(deep.World(), PF_Pixel16{32768, 32768, 32768, 32768});
  GenericScanCallback* const callbacks[] = {&cb8, &cb16};
  for (GenericScanCallback* cb : callbacks) {
    cb->points.Resize(5, Vec2d{});
    for (int32_t i = 0; i < 5; ++i) cb->points[i] = kSquare[static_cast<size_t>(i)];
    ScanPolygon(*cb);
  }
  // Column 5 is wholly inside though it touches the edge; column 6 lies
  // wholly outside but is plotted as an edge pixel with no sample inside.
  for (PF_EffectWorld* w : {narrow.World(), deep.World()}) {
    const int32_t full = FullScale(w);
    EXPECT_EQ(Channel(w, 2, 3, 1), full);
    EXPECT_EQ(Channel(w, 5, 3, 1), full);
    EXPECT_EQ(Channel(w, 6, 3, 0), full);
    EXPECT_EQ(Channel(w, 6, 3, 1) + Channel(w, 6, 3, 2), 0);
    EXPECT_EQ(Channel(w, 7, 3, 0), 0);
  }
}

}  // namespace
