// The kernel ladder's choice rule, and how the control layer is placed,
// sampled and shown by "View BCL".
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "convolution/BCL.h"
#include "kernels/KernelMaker.h"
#include "render/BCLView.h"
#include "shapes/ShapesSupport.h"

namespace {

using shapestest::Channel;
using shapestest::FullScale;
using shapestest::SetChannel;
using softhost::SoftWorld;

struct LadderCase {
  int32_t n;
  double h, v;
};
class LadderChoice : public ::testing::TestWithParam<LadderCase> {};

// Requests are fractions of the full pair, as the convolutions make them.
TEST_P(LadderChoice, AtAndAroundEveryKey) {
  const LadderCase c = GetParam();
  SharpDiamondKernelMaker maker;
  KernelInterpolator ladder;
  ladder.Build(c.h, c.v, &maker, c.n);
  const double a = std::max(c.h, c.v);
  const auto index = [&](double request) {
    const double f = a == 0.0 ? request : request / a;
    return ladder.KernelFor(f * c.h, f * c.v).kernelIndex;
  };
  if (a == 0.0) {  // every rung is amount 0: only the first one is kept
    EXPECT_EQ(ladder.RungCount(), 1);
    for (double f : {0.0, 0.5, 1.0}) EXPECT_EQ(index(f * a), 0);
    return;
  }
  for (int32_t k = 0; k < c.n; ++k) {
    const double key = k * a / c.n;
    SCOPED_TRACE(::testing::Message() << "k = " << k);
    EXPECT_EQ(index(key), k);
    EXPECT_EQ(index(key + 5e-11), k) << "within the tolerance";
    EXPECT_EQ(index(key + 1e-7), std::min(k + 1, c.n - 1)) << "slightly above";
    if (k > 0) {
      EXPECT_EQ(index(key - 1e-7), k) << "slightly below";
    }
  }
  EXPECT_EQ(index(a), c.n - 1) << "the full amount has no rung: the largest kernel";
  EXPECT_EQ(ladder.Largest().kernelIndex, c.n - 1);
}

INSTANTIATE_TEST_SUITE_P(Ladders, LadderChoice,
                         ::testing::Values(LadderCase{2, 10, 0}, LadderCase{1000, 0, 150},
                                           LadderCase{7, 4, 9}, LadderCase{5, 0, 0}));

struct PlaceCase {
  const char* name;
  int32_t imageW, imageH, layerW, layerH;
  int32_t tileMode, centerX, centerY;
  double scaleX, scaleY;
  int32_t placedW, placedH, offsetX, offsetY;
};
class Placement : public ::testing::TestWithParam<PlaceCase> {};

// Each layer pixel is distinct, so an off-by-one placement shows; outside the
// placed layer the default follows the depth of the image, inside the value
// and inversion follow the layer's.
TEST_P(Placement, CoversExactlyThePlacedRectangle) {
  const PlaceCase c = GetParam();
  const bool identity = c.placedW == c.layerW && c.placedH == c.layerH;
  softhost::Host host;
  for (int32_t depths = 0; depths < 8; ++depths) {
    const bool deepImage = depths & 1, deepLayer = depths & 2, invert = depths & 4;
    SoftWorld image(c.imageW, c.imageH, deepImage);
    SoftWorld layer(c.layerW, c.layerH, deepLayer);
    const auto marker = [&](int32_t u, int32_t v) {
      const int32_t m = identity ? 1 + (u * 7 + v * 13) % 250 : 123;
      return deepLayer ? m * 100 : m;
    };
    for (int32_t v = 0; v < c.layerH; ++v) {
      for (int32_t u = 0; u < c.layerW; ++u) SetChannel(layer.World(), u, v, 1, marker(u, v));
    }
    BCLSettings s{2, 0, 1, c.tileMode, c.centerX, c.centerY, c.scaleX, c.scaleY, invert, 50};
    BCLImage bcl;
    bcl.Init(host.InData(), image.World(), layer.World(), s);
    SCOPED_TRACE(::testing::Message() << "depths " << depths);
    ASSERT_EQ(bcl.ControlImage().RawWorld()->width, c.placedW);
    ASSERT_EQ(bcl.ControlImage().RawWorld()->height, c.placedH);
    ASSERT_EQ(bcl.OffsetX(), c.offsetX);
    ASSERT_EQ(bcl.OffsetY(), c.offsetY);
    for (int32_t y = -1; y <= c.imageH; ++y) {
      for (int32_t x = -1; x <= c.imageW; ++x) {
        const int32_t u = x - c.offsetX, v = y - c.offsetY;
        int32_t expected = invert ? 0 : FullScale(image.World());
        if (u >= 0 && v >= 0 && u < c.placedW && v < c.placedH) {
          expected = invert ? FullScale(layer.World()) - marker(u, v) : marker(u, v);
        }
        int32_t control = -1;
        bcl.SampleAmount(x, y, &control);
        ASSERT_EQ(control, expected) << "at (" << x << ", " << y << ")";
      }
    }
  }
}

// Scale 1 with the nearest filter leaves the layer as it is.
INSTANTIATE_TEST_SUITE_P(
    TileModes, Placement,
    ::testing::Values(PlaceCase{"NoTilingLarger", 40, 30, 64, 48, 0, 25, 12, 1, 1, 64, 48, -7, -12},
                      PlaceCase{"NoTilingScaled", 40, 30, 10, 10, 0, 30, 20, 0.55, 2, 6, 20, 27,
                                10},
                      PlaceCase{"CenterHalf", 41, 31, 41, 31, 1, 0, 0, 0.5, 0.5, 21, 16, 10, 7},
                      PlaceCase{"StretchOdd", 37, 23, 13, 11, 2, 0, 0, 1, 1, 37, 23, 0, 0}),
    [](const ::testing::TestParamInfo<PlaceCase>& p) { return std::string(p.param.name); });

TEST(BCLImage, ChannelChoice) {
  struct Case {
    bool deep;
    int32_t a, r, g, b, channel, control;
  };
  const Case cases[] = {{false, 255, 255, 0, 0, 0, 85},  // pure red: a plain mean, not luminance
                        {false, 7, 10, 20, 32, 3, 32},
                        {false, 7, 10, 20, 32, 9, 7},
                        {true, 9, 32768, 1, 0, 0, 10923}};
  softhost::Host host;
  for (const Case& c : cases) {
    SoftWorld image(1, 1, false);
    SoftWorld layer(1, 1, c.deep);
    const int32_t values[4] = {c.a, c.r, c.g, c.b};
    for (int32_t ch = 0; ch < 4; ++ch) SetChannel(layer.World(), 0, 0, ch, values[ch]);
    BCLImage bcl;
    bcl.Init(host.InData(), image.World(), layer.World(),
             BCLSettings{2, 0, c.channel, 1, 0, 0, 1.0, 1.0, false, 50});
    int32_t control = -1;
    const double f = bcl.SampleAmount(0, 0, &control);
    EXPECT_EQ(control, c.control) << "channel " << c.channel;
    EXPECT_EQ(f, c.control * (c.deep ? 3.0517578125e-5 : 0.00392156862745098));
  }
}

// Without a layer "View BCL" is white (black when inverted); with one it shows
// the control value wherever input and output overlap.
TEST(ViewBCL, ShowsTheControlValueWhereInputAndOutputOverlap) {
  softhost::Host host;
  for (int32_t variant = 0; variant < 4; ++variant) {
    const bool deep = variant & 1, invert = variant & 2;
    SoftWorld input(9, 4, deep);
    SoftWorld layer(9, 4, deep);
    for (int32_t y = 0; y < 4; ++y) {
      for (int32_t x = 0; x < 9; ++x) SetChannel(layer.World(), x, y, 3, x * 10 + y);
    }
    SoftWorld output(6, 7, deep);
    shapestest::FillAll(output.World(), 3, 3, 3, 3);
    const BCLSettings s{2, 0, 3, 1, 0, 0, 1.0, 1.0, invert, 50};
    PF_EffectWorld* chosen = invert ? nullptr : layer.World();
    (deep ? RenderBCLView16 : RenderBCLView8)(host.InData(), input.World(), output.World(), chosen,
                                              s);
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 6; ++x) {
        const int32_t grey = y >= 4 ? 3 : invert ? 0 : x * 10 + y;
        ASSERT_EQ(Channel(output.World(), x, y, 2), grey)
            << variant << " (" << x << "," << y << ")";
        ASSERT_EQ(Channel(output.World(), x, y, 0), y >= 4 ? 3 : FullScale(output.World()));
      }
    }
  }
}

}  // namespace
