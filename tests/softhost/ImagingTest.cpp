#include <numeric>
#include <string>
#include <vector>

#include "HostTestSupport.h"

using namespace softhost;
using namespace softhost_test;

namespace {

TEST(GaussianKernel, MatchesTheEffectFormulaAndHonoursFlags) {
  Host host;
  A_long d = 0;
  std::vector<A_long> k(25, -1);
  ASSERT_EQ(Utils(host)->gaussian_kernel(Ref(host), 2.0, PF_KernelFlag_1D, 1.0, &d, k.data()),
            PF_Err_NONE);
  ASSERT_EQ(d, 5);
  EXPECT_EQ(std::vector<A_long>(k.begin(), k.begin() + 5),
            (std::vector<A_long>{717, 7481, 16340, 7481, 717}));

  ASSERT_EQ(Utils(host)->gaussian_kernel(Ref(host), 1.0, PF_KernelFlag_1D, 1.0, &d, k.data()),
            PF_Err_NONE);
  EXPECT_EQ(std::vector<A_long>(k.begin(), k.begin() + 3),
            (std::vector<A_long>{1435, 32681, 1435}));

  ASSERT_EQ(Utils(host)->gaussian_kernel(Ref(host), 2.0, PF_KernelFlag_1D, 0.5, &d, k.data()),
            PF_Err_NONE);
  EXPECT_EQ(k[2], 8170);

  ASSERT_EQ(Utils(host)->gaussian_kernel(
                Ref(host), 3.0, PF_KernelFlag_1D | PF_KernelFlag_NORMALIZED, 1.0, &d, k.data()),
            PF_Err_NONE);
  ASSERT_EQ(d, 7);
  EXPECT_NEAR(std::accumulate(k.begin(), k.begin() + 7, 0L), 32768, 3);
}

// One row of a convolve table: five red values along the middle row (or, for
// vertical kernels, column) of an otherwise black image, the kernel used for
// every channel, and the red values expected there afterwards.
struct ConvolveCase {
  std::string name;
  bool deep;
  PF_KernelFlags flags;
  std::vector<A_long> kernel;
  std::vector<int> values;
  std::vector<int> expected;
};

class ConvolveTable : public ::testing::TestWithParam<ConvolveCase> {};

TEST_P(ConvolveTable, RedChannel) {
  const ConvolveCase& c = GetParam();
  Host host;
  const bool vertical = (c.flags & PF_KernelFlag_VERTICAL) != 0;
  const int w = vertical ? 3 : 5, h = vertical ? 5 : 3;
  SoftWorld src(w, h, c.deep), dst(w, h, c.deep);
  for (int i = 0; i < 5; ++i) {
    const int x = vertical ? 1 : i, y = vertical ? i : 1;
    if (c.deep) {
      src.Pixel16(x, y)->red = static_cast<A_u_short>(c.values[i]);
    } else {
      src.Pixel8(x, y)->red = static_cast<A_u_char>(c.values[i]);
    }
  }
  std::vector<A_long> kernel = c.kernel;
  ASSERT_EQ(Utils(host)->convolve(Ref(host), src.World(), nullptr, c.flags,
                                  static_cast<A_long>(kernel.size()), kernel.data(), kernel.data(),
                                  kernel.data(), kernel.data(), dst.World()),
            PF_Err_NONE);
  for (int i = 0; i < 5; ++i) {
    const int x = vertical ? 1 : i, y = vertical ? i : 1;
    const int got = c.deep ? dst.Pixel16(x, y)->red : dst.Pixel8(x, y)->red;
    EXPECT_EQ(got, c.expected[i]) << "(" << x << ", " << y << ")";
  }
}

constexpr PF_KernelFlags k1D = PF_KernelFlag_1D;
constexpr PF_KernelFlags kNorm = PF_KernelFlag_1D | PF_KernelFlag_NORMALIZED;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Flags, ConvolveTable, ::testing::Values(
    // Normalised by the kernel's own sum, rounded; taps outside count 0.
    ConvolveCase{"BoxHorizontal", false, kNorm, {1, 1, 1}, {0, 0, 100, 0, 0}, {0, 33, 33, 33, 0}},
    ConvolveCase{"BoxVertical", false, kNorm | PF_KernelFlag_VERTICAL, {1, 1, 1},
                 {0, 50, 0, 0, 0}, {17, 17, 17, 0, 0}},
    ConvolveCase{"TransparentBorder", false, kNorm, {1, 1, 1}, {255, 255, 255, 255, 255},
                 {170, 255, 255, 255, 170}},
    ConvolveCase{"ReplicateBorder", false, kNorm | PF_KernelFlag_REPLICATE_BORDERS, {1, 1, 1},
                 {255, 255, 255, 255, 255}, {255, 255, 255, 255, 255}},
    ConvolveCase{"Asymmetric", false, kNorm, {0, 0, 1}, {1, 2, 3, 4, 5}, {2, 3, 4, 5, 0}},
    // Unnormalised long entries: 32768 is 1.0.
    ConvolveCase{"UnitScale", false, k1D, {0, 16384, 0}, {0, 1, 3, 200, 255}, {0, 1, 2, 100, 128}},
    ConvolveCase{"Clamped8", false, k1D, {0, 65536, 0}, {0, 100, 200, 0, 0}, {0, 200, 255, 0, 0}},
    ConvolveCase{"Clamped16", true, k1D, {0, 65536, 0}, {0, 10000, 20000, 0, 0},
                 {0, 20000, 32768, 0, 0}},
    ConvolveCase{"NoClamp16", true, k1D | PF_KernelFlag_NO_CLAMP, {0, 65536, 0},
                 {0, 10000, 20000, 40000, 0}, {0, 20000, 40000, 65535, 0}}),
    [](const auto& row) { return row.param.name; });
