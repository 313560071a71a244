// The View Kernel output. Every host call failing at each of its uses, aborts
// included, is swept in test_reliability.
#include <string>
#include <tuple>

#include "render/RenderHarness.h"

namespace rendertest {
namespace {

struct KernelViewCase {
  Shape shape;
  double h, v;  // half-sizes
  int32_t width, height;
  int32_t downsample = 1;  // the sliders are full-resolution diameters
};

class KernelViewOutput : public ::testing::TestWithParam<std::tuple<KernelViewCase, bool>> {};

// The kernel is the outer product of the two peak-normalised profiles, drawn
// centred in grey on opaque black inside a white one-pixel frame; whatever
// falls outside the output is dropped.
TEST_P(KernelViewOutput, ShowsTheKernelFramedAndCentred) {
  const auto [k, deep] = GetParam();
  SCOPED_TRACE(::testing::Message() << Name(k.shape) << " " << k.h << " x " << k.v << " on "
                                    << k.width << " x " << k.height << (deep ? " 16" : " 8"));
  softhost::HostConfig config = ReferenceHostConfig();
  config.downsampleX = config.downsampleY =
      PF_RationalScale{1, static_cast<A_u_long>(k.downsample)};
  softhost::Host host(config);
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  const double scale = 2.0 * k.downsample;
  const Rendered r = Render(host, EffectMain, Controls{1, k.shape, false, k.h * scale, k.v * scale},
                            MakePattern(Random, k.width, k.height, deep, 42));
  ASSERT_EQ(r.err, PF_Err_NONE) << r.message;

  std::vector<int32_t> across = Profile(k.shape, k.h, true);
  std::vector<int32_t> down = Profile(k.shape, k.v, false);
  if (k.h != 0 && k.v != 0) {
    ScaleToPeak(across);
    ScaleToPeak(down);
  }
  const int32_t kw = static_cast<int32_t>(across.size());
  const int32_t kh = static_cast<int32_t>(down.size());
  const int32_t full = deep ? 32768 : 255;
  Image expected(k.width, k.height, deep, Pix{full, 0, 0, 0});
  const int32_t x0 = k.width / 2 - kw / 2;
  const int32_t y0 = k.height / 2 - kh / 2;
  for (int32_t y = -1; y <= kh; ++y) {
    for (int32_t x = -1; x <= kw; ++x) {
      int32_t grey = full;  // the frame
      if (x >= 0 && y >= 0 && x < kw && y < kh) {
        const int32_t a = across[static_cast<size_t>(x)], d = down[static_cast<size_t>(y)];
        const int32_t w = k.h == 0   ? d
                          : k.v == 0 ? a
                                     : static_cast<int32_t>((int64_t{a} * d) >> 15);
        grey = deep ? w : (w * 255) >> 15;
      }
      if (x0 + x >= 0 && y0 + y >= 0 && x0 + x < k.width && y0 + y < k.height) {
        expected.At(x0 + x, y0 + y) = Pix{full, grey, grey, grey};
      }
    }
  }
  const std::string difference = FirstDifference(expected, r.output, expected);
  EXPECT_TRUE(difference.empty()) << difference;
  EXPECT_EQ(r.liveWorlds, 0);
  EXPECT_EQ(r.checkedOut, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, KernelViewOutput,
    ::testing::Combine(::testing::Values(KernelViewCase{Diamond, 2, 2, 15, 11},
                                         KernelViewCase{Gaussian, 3.5, 1, 16, 12},
                                         KernelViewCase{SharpDiamond, 0, 2.5, 9, 9},
                                         KernelViewCase{Box, 15, 9, 15, 11},
                                         KernelViewCase{Diamond, 5, 5, 21, 21, 2}),
                       ::testing::Bool()));

}  // namespace
}  // namespace rendertest
