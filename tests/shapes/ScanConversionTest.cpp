#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "image/AEException.h"
#include "kernels/ScanConversion.h"
#include "kernels/StarKernel.h"
#include "softhost/SoftHost.h"

namespace {

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

// Edges wind half-open; an empty outline draws nothing, an open one raises.
TEST(ScanPolygon, WindingAndDegenerateOutlines) {
  RecordingCallback cb(kSquare);
  EXPECT_TRUE(cb.Inside(2, 4));   // left edge
  EXPECT_TRUE(cb.Inside(4, 2));   // top edge
  EXPECT_FALSE(cb.Inside(6, 4));  // right edge
  EXPECT_FALSE(cb.Inside(4, 6));  // bottom edge
  EXPECT_TRUE(cb.Inside(4, 4));
  EXPECT_FALSE(cb.Inside(1, 4));
  RecordingCallback single({{3, 3}});
  EXPECT_FALSE(single.Inside(3, 3));

  RecordingCallback empty({});
  EXPECT_NO_THROW(ScanPolygon(empty));
  EXPECT_TRUE(empty.plots.empty());

  RecordingCallback open({{2, 2}, {6, 2}, {6, 6}, {2, 6}, {2, 2.0000001}});
  try {
    ScanPolygon(open);
    FAIL() << "open outline accepted";
  } catch (const AEException& e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_STREQ(e.Message(), "ScanPolygon: PointList not initialized :(");
  }
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
  softhost::SoftWorld world8(10, 10, false);
  softhost::SoftWorld world16(10, 10, true);
  StarCallback<PF_Pixel> cb8(world8.World(), PF_Pixel{255, 255, 255, 255});
  StarCallback<PF_Pixel16> cb16(world16.World(), PF_Pixel16{32768, 32768, 32768, 32768});
  GenericScanCallback* callbacks[2] = {&cb8, &cb16};
  for (GenericScanCallback* cb : callbacks) {
    cb->points.Resize(5, Vec2d{});
    for (int32_t i = 0; i < 5; ++i) cb->points[i] = kSquare[static_cast<size_t>(i)];
    ScanPolygon(*cb);
  }
  // Column 5 is wholly inside though it touches the edge; column 6 lies
  // wholly outside but is plotted as an edge pixel with no sample inside.
  const PF_Pixel p23 = *world8.Pixel8(2, 3), p53 = *world8.Pixel8(5, 3), p63 = *world8.Pixel8(6, 3);
  EXPECT_EQ(p23.red, 255);
  EXPECT_EQ(p53.red, 255);
  EXPECT_EQ(p63.alpha, 255);
  EXPECT_EQ(p63.red, 0);
  EXPECT_EQ(world8.Pixel8(7, 3)->alpha, 0);
  EXPECT_EQ(world16.Pixel16(5, 3)->red, 32768);
  EXPECT_EQ(world16.Pixel16(6, 3)->alpha, 32768);
  EXPECT_EQ(world16.Pixel16(6, 3)->green, 0);
}

TEST(SegmentGeometry, SegmentsIntersect) {
  struct Case {
    double a[8];
    int32_t result;
    double x, y;
  };
  const Case cases[] = {
      {{0, 0, 2, 2, 0, 2, 2, 0}, kSegmentsCross, 1, 1},
      {{0, 0, 2, 0, 2, 0, 2, 5}, kSegmentsCross, 2, 0},     // touching ends
      {{0, 0, 4, 4, 0, 3, 1, 2}, kSegmentsApart, 0, 0},     // lines cross beyond CD
      {{0, 0, 4, 0, 1, 0, 3, 0}, kSegmentsParallel, 0, 0},  // collinear overlap
  };
  for (const Case& c : cases) {
    double x = -7, y = -7;
    const double* a = c.a;
    EXPECT_EQ(SegmentsIntersect(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], &x, &y), c.result);
    if (c.result == kSegmentsCross) {
      EXPECT_DOUBLE_EQ(x, c.x);
      EXPECT_DOUBLE_EQ(y, c.y);
    } else {
      EXPECT_EQ(x, -7);
    }
    EXPECT_EQ(SegmentsIntersect(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], nullptr, nullptr),
              c.result);
  }
}

}  // namespace
