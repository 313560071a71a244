#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "image/AEException.h"
#include "kernels/StarKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using shapestest::BuildKernelOf;
using shapestest::HostSession;
using shapestest::Kernel;

// The listed positions of kernel k: what the table holds from its start up
// to the first empty entry or the end of its range.
std::vector<KernelPixel> ListOf(const MaskedKernelMaker& maker, int32_t k) {
  std::vector<KernelPixel> list;
  const int32_t per = maker.PixelsPerKernel();
  for (int32_t i = k * per; i < (k + 1) * per; ++i) {
    const KernelPixel e = maker.Table()[i];
    if (e.x == -1) break;
    list.push_back(e);
  }
  return list;
}

// Every element above 0, columns outer and rows inner.
std::vector<KernelPixel> PositivesOf(const Kernel& k) {
  std::vector<KernelPixel> list;
  for (int32_t x = 0; x < k.width; ++x) {
    for (int32_t y = 0; y < k.height; ++y) {
      if (k.At(x, y) > 0) list.push_back(KernelPixel{x, y});
    }
  }
  return list;
}

bool SameList(const std::vector<KernelPixel>& a, const std::vector<KernelPixel>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].x != b[i].x || a[i].y != b[i].y) return false;
  }
  return true;
}

TEST(StarKernel, AmountZeroIsOneFullTap) {
  HostSession session;
  StarKernelMaker maker(session.In());
  const Kernel k = BuildKernelOf(maker, 0, 0);
  ASSERT_EQ(k.width, 1);
  ASSERT_EQ(k.height, 1);
  EXPECT_EQ(k.At(0, 0), 32768);
  EXPECT_EQ(maker.Mask().RawWorld()->width, 40);
  EXPECT_EQ(maker.Mask().RawWorld()->height, 40);
  ASSERT_EQ(maker.PixelsPerKernel(), 1);
  EXPECT_EQ(maker.Table()[0].x, 0);
  EXPECT_EQ(maker.Table()[0].y, 0);
}

// The star points up, is symmetric about the centre column, leaves the
// kernel's corners and the notch between its lower points empty, and its
// list names exactly the positive elements.
TEST(StarKernel, OrientationSymmetryAndList) {
  struct Case {
    double h, v;
    int32_t width, height, maskWidth, maskHeight;
  };
  const Case cases[] = {
      {10, 10, 21, 21, 42, 42}, {10, 5, 21, 11, 42, 40}, {7.5, 12, 17, 25, 40, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "amounts " << c.h << " x " << c.v);
    HostSession session;
    StarKernelMaker maker(session.In());
    const Kernel k = BuildKernelOf(maker, c.h, c.v);
    ASSERT_EQ(k.width, c.width);
    ASSERT_EQ(k.height, c.height);
    EXPECT_EQ(maker.Mask().RawWorld()->width, c.maskWidth);
    EXPECT_EQ(maker.Mask().RawWorld()->height, c.maskHeight);
    const int32_t cx = k.width / 2, cy = k.height / 2;
    EXPECT_EQ(k.At(cx, cy), 32768);
    EXPECT_EQ(k.At(0, 0), 0);
    EXPECT_EQ(k.At(k.width - 1, 0), 0);
    EXPECT_EQ(k.At(0, k.height - 1), 0);
    EXPECT_EQ(k.At(k.width - 1, k.height - 1), 0);
    // Top point near row 0 on the centre column; the bottom of that column
    // lies between the two lower points.
    EXPECT_GT(k.At(cx, 1), 8000);
    EXPECT_EQ(k.At(cx, k.height - 1), 0);
    EXPECT_GT(k.At(cx, cy - 1), 30000);
    for (int32_t y = 0; y < k.height; ++y) {
      for (int32_t x = 0; x < cx; ++x) {
        EXPECT_LE(std::abs(k.At(x, y) - k.At(k.width - 1 - x, y)), 700) << x << "," << y;
      }
    }
    EXPECT_TRUE(SameList(ListOf(maker, 0), PositivesOf(k)));
  }
}

TEST(StarKernel, EightBitMaskOnOldHostsGivesTheSameStar) {
  HostSession oldHost(11);
  StarKernelMaker shallow(oldHost.In());
  const Kernel k8 = BuildKernelOf(shallow, 10, 10);
  EXPECT_FALSE(IsDeep(shallow.Mask().RawWorld()));

  HostSession newHost(12);
  StarKernelMaker deep(newHost.In());
  const Kernel k16 = BuildKernelOf(deep, 10, 10);
  EXPECT_TRUE(IsDeep(deep.Mask().RawWorld()));

  // Fully covered elements reach full weight at both depths.
  EXPECT_EQ(k8.At(10, 8), 32768);
  EXPECT_EQ(k16.At(10, 8), 32768);
  for (size_t i = 0; i < k8.weights.size(); ++i) {
    EXPECT_LE(std::abs(k8.weights[i] - k16.weights[i]), 300) << "element " << i;
  }
}

// A ladder prepared once: each index fills only its own range, in the order
// the convolution reads, and a kernel index beyond the preparation raises.
TEST(StarKernel, TableRangesPerKernel) {
  HostSession session;
  StarKernelMaker maker(session.In());
  std::vector<int32_t> scratch(169, 0);
  try {
    maker.BuildKernel(scratch.data(), 6, 6, 0);
    FAIL() << "built without a mask";
  } catch (const AEException& e) {
    EXPECT_STREQ(e.Message(), "AEWorld not initialized");
  }

  maker.ReleaseKernel();
  maker.PrepareShape(6, 6, 3);
  ASSERT_EQ(maker.PixelsPerKernel(), 13 * 13);
  ASSERT_EQ(maker.Table().Size(), 3 * 13 * 13);

  Kernel small{7, 7, std::vector<int32_t>(49, 0)};
  maker.BuildKernel(small.weights.data(), 3, 3, 1);
  Kernel full{13, 13, std::vector<int32_t>(169, 0)};
  maker.BuildKernel(full.weights.data(), 6, 6, 2);

  EXPECT_TRUE(ListOf(maker, 0).empty());
  EXPECT_TRUE(SameList(ListOf(maker, 1), PositivesOf(small)));
  EXPECT_TRUE(SameList(ListOf(maker, 2), PositivesOf(full)));
  EXPECT_EQ(maker.Table()[2 * 169 - 1].x, -1);

  try {
    maker.BuildKernel(scratch.data(), 6, 6, 3);
    FAIL() << "index 3 of 3 accepted";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "Index out of Range");
  }

  maker.ReleaseKernel();
  EXPECT_EQ(maker.PixelsPerKernel(), 0);
  EXPECT_EQ(maker.Table().Size(), 0);
}

}  // namespace
