#include <vector>

#include "ImageTestSupport.h"
#include "image/EdgeMode.h"
#include "image/Scale.h"

using namespace imagetest;

namespace {

void ScaleByDepth(PF_InData* inData, PF_EffectWorld* source, PF_EffectWorld* dest, int32_t filter,
                  int32_t edgeMode) {
  if (IsDeep(source)) {
    Scale(inData, source, dest, filter, edgeMode, static_cast<const PF_Pixel16*>(nullptr));
  } else {
    Scale(inData, source, dest, filter, edgeMode, static_cast<const PF_Pixel*>(nullptr));
  }
}

TEST(ScaleFilter, MitchellTakesTheSecondFormulaAtOne) {
  EXPECT_EQ(static_cast<int32_t>(ScaleFilterValue(ScaleMitchell, 0.0) * 32768), 29127);
  EXPECT_EQ(static_cast<int32_t>(ScaleFilterValue(ScaleMitchell, -1.0) * 32768), 1820);
  EXPECT_EQ(ScaleFilterValue(ScaleMitchell, 2.0), 0.0);
  EXPECT_EQ(ScaleFilterValue(ScaleBell, 1.5), 0.0);
}

// Reds and alphas of a one-row 8-bit image (alpha 200) scaled to width.
std::vector<int32_t> ScaleRow(const std::vector<int32_t>& reds, int32_t width, int32_t edgeMode,
                              const PF_Pixel* background = nullptr) {
  HostSession session;
  softhost::SoftWorld source(static_cast<int32_t>(reds.size()), 1, false), dest(width, 1, false);
  for (size_t x = 0; x < reds.size(); ++x) {
    SetPixel(source.World(), static_cast<int32_t>(x), 0, 200, reds[x], 0, 0);
  }
  Scale(session.In(), source.World(), dest.World(), ScaleTriangle, edgeMode, background);
  std::vector<int32_t> out;
  for (int32_t x = 0; x < width; ++x) out.push_back(Channel(dest.World(), x, 0, 1));
  for (int32_t x = 0; x < width; ++x) out.push_back(Channel(dest.World(), x, 0, 0));
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
  const PF_Pixel background{255, 90, 0, 0};
  const std::vector<int32_t> filled = ScaleRow(four, 8, EdgeNone, &background);
  EXPECT_EQ(filled[6], 40);  // full weight: no background
  EXPECT_EQ(filled[7], (40 * 16384 + 90 * 16384) >> 15);
  EXPECT_EQ(filled[15], (200 * 16384 + 255 * 16384) >> 15);

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
  for (const Case& c : cases) {
    softhost::SoftWorld source(c.w, c.h, false), dest(c.W, c.H, false);
    for (int32_t y = 0; y < c.h; ++y) {
      for (int32_t x = 0; x < c.w; ++x) SetPixel(source.World(), x, y, 255, x, y, 0);
    }
    ScaleByDepth(session.In(), source.World(), dest.World(), ScaleNearest, EdgeNone);
    for (int32_t y = 0; y < c.H; ++y) {
      for (int32_t x = 0; x < c.W; ++x) {
        EXPECT_EQ(Channel(dest.World(), x, y, 1), c.xs[x]) << c.w << "->" << c.W << " " << x;
        EXPECT_EQ(Channel(dest.World(), x, y, 2), c.ys[y]) << c.h << "->" << c.H << " " << y;
      }
    }
  }
}

TEST(Scale, RaisesTheHostsAbortAndMissingPixels) {
  HostSession session;
  softhost::SoftWorld source(3, 2, true), dest(5, 4, true);
  session.host.Faults().abortAfterPolls = 4;
  EXPECT_TRUE(RaisesAE(
      [&] { ScaleByDepth(session.In(), source.World(), dest.World(), ScaleMitchell, EdgeReflect); },
      PF_Interrupt_CANCEL, "Scale: Scaling error"));
  PF_EffectWorld noPixels = *dest.World();
  noPixels.data = nullptr;
  EXPECT_TRUE(RaisesAE(
      [&] { ScaleByDepth(session.In(), source.World(), &noPixels, ScaleNearest, EdgeNone); }, 1,
      "Scale: Scaling error"));
}

}  // namespace
