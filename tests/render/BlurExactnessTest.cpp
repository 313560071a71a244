// The Normal view, pixel for pixel, against the reference written from the
// definition.
#include <tuple>

#include "render/RenderHarness.h"

namespace rendertest {
namespace {

constexpr int32_t kWidth = 23;
constexpr int32_t kHeight = 17;

// A hint is the legacy render command's; without one the frame renders
// whole through `path`.
void RenderAndCompare(const Image& input, const Controls& controls, const PF_Rect* hint,
                      softhost::RenderPath path = softhost::kDefaultRenderPath) {
  softhost::Host host(ReferenceHostConfig());
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  host.Config().renderPath = path;
  if (hint != nullptr) {
    host.Config().renderPath = softhost::RenderPath::Legacy;
    host.Config().extentHintSet = true;
    host.Config().extentHint = *hint;
  }
  const Rendered r = Render(host, EffectMain, controls, input);
  ASSERT_EQ(r.err, PF_Err_NONE) << r.message;
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.liveWorlds, 0);
  EXPECT_EQ(r.checkedOut, 0);
  EXPECT_TRUE(r.inputKept);
  const PF_Rect used = hint != nullptr ? *hint : HostRect(0, 0, input.width, input.height);
  const Image expected =
      ReferenceBlur(input, controls.shape, controls.amount * 0.5,
                    (controls.uniform ? controls.amount : controls.vertical) * 0.5, used);
  const std::string difference = FirstDifference(expected, r.output, input);
  EXPECT_TRUE(difference.empty()) << difference;
}

// 0 is the identity kernel, 5.5 a fractional half-size, 7 x 2.5 unequal,
// 0 x 6 one pass only, 50 a kernel wider than the image. View 6 is no view
// the effect knows: the Normal view, where the uniform switch makes the
// vertical slider irrelevant.
struct Amounts {
  int32_t view;
  bool uniform;
  double amount, vertical;
};
const Amounts kAmounts[] = {
    {0, true, 0, 0}, {0, true, 5.5, 0}, {0, false, 7, 2.5}, {0, false, 0, 6}, {6, true, 50, 40}};

class BlurExactness : public ::testing::TestWithParam<std::tuple<Shape, bool, Pattern, Amounts>> {};

// Through both render commands where the generation has SmartFX.
TEST_P(BlurExactness, MatchesTheReference) {
  const auto [shape, deep, pattern, a] = GetParam();
  for (softhost::RenderPath path : {softhost::kDefaultRenderPath, softhost::RenderPath::Legacy}) {
    SCOPED_TRACE(::testing::Message()
                 << Name(shape) << (deep ? " 16" : " 8") << " bpc " << Name(pattern) << " amounts "
                 << a.amount << " x " << (a.uniform ? a.amount : a.vertical)
                 << (path == softhost::RenderPath::Legacy ? ", legacy" : ", smart"));
    RenderAndCompare(MakePattern(pattern, kWidth, kHeight, deep, 1234),
                     Controls{a.view, shape, a.uniform, a.amount, a.vertical}, nullptr, path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllShapes, BlurExactness,
    ::testing::Combine(::testing::Values(Gaussian, Diamond, SharpDiamond, Box, Cylinder),
                       ::testing::Bool(), ::testing::Values(Random, Impulses, Edges),
                       ::testing::ValuesIn(kAmounts)));

// Hints come bottom and right inclusive; only the hint widened by half the
// kernel is computed, from the pixels inside it. The empty hint at amount 0
// must give a transparent frame and success.
TEST(ExtentHints, OnlyTheWidenedRegionIsComputed) {
  // Sides left, top, right, bottom.
  const PF_Rect hints[] = {HostRect(0, 4, 6, 10),           HostRect(15, 6, kWidth - 1, 12),
                           HostRect(3, 10, 9, kHeight - 1), HostRect(9, 7, 11, 9),
                           HostRect(0, 0, kWidth, kHeight), HostRect(5, 5, 5, 9)};
  for (Shape shape : {Diamond, Box}) {
    for (bool deep : {false, true}) {
      for (const PF_Rect& hint : hints) {
        SCOPED_TRACE(::testing::Message()
                     << Name(shape) << (deep ? " 16" : " 8") << " bpc hint t" << hint.top << " l"
                     << hint.left << " b" << hint.bottom << " r" << hint.right);
        const bool empty = hint.bottom == hint.top;
        RenderAndCompare(MakePattern(Random, kWidth, kHeight, deep, 99),
                         Controls{0, shape, false, empty ? 0.0 : 5.0, empty ? 0.0 : 3.0}, &hint);
      }
    }
  }
  // A 7 x 7 kernel around 100..110 convolves only the 16 x 16 region from 97.
  const PF_Rect hint = HostRect(100, 100, 110, 110);
  RenderAndCompare(Image(240, 200, false, Pix{255, 200, 100, 50}), Controls{0, Diamond, true, 6, 0},
                   &hint);
}

}  // namespace
}  // namespace rendertest
