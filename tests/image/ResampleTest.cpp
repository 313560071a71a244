// The host's area sampling and the effect's own scaling filters.
#include <string>
#include <vector>

#include "convolution/EnginePlan.h"
#include "image/AEWorld.h"
#include "image/EdgeMode.h"
#include "image/Scale.h"
#include "shapes/ShapesSupport.h"

using namespace shapestest;

namespace {

TEST(ScaleFilter, MitchellTakesTheSecondFormulaAtOne) {
  EXPECT_EQ(static_cast<int32_t>(ScaleFilterValue(ScaleMitchell, 0.0) * 32768), 29127);
  EXPECT_EQ(static_cast<int32_t>(ScaleFilterValue(ScaleMitchell, -1.0) * 32768), 1820);
  EXPECT_EQ(ScaleFilterValue(ScaleMitchell, 2.0), 0.0);
  EXPECT_EQ(ScaleFilterValue(ScaleBell, 1.5), 0.0);
}

// Reds and alphas of a one-row 8-bit image (alpha 200) scaled to width.
std::vector<int32_t> ScaleRow(const std::vector<int32_t>& reds, int32_t width, int32_t edgeMode) {
  HostSession session;
  softhost::SoftWorld source(static_cast<int32_t>(reds.size()), 1, false), dest(width, 1, false);
  for (size_t x = 0; x < reds.size(); ++x) {
    SetPixel(source.World(), static_cast<int32_t>(x), 0, 200, reds[x], 0, 0);
  }
  Scale(session.In(), source.World(), dest.World(), ScaleTriangle, edgeMode,
        static_cast<const PF_Pixel*>(nullptr));
  std::vector<int32_t> out;
  for (int32_t c : {1, 0}) {
    for (int32_t x = 0; x < width; ++x) out.push_back(Channel(dest.World(), x, 0, c));
  }
  return out;
}

TEST(Scale, TriangleContributorsWhenDoublingAndHalving) {
  // Doubling: even pixels take source k at 32768, odd ones k and k + 1 at
  // 16384; the last reaches source index 4, which only Repeat keeps.
  const std::vector<int32_t> four = {0, 100, 200, 40};
  EXPECT_EQ(ScaleRow(four, 8, EdgeNone),
            (std::vector<int32_t>{0, 50, 100, 150, 200, 120, 40, 20, 200, 200, 200, 200, 200, 200,
                                  200, 100}));
  EXPECT_EQ(ScaleRow(four, 8, EdgeRepeat)[7], 40);

  // Halving: 8192, 16384, 8192 on 2i - 1, 2i, 2i + 1.
  const std::vector<int32_t> halved = ScaleRow({40, 80, 120, 160, 200, 240, 0, 100}, 4, EdgeNone);
  EXPECT_EQ(std::vector<int32_t>(halved.begin(), halved.begin() + 4),
            (std::vector<int32_t>{40, 120, 200, 85}));
}

TEST(Scale, NearestStretchesFromTheTopLeft) {
  struct Case {
    int32_t w, h, W, H;
    std::vector<int32_t> xs, ys;  // source column of each column, row of each row
  };
  const Case cases[] = {
      {4, 4, 7, 7, {0, 1, 1, 2, 2, 3, 3}, {0, 1, 1, 2, 2, 3, 3}},
      {7, 3, 4, 2, {0, 2, 4, 6}, {0, 2}},
  };
  HostSession session;
  const PF_Pixel* none = nullptr;
  for (const Case& c : cases) {
    softhost::SoftWorld source(c.w, c.h, false), dest(c.W, c.H, false);
    for (int32_t y = 0; y < c.h; ++y) {
      for (int32_t x = 0; x < c.w; ++x) SetPixel(source.World(), x, y, 255, x, y, 0);
    }
    Scale(session.In(), source.World(), dest.World(), ScaleNearest, EdgeNone, none);
    for (int32_t y = 0; y < c.H; ++y) {
      for (int32_t x = 0; x < c.W; ++x) {
        EXPECT_EQ(Channel(dest.World(), x, y, 1), c.xs[x]) << c.w << "->" << c.W << " " << x;
        EXPECT_EQ(Channel(dest.World(), x, y, 2), c.ys[y]) << c.h << "->" << c.H << " " << y;
      }
    }
  }
}

// The fast engine's resampling shares rows out on the host's threads and
// sums spans of pixels at once (the same size's shifted lists along rows,
// every row down); the image must be the one the ordered loops make, for
// every filter, both depths, enlarging and shrinking (odd sizes), at the
// same size (wider than one span, with alpha mostly full), at every edge
// mode, with and without a background.
TEST(Scale, HostThreadRowsMatchTheOrderedLoops) {
  struct Size {
    int32_t w, h, W, H;
    int32_t edgeMode = EdgeNone;
  };
  const Size sizes[] = {{13, 9, 31, 20},
                        {37, 29, 11, 7},
                        {16, 16, 16, 16},
                        {301, 5, 301, 5},
                        // Wider than a strip of columns, a run crossing it.
                        {1100, 3, 1100, 3, EdgeWrap},
                        {263, 9, 263, 9, EdgeRepeat},
                        {40, 12, 40, 12, EdgeWrap},
                        {33, 7, 33, 7, EdgeReflect},
                        // Tall enough for several bands of rows, each making
                        // the rows along the image that it reads.
                        {19, 150, 19, 150, EdgeRepeat},
                        {23, 200, 17, 61},
                        {11, 40, 21, 133, EdgeReflect}};
  const PF_Pixel grey8{90, 10, 200, 40};
  const PF_Pixel16 grey16{9000, 100, 20000, 32768};
  std::vector<ScaleRows> orders = {ScaleRows::InOrder, ScaleRows::OnHostThreads};
  if (CpuSimdLevel() >= SimdLevel::AVX2) orders.push_back(ScaleRows::OnHostThreadsAvx2);
  if (CpuSimdLevel() >= SimdLevel::AVX512) orders.push_back(ScaleRows::OnHostThreadsAvx512);
  for (int threads : {1, 3}) {
    HostSession session;
    session.host.Config().threads = threads;
    for (bool deep : {false, true}) {
      for (const Size& z : sizes) {
        for (int32_t filter = ScaleTriangle; filter <= ScaleMitchell; ++filter) {
          for (bool background : {false, true}) {
            softhost::SoftWorld source(z.w, z.h, deep), ordered(z.W, z.H, deep),
                other(z.W, z.H, deep);
            FillSparse(source.World(), static_cast<uint32_t>(filter * 7 + z.w), 2);
            for (int32_t y = 0; y < z.h; ++y) {
              for (int32_t x = 0; x < z.w; ++x) {
                if ((x * 7 + y * 3) % 11 != 0)
                  SetChannel(source.World(), x, y, 0, FullScale(source.World()));
              }
            }
            const std::string where = std::to_string(threads) + " threads, " + (deep ? "16" : "8") +
                                      " bits, " + std::to_string(z.w) + "x" + std::to_string(z.h) +
                                      " to " + std::to_string(z.W) + "x" + std::to_string(z.H) +
                                      ", filter " + std::to_string(filter) + ", background " +
                                      std::to_string(background);
            for (ScaleRows order : orders) {
              PF_EffectWorld* dest = order == ScaleRows::InOrder ? ordered.World() : other.World();
              const auto scale = [&](const auto* grey) {
                Scale(session.In(), source.World(), dest, filter, z.edgeMode,
                      background ? grey : nullptr, order);
              };
              deep ? scale(&grey16) : scale(&grey8);
              if (order != ScaleRows::InOrder) {
                EXPECT_TRUE(SameImage(other.World(), ordered.World()))
                    << "rows " << static_cast<int>(order) << ", " << where;
              }
            }
          }
        }
      }
    }
  }
}

}  // namespace
