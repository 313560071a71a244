#include <gtest/gtest.h>

#include <algorithm>

#include "kernels/CrossKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using shapestest::BuildKernelOf;
using shapestest::HostSession;
using shapestest::Kernel;

// The cross from its definition: the box kernel of (h, v/6) across the
// middle rows, the box kernel of (h/6, v) down the middle columns, larger
// weight wins.
Kernel CrossFromBars(PF_InData* inData, double h, double v, int32_t width, int32_t height) {
  BoxKernelMaker box(inData);
  const Kernel across = BuildKernelOf(box, h, v * CrossKernelMaker::kBarThickness);
  const Kernel down = BuildKernelOf(box, h * CrossKernelMaker::kBarThickness, v);
  Kernel k{width, height, std::vector<int32_t>(static_cast<size_t>(width * height), 0)};
  const int32_t top = height / 2 - across.height / 2;
  const int32_t left = width / 2 - down.width / 2;
  for (int32_t y = 0; y < across.height; ++y) {
    for (int32_t x = 0; x < across.width; ++x) {
      k.weights[static_cast<size_t>((y + top) * width + x)] = across.At(x, y);
    }
  }
  for (int32_t y = 0; y < down.height; ++y) {
    for (int32_t x = 0; x < down.width; ++x) {
      int32_t& w = k.weights[static_cast<size_t>(y * width + x + left)];
      w = std::max(w, down.At(x, y));
    }
  }
  return k;
}

TEST(CrossKernel, BarsAndCorners) {
  struct Case {
    double h, v;
    int32_t width, height;
  };
  const Case cases[] = {{0, 0, 1, 1},   {2, 2, 7, 7},     {12, 12, 27, 27},
                        {12, 0, 27, 1}, {9, 4.5, 21, 13}, {0, 7, 1, 17}};
  HostSession session;
  CrossKernelMaker maker(session.In());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "amounts " << c.h << " x " << c.v);
    const Kernel k = BuildKernelOf(maker, c.h, c.v);
    ASSERT_EQ(k.width, c.width);
    ASSERT_EQ(k.height, c.height);
    EXPECT_EQ(k.At(k.width / 2, k.height / 2), 32768);
    EXPECT_EQ(k.weights, CrossFromBars(session.In(), c.h, c.v, c.width, c.height).weights);
  }

  // 12 x 12: both bars are 7 thick, on rows and columns 10 to 16; nothing
  // outside them.
  const Kernel k = BuildKernelOf(maker, 12, 12);
  for (int32_t y = 0; y < 27; ++y) {
    for (int32_t x = 0; x < 27; ++x) {
      const bool inBars = (y >= 10 && y <= 16) || (x >= 10 && x <= 16);
      if (!inBars) {
        EXPECT_EQ(k.At(x, y), 0) << x << "," << y;
      }
    }
  }
  EXPECT_GT(k.At(1, 13), 0);
  EXPECT_GT(k.At(13, 25), 0);
  EXPECT_GE(k.At(5, 13), 32767);
  EXPECT_GE(k.At(13, 5), 32767);
}

}  // namespace
