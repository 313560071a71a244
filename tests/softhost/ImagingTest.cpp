#include <utility>
#include <vector>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

// Five red values along the middle row (or, for vertical kernels, column) of
// an otherwise black image of alpha 77 and the red values expected there
// afterwards. Alpha has an identity kernel of its own, as the effect's
// smoothing passes it: flags 7 and 39 are the effect's horizontal and
// vertical passes.
TEST(Convolve, NormalisesRoundsAndTreatsOutsideAsTransparent) {
  struct Case {
    bool deep;
    PF_KernelFlags flags;
    std::vector<A_long> kernel;
    std::vector<int> values, expected;
  } cases[] = {
      {false, 7, {1, 1, 1}, {0, 0, 100, 200, 255}, {0, 33, 100, 185, 152}},
      {false, 39, {0, 0, 1}, {1, 2, 3, 4, 5}, {2, 3, 4, 5, 0}},
      {true, 7, {1, 2, 1}, {0, 32768, 32767, 101, 0}, {8192, 24576, 24601, 8242, 25}},
  };
  Host host;
  for (const Case& c : cases) {
    const bool vertical = (c.flags & PF_KernelFlag_VERTICAL) != 0;
    SoftWorld src(vertical ? 3 : 5, vertical ? 5 : 3, c.deep);
    SoftWorld dst(src.Width(), src.Height(), c.deep);
    const auto at = [&](int i) { return std::pair{vertical ? 1 : i, vertical ? i : 1}; };
    for (int y = 0; y < src.Height(); ++y) {
      for (int x = 0; x < src.Width(); ++x) {
        if (c.deep) src.Pixel16(x, y)->alpha = 77;
        if (!c.deep) src.Pixel8(x, y)->alpha = 77;
      }
    }
    for (int i = 0; i < 5; ++i) {
      const auto [x, y] = at(i);
      if (c.deep) src.Pixel16(x, y)->red = static_cast<A_u_short>(c.values[i]);
      if (!c.deep) src.Pixel8(x, y)->red = static_cast<A_u_char>(c.values[i]);
    }
    std::vector<A_long> k = c.kernel, identity{0, 1, 0};
    ASSERT_EQ(Utils(host)->convolve(Ref(host), src.World(), nullptr, c.flags, 3, identity.data(),
                                    k.data(), k.data(), k.data(), dst.World()),
              PF_Err_NONE);
    for (int i = 0; i < 5; ++i) {
      const auto [x, y] = at(i);
      const int red = c.deep ? dst.Pixel16(x, y)->red : dst.Pixel8(x, y)->red;
      const int alpha = c.deep ? dst.Pixel16(x, y)->alpha : dst.Pixel8(x, y)->alpha;
      EXPECT_TRUE(red == c.expected[i] && alpha == 77)
          << "flags " << c.flags << " deep " << c.deep << " at " << i << ": red " << red
          << " alpha " << alpha << ", expected red " << c.expected[i];
    }
  }
}

// A point at integer 16.16 coordinates is a pixel centre; the box covers
// x +- rx, y +- ry, and whatever lies outside the source is transparent.
TEST(AreaSample, MeanOfTheCoveredAreaRoundedToNearest) {
  Host host;
  SoftWorld src(4, 3, false);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      *src.Pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(255 - x), static_cast<A_u_char>(x * 60),
                                   static_cast<A_u_char>(y * 100), static_cast<A_u_char>(x + y)};
    }
  }
  struct Case {
    double x, y, rx, ry;
    PF_Pixel expected;
  } cases[] = {
      {2, 1, 0.5, 0.5, {253, 120, 100, 3}},  // one to one
      {1.5, 0.5, 1, 1, {254, 90, 50, 2}},    // four pixels; alpha 253.5 rounds up
      {1.25, 0, 0.5, 0.5, {254, 75, 0, 1}},  // 3/4 of pixel 1, 1/4 of pixel 2
      {-0.5, 0, 0.5, 0.5, {128, 0, 0, 0}},   // half off the edge: 127.5 rounds up
  };
  PF_SampPB pb{};
  pb.src = src.World();
  for (const Case& c : cases) {
    pb.x_radius = static_cast<PF_Fixed>(c.rx * 65536);
    pb.y_radius = static_cast<PF_Fixed>(c.ry * 65536);
    PF_Pixel got{1, 1, 1, 1};
    ASSERT_EQ(Utils(host)->area_sample(Ref(host), static_cast<PF_Fixed>(c.x * 65536),
                                       static_cast<PF_Fixed>(c.y * 65536), &pb, &got),
              PF_Err_NONE);
    for (int ch = 0; ch < 4; ++ch) {
      EXPECT_EQ(Channel(got, ch), Channel(c.expected, ch))
          << "at " << c.x << "," << c.y << " channel " << ch;
    }
  }
}

}  // namespace