// clang-format on

TEST(Convolve, SmoothingAsTheEffectAsksForIt) {
  // Unnormalised Gaussian on colour, identity 255 on alpha, flags 7 then 39.
  Host host;
  A_long d = 0;
  std::vector<A_long> gauss(5), identity(5, 0);
  identity[2] = 255;
  ASSERT_EQ(Utils(host)->gaussian_kernel(Ref(host), 2.0, PF_KernelFlag_1D, 1.0, &d, gauss.data()),
            PF_Err_NONE);
  SoftWorld world(9, 9, true), temp(9, 9, true);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) *world.Pixel16(x, y) = PF_Pixel16{12345, 32768, 1000, 7};
  }
  for (PF_KernelFlags flags : {7, 39}) {
    SoftWorld& from = flags == 7 ? world : temp;
    SoftWorld& to = flags == 7 ? temp : world;
    ASSERT_EQ(Utils(host)->convolve(Ref(host), from.World(), nullptr, flags, 5, identity.data(),
                                    gauss.data(), gauss.data(), gauss.data(), to.World()),
              PF_Err_NONE);
  }
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) {
      const PF_Pixel16& p = *world.Pixel16(x, y);
      ASSERT_EQ(p.alpha, 12345) << x << "," << y;
      const bool interior = x >= 2 && x <= 6 && y >= 2 && y <= 6;
      if (interior) {
        ASSERT_EQ(p.red, 32768) << x << "," << y;
        ASSERT_EQ(p.green, 1000) << x << "," << y;
        ASSERT_EQ(p.blue, 7) << x << "," << y;
      } else {
        ASSERT_LT(p.red, 32768) << x << "," << y;  // transparent borders darken
      }
    }
  }
}

TEST(Convolve, TwoDimensionalAreaAndInPlace) {
  Host host;
  SoftWorld world(5, 5, false);
  world.Pixel8(2, 2)->green = 90;
  std::vector<A_long> ones(9, 1);
  // Rows 1 to 3 only; in place, so later rows must still see the original.
  const PF_Rect rows = HostRect(0, 1, 5, 4);
  ASSERT_EQ(
      Utils(host)->convolve(Ref(host), world.World(), &rows, PF_KernelFlag_NORMALIZED, 3,
                            ones.data(), ones.data(), ones.data(), ones.data(), world.World()),
      PF_Err_NONE);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) {
      const int expected = (y >= 1 && y <= 3 && x >= 1 && x <= 3) ? 10 : 0;
      EXPECT_EQ(world.Pixel8(x, y)->green, expected) << x << "," << y;
    }
  }
}

