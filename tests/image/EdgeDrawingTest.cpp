#include <set>
#include <utility>

#include "ImageTestSupport.h"
#include "image/Drawing.h"
#include "image/EdgeMode.h"

using namespace imagetest;

namespace {

TEST(MapEdgeIndex, MapsOutsideIndicesByMode) {
  struct Case {
    int32_t mode, n, i, expected;
  } cases[] = {
      {EdgeNone, 4, -2, -2},  {EdgeReflect, 4, -2, 1},
      {EdgeReflect, 4, 5, 2}, {EdgeReflect, 1, 5, 0},
      {EdgeRepeat, 4, -7, 0}, {EdgeRepeat, 4, 9, 3},
      {EdgeWrap, 3, -4, 2},   {7, 4, 6, 2},  // an unknown mode reflects
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapEdgeIndex(c.mode, c.n, c.i), c.expected) << c.mode << " " << c.n << " " << c.i;
  }
}

TEST(DrawLine, PlotsTheBresenhamPixelsInsideTheWorld) {
  using Points = std::set<std::pair<int32_t, int32_t>>;
  struct Case {
    int32_t x0, y0, x1, y1;
    Points expected;
  } cases[] = {
      {2, 3, 2, 3, {{2, 3}}},
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}}},
      {1, 5, 0, 0, {{1, 5}, {1, 4}, {1, 3}, {0, 2}, {0, 1}, {0, 0}}},
      {-2, 2, 7, 2, {{0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}}},
  };
  for (const Case& c : cases) {
    softhost::SoftWorld world(6, 6, false);
    DrawLine(c.x0, c.y0, c.x1, c.y1, world.World(), PF_Pixel{0, 1, 0, 0});
    Points plotted;
    for (int32_t y = 0; y < 6; ++y) {
      for (int32_t x = 0; x < 6; ++x) {
        if (Channel(world.World(), x, y, 1) == 1) plotted.insert({x, y});
      }
    }
    EXPECT_EQ(plotted, c.expected) << c.x0 << "," << c.y0 << " to " << c.x1 << "," << c.y1;
  }
}

// The 8-bit fill goes through the host's fill, the 16-bit one through its
// iterate; both take host rectangles (right and bottom exclusive).
TEST(FillWorld, FillsTheRectangleOrTheWholeWorldAndRaisesHostErrors) {
  HostSession session;
  softhost::SoftWorld narrow(5, 4, false), deep(5, 4, true);
  const PF_Rect rect{1, 1, 3, 4};
  FillWorld(session.In(), PF_Pixel{255, 1, 2, 200}, nullptr, narrow.World());
  FillWorld(session.In(), PF_Pixel{1, 2, 3, 4}, &rect, narrow.World());
  FillWorld(session.In(), PF_Pixel16{32768, 1, 2, 300}, nullptr, deep.World());
  FillWorld(session.In(), PF_Pixel16{1, 2, 3, 4}, &rect, deep.World());
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 5; ++x) {
      const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
      EXPECT_EQ(Channel(narrow.World(), x, y, 3), inside ? 4 : 200) << x << "," << y;
      EXPECT_EQ(Channel(deep.World(), x, y, 3), inside ? 4 : 300) << x << "," << y;
    }
  }
  session.host.Faults().failFillAt = 2;
  session.host.Faults().failIterateAt = 2;
  const PF_Err code = session.host.Faults().failCode;
  EXPECT_TRUE(RaisesAE([&] { FillWorld(session.In(), PF_Pixel{}, nullptr, narrow.World()); }, code,
                       "FillWorld: Fill error"));
  EXPECT_TRUE(RaisesAE([&] { FillWorld(session.In(), PF_Pixel16{}, nullptr, deep.World()); }, code,
                       "FillWorld: Fill error"));
}

}  // namespace
