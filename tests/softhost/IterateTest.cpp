#include <atomic>
#include <vector>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

TEST(Fill, RightAndBottomExclusiveClippedAndNullIsWhole) {
  Host host;
  SoftWorld world(4, 3, false);
  const PF_Pixel red{255, 200, 0, 0};
  const PF_Rect rect = HostRect(1, 1, 9, 2);  // columns 1..3, row 1 only
  ASSERT_EQ(Utils(host)->fill(Ref(host), &red, &rect, world.World()), PF_Err_NONE);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(world.Pixel8(x, y)->red, (y == 1 && x >= 1) ? 200 : 0) << x << "," << y;
    }
  }
  ASSERT_EQ(Utils(host)->fill(Ref(host), &red, nullptr, world.World()), PF_Err_NONE);
  EXPECT_EQ(world.Pixel8(0, 0)->alpha, 255);
  EXPECT_EQ(world.Pixel8(3, 2)->red, 200);
}

// Counts every call per destination pixel and checks that `in` is the source
// pixel at the same place (offset by the origin).
struct Coverage {
  SoftWorld* src;
  SoftWorld* dst;
  int dx = 0, dy = 0;
  std::vector<std::atomic<int>> hits;
  std::atomic<int> wrongIn{0};
  Coverage(SoftWorld* s, SoftWorld* d) : src(s), dst(d), hits(d->Width() * d->Height()) {}
};

template <typename Pixel>
PF_Err CountPixel(void* refcon, A_long x, A_long y, Pixel* in, Pixel* out) {
  auto* c = static_cast<Coverage*>(refcon);
  ++c->hits[y * c->dst->Width() + x];
  Pixel* expectIn;
  Pixel* expectOut;
  if constexpr (sizeof(Pixel) == sizeof(PF_Pixel16)) {
    expectIn = c->src->Pixel16(x + c->dx, y + c->dy);
    expectOut = c->dst->Pixel16(x, y);
  } else {
    expectIn = c->src->Pixel8(x + c->dx, y + c->dy);
    expectOut = c->dst->Pixel8(x, y);
  }
  if (in != expectIn || out != expectOut) ++c->wrongIn;
  return PF_Err_NONE;
}

class IterateThreads : public ::testing::TestWithParam<int> {};

TEST_P(IterateThreads, EveryPixelOfTheAreaExactlyOnce) {
  Host host;
  host.Config().threads = GetParam();
  for (bool deep : {false, true}) {
    SoftWorld src(37, 29, deep, 40), dst(37, 29, deep, 12);
    const PF_Rect column = HostRect(3, 2, 4, 29);
    for (const PF_Rect* area : {static_cast<const PF_Rect*>(nullptr), &column}) {
      Coverage c(&src, &dst);
      const PF_Err err = deep ? Utils(host)->iterate16(host.InData(), 0, 10, src.World(), area, &c,
                                                       &CountPixel<PF_Pixel16>, dst.World())
                              : Utils(host)->iterate(host.InData(), 0, 10, src.World(), area, &c,
                                                     &CountPixel<PF_Pixel>, dst.World());
      ASSERT_EQ(err, PF_Err_NONE);
      EXPECT_EQ(c.wrongIn, 0);
      for (int y = 0; y < 29; ++y) {
        for (int x = 0; x < 37; ++x) {
          const bool inside = !area || (x == 3 && y >= 2);
          ASSERT_EQ(c.hits[y * 37 + x], inside ? 1 : 0) << "x " << x << " y " << y;
        }
      }
    }
  }
}

TEST_P(IterateThreads, OriginOffsetsTheSourceAndClipsToIt) {
  Host host;
  host.Config().threads = GetParam();
  SoftWorld src(10, 10, true), dst(6, 6, true);
  Coverage c(&src, &dst);
  c.dx = 6;
  c.dy = -2;
  const PF_Point origin{-2, 6};  // v, h
  ASSERT_EQ(Utils(host)->iterate_origin16(host.InData(), 0, 6, src.World(), nullptr, &origin, &c,
                                          &CountPixel<PF_Pixel16>, dst.World()),
            PF_Err_NONE);
  EXPECT_EQ(c.wrongIn, 0);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(c.hits[y * 6 + x], (x < 4 && y >= 2) ? 1 : 0);
  }
}

PF_Err FailFromRow(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel*) {
  const int row = *static_cast<int*>(refcon);
  if (y > row) return 1000 + y;  // later rows fail with other codes
  return (y == row && x == 2) ? 999 : PF_Err_NONE;
}

TEST_P(IterateThreads, ReturnsTheFirstPixelErrorInRowOrder) {
  Host host;
  host.Config().threads = GetParam();
  SoftWorld world(8, 100, false);
  int row = 41;
  EXPECT_EQ(Utils(host)->iterate(host.InData(), 0, 1, world.World(), nullptr, &row, &FailFromRow,
                                 world.World()),
            999);
}

PF_Err Nothing(void*, A_long, A_long, PF_Pixel*, PF_Pixel*) { return PF_Err_NONE; }

TEST_P(IterateThreads, PollsAbortBetweenChunksAndReportsProgress) {
  Host host;
  host.Config().threads = GetParam();
  std::vector<A_long> seen;
  host.onProgress = [&](A_long current, A_long total) {
    EXPECT_EQ(total, 300);
    seen.push_back(current);
  };
  SoftWorld world(5, 64, false);
  ASSERT_EQ(Utils(host)->iterate(host.InData(), 100, 300, world.World(), nullptr, nullptr, &Nothing,
                                 world.World()),
            PF_Err_NONE);
  const long polls = host.AbortPolls();
  ASSERT_GE(polls, 2);
  ASSERT_EQ(static_cast<long>(seen.size()), polls);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  EXPECT_GT(seen.front(), 100);
  EXPECT_EQ(seen.back(), 300);

  host.onProgress = nullptr;
  host.ResetFaultCounters();
  host.Faults().abortAfterPolls = 1;
  EXPECT_EQ(Utils(host)->iterate(host.InData(), 0, 1, world.World(), nullptr, nullptr, &Nothing,
                                 world.World()),
            PF_Interrupt_CANCEL);
  EXPECT_EQ(host.AbortPolls(), 2);
}

INSTANTIATE_TEST_SUITE_P(Threads, IterateThreads, ::testing::Values(1, 4));

TEST(Abort, AnswersFromThePollConfiguredOnAndCountsProgressToo) {
  Host host;
  host.Faults().abortAfterPolls = 2;
  host.Faults().abortCode = 1234;
  PF_InteractCallbacks& inter = host.InData()->inter;
  EXPECT_EQ(inter.abort(Ref(host)), PF_Err_NONE);
  EXPECT_EQ(inter.progress(Ref(host), 1, 2), PF_Err_NONE);
  EXPECT_EQ(inter.abort(Ref(host)), 1234);
  EXPECT_EQ(inter.progress(Ref(host), 2, 2), 1234);
  EXPECT_EQ(host.AbortPolls(), 4);
}

}  // namespace
