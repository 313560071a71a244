#include <gtest/gtest.h>

#include <cstdlib>

#include "kernels/CustomKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using shapestest::BuildKernelOf;
using shapestest::FillAll;
using shapestest::HostSession;
using shapestest::Kernel;
using shapestest::SetPixel;

Kernel CustomKernel(PF_InData* inData, PF_EffectWorld* layer, int32_t channel, double h, double v) {
  KernelSettings settings;
  settings.inData = inData;
  settings.shapeWorld = layer;
  settings.shapeChannel = channel;
  CustomKernelMaker maker(settings);
  return BuildKernelOf(maker, h, v);
}

TEST(CustomKernel, NoLayerGivesZerosCentreIncluded) {
  HostSession session;
  const double amounts[][3] = {{0, 0, 3}, {10, 10, 23}, {2.5, 0.5, 9}};
  for (const auto& a : amounts) {
    const Kernel k = CustomKernel(session.In(), nullptr, kShapeRed, a[0], a[1]);
    EXPECT_EQ(k.width, static_cast<int32_t>(a[2]));
    for (int32_t w : k.weights) EXPECT_EQ(w, 0);
  }
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}

// A uniform opaque layer of (red 64, green 192, blue 0) at several sizes and
// both depths: away from the sampling box's rim every weight is the chosen
// channel's value, within the Mitchell resampler's ringing (a few percent
// when a small layer is enlarged); alpha is exact because an opaque layer
// stays opaque through both resamplings.
TEST(CustomKernel, ChannelsOfAUniformLayer) {
  struct Expect {
    int32_t channel;
    int32_t weight;
    bool exact;
  };
  const Expect expects[] = {
      {kShapeRed, 8224, false},
      {kShapeGreen, 24672, false},
      {kShapeBlue, 0, true},
      {kShapeAlpha, 32768, true},
      {7, 32768, true},                 // any other value reads alpha
      {kShapeLuminance, 10965, false},  // (64 + 192 + 0) / 765 of full weight
  };
  const int32_t sizes[][2] = {{5, 5}, {13, 13}, {64, 48}, {300, 200}};
  HostSession session;
  for (const auto& size : sizes) {
    for (bool deep : {false, true}) {
      softhost::SoftWorld layer(size[0], size[1], deep);
      const int32_t full = deep ? 32768 : 255;
      FillAll(layer.World(), full, deep ? 8224 : 64, deep ? 24672 : 192, 0);
      for (const Expect& e : expects) {
        SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << (deep ? " deep" : "")
                                        << " channel " << e.channel);
        const Kernel k = CustomKernel(session.In(), layer.World(), e.channel, 5, 5);
        ASSERT_EQ(k.width, 13);
        ASSERT_EQ(k.height, 13);
        EXPECT_EQ(k.At(6, 6), 32768);
        for (int32_t y = 4; y <= 8; ++y) {
          for (int32_t x = 4; x <= 8; ++x) {
            if (x == 6 && y == 6) continue;
            EXPECT_LE(std::abs(k.At(x, y) - e.weight), e.exact ? 0 : e.weight / 20)
                << x << "," << y;
          }
        }
        // The box (10 x 10 at offset 1.5) never reaches the outer ring.
        for (int32_t i = 0; i < 13; ++i) {
          EXPECT_EQ(k.At(i, 0), 0);
          EXPECT_EQ(k.At(0, i), 0);
        }
      }
    }
  }
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}

// The layer's whole frame maps onto the 2h x 2v box, unmirrored: a white
// left half lights the kernel's left, a small square in a large layer stays
// small.
TEST(CustomKernel, FrameMapsOntoTheBox) {
  HostSession session;
  softhost::SoftWorld halves(40, 40, false);
  for (int32_t y = 0; y < 40; ++y) {
    for (int32_t x = 0; x < 20; ++x) SetPixel(halves.World(), x, y, 255, 255, 255, 255);
  }
  const Kernel k = CustomKernel(session.In(), halves.World(), kShapeLuminance, 5, 5);
  for (int32_t y = 3; y <= 9; ++y) {
    EXPECT_GT(k.At(3, y), 30000) << y;
    EXPECT_LT(k.At(9, y), 1500) << y;
  }

  softhost::SoftWorld dot(100, 100, true);
  for (int32_t y = 40; y < 60; ++y) {
    for (int32_t x = 40; x < 60; ++x) SetPixel(dot.World(), x, y, 32768, 32768, 32768, 32768);
  }
  const Kernel small = CustomKernel(session.In(), dot.World(), kShapeAlpha, 10, 10);
  ASSERT_EQ(small.width, 23);
  EXPECT_GT(small.At(10, 12), 25000);
  EXPECT_GT(small.At(12, 10), 25000);
  for (int32_t i = 0; i < 23; ++i) {
    EXPECT_LT(small.At(i, 5), 200) << i;
    EXPECT_LT(small.At(17, i), 200) << i;
  }
}

}  // namespace
