// The Normal view, pixel for pixel, against the reference written from the
// definition: every separable shape, both depths, amounts from 0 through
// fractional and unequal ones to kernels larger than the image, and extent
// hints that touch each border.
#include <tuple>

#include "render/RenderHarness.h"

namespace rendertest {
namespace {

constexpr int32_t kWidth = 23;
constexpr int32_t kHeight = 17;

struct Amounts {
  bool uniform;
  double amount;
  double vertical;
};

// Slider values: 0 is the identity kernel, 3 and 5.5 fractional half-sizes,
// 7 x 2.5 unequal, 0 x 6 and 9 x 0 one pass only, 50 a kernel wider than
// the image (and a box that is really smoothed).
const Amounts kAmounts[] = {{true, 0, 0},  {true, 3, 0},  {true, 5.5, 0}, {false, 7, 2.5},
                            {false, 0, 6}, {false, 9, 0}, {true, 50, 0}};

// Renders `input` with the controls on a fresh host and checks the output
// against the reference, and that the input was left as it was.
void RenderAndCompare(const Image& input, const Controls& controls, const PF_Rect* hint) {
  softhost::Host host(ReferenceHostConfig());
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  Apply(host, controls);
  if (hint != nullptr) {
    host.Config().extentHintSet = true;
    host.Config().extentHint = *hint;
  }
  softhost::SoftWorld in(input.width, input.height, input.deep);
  softhost::SoftWorld out(input.width, input.height, input.deep);
  Store(input, in);
  host.SetInput(in.World());
  // Leftovers in the output must not survive the render.
  Store(Image(input.width, input.height, input.deep, Pix{7, 7, 7, 7}), out);

  ASSERT_EQ(host.Render(EffectMain, out.World()), PF_Err_NONE) << host.OutData()->return_msg;
  EXPECT_STREQ(host.OutData()->return_msg, "");
  EXPECT_EQ(host.LiveWorlds(), 0);
  EXPECT_EQ(host.CheckedOutLayers(), 0);

  const PF_Rect used = hint != nullptr ? *hint : host.InData()->extent_hint;
  const Image expected =
      ReferenceBlur(input, controls.shape, controls.amount * 0.5,
                    (controls.uniform ? controls.amount : controls.vertical) * 0.5, used);
  const std::string difference = FirstDifference(expected, Load(out), input);
  EXPECT_TRUE(difference.empty()) << difference;
  EXPECT_TRUE(FirstDifference(input, Load(in), input).empty()) << "the input was written";
}

using ExactCase = std::tuple<Shape, bool, Pattern, Amounts>;

class BlurExactness : public ::testing::TestWithParam<ExactCase> {};

TEST_P(BlurExactness, MatchesTheReference) {
  const auto [shape, deep, pattern, amounts] = GetParam();
  SCOPED_TRACE(::testing::Message()
               << Name(shape) << (deep ? " 16" : " 8") << " bpc " << Name(pattern) << " amounts "
               << amounts.amount << " x " << (amounts.uniform ? amounts.amount : amounts.vertical));
  const Image input = MakePattern(pattern, kWidth, kHeight, deep, 1234);
  Controls c;
  c.shape = shape;
  c.uniform = amounts.uniform;
  c.amount = amounts.amount;
  c.vertical = amounts.vertical;
  RenderAndCompare(input, c, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    AllShapes, BlurExactness,
    ::testing::Combine(::testing::Values(Gaussian, Diamond, SharpDiamond, Box, Cylinder),
                       ::testing::Bool(), ::testing::Values(Random, Impulses, Edges),
                       ::testing::ValuesIn(kAmounts)));

// Extent hints as the host gives them (bottom and right inclusive), each
// touching one border or none; the region is widened by half the kernel and
// only it is computed, from the pixels inside it.
using HintCase = std::tuple<Shape, bool, PF_Rect>;

class ExtentHints : public ::testing::TestWithParam<HintCase> {};

TEST_P(ExtentHints, OnlyTheWidenedRegionIsComputed) {
  const auto [shape, deep, hint] = GetParam();
  SCOPED_TRACE(::testing::Message()
               << Name(shape) << (deep ? " 16" : " 8") << " bpc hint t" << hint.top << " l"
               << hint.left << " b" << hint.bottom << " r" << hint.right);
  const Image input = MakePattern(Random, kWidth, kHeight, deep, 99);
  Controls c;
  c.shape = shape;
  c.uniform = false;
  c.amount = 5;
  c.vertical = 3;
  RenderAndCompare(input, c, &hint);
}

INSTANTIATE_TEST_SUITE_P(
    Borders, ExtentHints,
    ::testing::Combine(::testing::Values(Diamond, Box, Gaussian), ::testing::Bool(),
                       ::testing::Values(PF_Rect{4, 0, 10, 6},            // left
                                         PF_Rect{0, 8, 5, 14},            // top
                                         PF_Rect{6, 15, 12, kWidth - 1},  // right
                                         PF_Rect{10, 3, kHeight - 1, 9},  // bottom
                                         PF_Rect{7, 9, 9, 11},            // inside
                                         PF_Rect{0, 0, kHeight - 1, kWidth - 1},
                                         PF_Rect{0, 0, kHeight, kWidth})));

// The worked example: a 7 x 7 kernel around the hint 100..110 convolves the
// 16 x 16 region from (97, 97) and nothing else.
TEST(ExtentHintRegion, LargeFrameSmallHintAndEmptyRegion) {
  const Image input(240, 200, false, Pix{255, 200, 100, 50});
  Controls c;
  c.amount = 6;  // Diamond, half-size 3
  const PF_Rect hint{100, 100, 110, 110};
  RenderAndCompare(input, c, &hint);
  // An empty region is a success with a transparent frame: at amount 0 the
  // 1 x 1 kernel widens nothing.
  const PF_Rect empty{5, 5, 9, 5};
  for (bool deep : {false, true}) {
    RenderAndCompare(MakePattern(Random, 12, 10, deep, 5), {}, &empty);
  }
}

}  // namespace
}  // namespace rendertest