// Area sampling: a point at integer 16.16 coordinates is a pixel centre.
class AreaSampleTest : public ::testing::Test {
 protected:
  Host host;
  SoftWorld src{4, 3, false};
  PF_SampPB pb{};
  void SetUp() override {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) {
        *src.Pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(255 - x), static_cast<A_u_char>(x * 60),
                                     static_cast<A_u_char>(y * 100), static_cast<A_u_char>(x + y)};
      }
    }
    pb.src = src.World();
  }
  PF_Pixel Sample(double x, double y, double rx, double ry) {
    pb.x_radius = static_cast<PF_Fixed>(rx * 65536);
    pb.y_radius = static_cast<PF_Fixed>(ry * 65536);
    pb.area = static_cast<PF_Fixed>(4 * rx * ry * 65536);
    PF_Pixel out{1, 1, 1, 1};
    EXPECT_EQ(Utils(host)->area_sample(Ref(host), static_cast<PF_Fixed>(x * 65536),
                                       static_cast<PF_Fixed>(y * 65536), &pb, &out),
              PF_Err_NONE);
    return out;
  }
};

TEST_F(AreaSampleTest, OneToOneIsTheIdentityAndOutsideIsTransparent) {
  for (int y = -1; y <= 3; ++y) {
    for (int x = -1; x <= 4; ++x) {
      const PF_Pixel got = Sample(x, y, 0.5, 0.5);
      const bool inside = x >= 0 && x < 4 && y >= 0 && y < 3;
      const PF_Pixel want = inside ? *src.Pixel8(x, y) : PF_Pixel{0, 0, 0, 0};
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(Channel(got, c), Channel(want, c)) << "x " << x << " y " << y << " channel " << c;
      }
    }
  }
}

TEST_F(AreaSampleTest, ExactCoverageRoundedToNearest) {
  // A 2 x 2 box over pixels (1..2, 0..1): mean of four.
  PF_Pixel p = Sample(1.5, 0.5, 1.0, 1.0);
  EXPECT_EQ(p.red, 90);     // (60 + 120) / 2
  EXPECT_EQ(p.green, 50);   // (0 + 100) / 2
  EXPECT_EQ(p.blue, 2);     // (1 + 2 + 2 + 3) / 4
  EXPECT_EQ(p.alpha, 254);  // (254 + 253) / 2 = 253.5 rounds up
  // Three quarters of pixel 1 and a quarter of pixel 2 along x.
  p = Sample(1.25, 0, 0.5, 0.5);
  EXPECT_EQ(p.red, 75);     // 0.75 * 60 + 0.25 * 120
  EXPECT_EQ(p.alpha, 254);  // 0.75 * 254 + 0.25 * 253 = 253.75
  // Half the box hangs off the left edge: the missing half is transparent.
  p = Sample(-0.5, 0, 0.5, 0.5);
  EXPECT_EQ(p.alpha, 128);  // 127.5 rounds up
}

TEST_F(AreaSampleTest, SixteenBit) {
  SoftWorld deep(2, 1, true);
  *deep.Pixel16(0, 0) = PF_Pixel16{32768, 1, 2, 3};
  *deep.Pixel16(1, 0) = PF_Pixel16{0, 3, 2, 1};
  pb.src = deep.World();
  pb.x_radius = 65536;
  pb.y_radius = 32768;
  PF_Pixel16 out{};
  ASSERT_EQ(Utils(host)->area_sample16(Ref(host), 32768, 0, &pb, &out), PF_Err_NONE);
  EXPECT_EQ(out.alpha, 16384);
  EXPECT_EQ(out.red, 2);
  EXPECT_EQ(out.blue, 2);
}

}  // namespace
