#include <atomic>
#include <vector>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

// Counts the calls per destination pixel and checks that `in` and `out` are
// the pixels at that place, the source offset by the origin.
struct Coverage {
  SoftWorld *src, *dst;
  int dx, dy;
  std::vector<std::atomic<int>> hits;
  std::atomic<int> wrongPixels{0};
};

template <typename Pixel>
PF_Err CountPixel(void* refcon, A_long x, A_long y, Pixel* in, Pixel* out) {
  auto* c = static_cast<Coverage*>(refcon);
  ++c->hits[y * c->dst->Width() + x];
  bool right;
  if constexpr (sizeof(Pixel) == sizeof(PF_Pixel16)) {
    right = in == c->src->Pixel16(x + c->dx, y + c->dy) && out == c->dst->Pixel16(x, y);
  } else {
    right = in == c->src->Pixel8(x + c->dx, y + c->dy) && out == c->dst->Pixel8(x, y);
  }
  if (!right) ++c->wrongPixels;
  return PF_Err_NONE;
}

void ExpectHits(const Coverage& c, int left, int top, int right, int bottom) {
  EXPECT_EQ(c.wrongPixels, 0);
  for (int y = 0; y < c.dst->Height(); ++y) {
    for (int x = 0; x < c.dst->Width(); ++x) {
      const bool inside = x >= left && x <= right && y >= top && y <= bottom;
      ASSERT_EQ(c.hits[y * c.dst->Width() + x], inside ? 1 : 0) << "x " << x << " y " << y;
    }
  }
}

class IterateThreads : public ::testing::TestWithParam<int> {};

TEST_P(IterateThreads, EveryPixelOfTheAreaExactlyOnce) {
  Host host;
  host.Config().threads = GetParam();
  SoftWorld src(37, 29, false, 40), dst(37, 29, false, 12);
  Coverage column{&src, &dst, 0, 0, std::vector<std::atomic<int>>(37 * 29)};
  const PF_Rect area = HostRect(3, 2, 4, 29);
  ASSERT_EQ(Utils(host)->iterate(host.InData(), 0, 10, src.World(), &area, &column,
                                 &CountPixel<PF_Pixel>, dst.World()),
            PF_Err_NONE);
  ExpectHits(column, 3, 2, 3, 28);

  // The origin shifts the source 6 right and 2 up; the rest is clipped.
  SoftWorld deepSrc(10, 10, true, 40), deepDst(6, 6, true);
  Coverage shifted{&deepSrc, &deepDst, 6, -2, std::vector<std::atomic<int>>(6 * 6)};
  const PF_Point origin{-2, 6};  // v, h
  ASSERT_EQ(Utils(host)->iterate_origin16(host.InData(), 0, 6, deepSrc.World(), nullptr, &origin,
                                          &shifted, &CountPixel<PF_Pixel16>, deepDst.World()),
            PF_Err_NONE);
  ExpectHits(shifted, 0, 2, 3, 5);
}

PF_Err FailFromRow(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel*) {
  const int row = *static_cast<int*>(refcon);
  if (y > row) return 1000 + y;  // later rows fail with other codes
  return (y == row && x == 2) ? 999 : PF_Err_NONE;
}

PF_Err Nothing(void*, A_long, A_long, PF_Pixel*, PF_Pixel*) { return PF_Err_NONE; }

TEST_P(IterateThreads, FirstErrorInRowOrderProgressAndAbortBetweenChunks) {
  Host host;
  host.Config().threads = GetParam();
  SoftWorld world(5, 100, false);
  int row = 41;
  EXPECT_EQ(Utils(host)->iterate(host.InData(), 0, 1, world.World(), nullptr, &row, &FailFromRow,
                                 world.World()),
            999);

  host.ResetFaultCounters();
  std::vector<A_long> seen;
  host.onProgress = [&](A_long current, A_long total) {
    EXPECT_EQ(total, 300);
    seen.push_back(current);
  };
  ASSERT_EQ(Utils(host)->iterate(host.InData(), 100, 300, world.World(), nullptr, nullptr, &Nothing,
                                 world.World()),
            PF_Err_NONE);
  ASSERT_GE(seen.size(), 2u);
  ASSERT_EQ(static_cast<long>(seen.size()), host.AbortPolls());
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  EXPECT_GT(seen.front(), 100);
  EXPECT_EQ(seen.back(), 300);

  host.onProgress = nullptr;
  host.ResetFaultCounters();
  host.Faults().abortAfterPolls = 1;
  host.Faults().abortCode = 1234;
  EXPECT_EQ(Utils(host)->iterate(host.InData(), 0, 1, world.World(), nullptr, nullptr, &Nothing,
                                 world.World()),
            1234);
  EXPECT_EQ(host.AbortPolls(), 2);
}

INSTANTIATE_TEST_SUITE_P(Threads, IterateThreads, ::testing::Values(1, 4));

}  // namespace
