#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "convolution/BCL.h"
#include "image/AEException.h"
#include "kernels/CrossKernel.h"
#include "kernels/CustomKernel.h"
#include "kernels/SpiralKernel.h"
#include "kernels/StarKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using namespace shapestest;

enum class Shape { Star, Spiral, Custom };

struct ShapeCase {
  const char* name;
  Shape shape;
  double h;
  double v;
};

// Star and the drawn triangle are not symmetric under a half turn, so a
// gather that mirrors the wrong way shows.
const ShapeCase kShapes[] = {{"star", Shape::Star, 4, 3},
                             {"star single tap", Shape::Star, 0, 0},
                             {"spiral", Shape::Spiral, 5, 3.5},
                             {"custom triangle", Shape::Custom, 4, 3},
                             {"custom wide", Shape::Custom, 9, 1}};

// An alpha triangle over the upper right of a small layer.
class TriangleLayer {
 public:
  TriangleLayer() : world(16, 12, false) {
    for (int32_t y = 0; y < 12; ++y) {
      for (int32_t x = 0; x < 16; ++x) {
        if (x * 12 >= y * 16) SetPixel(world.World(), x, y, 255, 255, 255, 255);
      }
    }
  }
  softhost::SoftWorld world;
};

std::unique_ptr<KernelMaker> MakeShape(Shape shape, PF_InData* inData, PF_EffectWorld* layer) {
  switch (shape) {
    case Shape::Star:
      return std::make_unique<StarKernelMaker>(inData);
    case Shape::Spiral:
      return std::make_unique<SpiralKernelMaker>(inData);
    case Shape::Custom:
      break;
  }
  KernelSettings settings;
  settings.inData = inData;
  settings.shapeWorld = layer;
  settings.shapeChannel = kShapeAlpha;
  return std::make_unique<CustomKernelMaker>(settings);
}

// Sparse colour with the four corners lit, and a destination that already
// holds a few values (every write must be a maximum with them).
void FillSource(PF_EffectWorld* src, uint32_t seed) {
  FillSparse(src, seed, 9);
  const int32_t full = FullScale(src);
  SetPixel(src, 0, 0, full, full, full / 2, full);
  SetPixel(src, src->width - 1, 0, full, full / 3, full, full);
  SetPixel(src, 0, src->height - 1, full / 2, full, full, 0);
  SetPixel(src, src->width - 1, src->height - 1, full, full, full, full);
}

void FillFloor(PF_EffectWorld* dst) {
  const int32_t full = FullScale(dst);
  SetPixel(dst, 3, 4, full, full, full, full);
  SetPixel(dst, 10, 8, full / 4, full / 5, full / 6, full / 7);
}

KernelSettings SettingsFor(PF_InData* inData, double h, double v) {
  KernelSettings settings;
  settings.inData = inData;
  settings.hAmount = h;
  settings.vAmount = v;
  return settings;
}

// A horizontal ramp of control values across the whole image.
BCLSettings RampControl(PF_EffectWorld* control) {
  for (int32_t y = 0; y < control->height; ++y) {
    for (int32_t x = 0; x < control->width; ++x) {
      const int32_t value = x * 255 / (control->width - 1);
      SetPixel(control, x, y, 255, value, value, value);
    }
  }
  BCLSettings bcl;
  bcl.filter = 0;
  bcl.tileMode = 1;
  bcl.compoundShapes = 4;
  return bcl;
}

TEST(Convolve2D, UniformGatherMatchesScatterDefinition) {
  HostSession session;
  TriangleLayer layer;
  for (const ShapeCase& c : kShapes) {
    for (bool deep : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (deep ? " 16 bpc" : " 8 bpc"));
      softhost::SoftWorld src(23, 19, deep), dst(23, 19, deep), expected(23, 19, deep);
      FillSource(src.World(), 17);
      FillFloor(dst.World());
      FillFloor(expected.World());

      auto maker = MakeShape(c.shape, session.In(), layer.world.World());
      KernelSettings settings = SettingsFor(session.In(), c.h, c.v);
      KernelHolderFactory factory;
      maker->ConvolveImage(src.World(), dst.World(), &settings, &factory);

      auto reference = MakeShape(c.shape, session.In(), layer.world.World());
      const Kernel k = BuildKernelOf(*reference, c.h, c.v);
      ReferenceScatter(src.World(), expected.World(), [&](int32_t, int32_t) { return k; });
      EXPECT_TRUE(SameImage(dst.World(), expected.World()));
    }
  }
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}

// Under a control layer each source pixel is spread with the ladder kernel
// of its own control value.
TEST(Convolve2D, VariableScatterMatchesPerPixelKernels) {
  HostSession session;
  TriangleLayer layer;
  for (const ShapeCase& c : kShapes) {
    for (bool deep : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (deep ? " 16 bpc" : " 8 bpc"));
      softhost::SoftWorld src(23, 19, deep), dst(23, 19, deep), expected(23, 19, deep);
      softhost::SoftWorld control(23, 19, false);
      const BCLSettings bcl = RampControl(control.World());
      FillSource(src.World(), 29);
      FillFloor(dst.World());
      FillFloor(expected.World());

      auto maker = MakeShape(c.shape, session.In(), layer.world.World());
      KernelSettings settings = SettingsFor(session.In(), c.h, c.v);
      KernelHolderFactory factory;
      factory.useBCL = true;
      factory.inData = session.In();
      factory.source = src.World();
      factory.bclWorld = control.World();
      factory.bcl = bcl;
      maker->ConvolveImage(src.World(), dst.World(), &settings, &factory);

      auto reference = MakeShape(c.shape, session.In(), layer.world.World());
      BCLHolder holder(session.In(), src.World(), control.World(), bcl, c.h, c.v, reference.get());
      ReferenceScatter(src.World(), expected.World(), [&](int32_t x, int32_t y) {
        return CopyKernel(holder.KernelAt(x, y, nullptr));
      });
      EXPECT_TRUE(SameImage(dst.World(), expected.World()));
    }
  }
}

// The variable path asks abort, then progress, after each column; a refusal
// ends it there with the host's code. The polls of the kernel set-up are
// counted in a first run, so that the refusal falls after column 1.
TEST(Convolve2D, AbortEndsTheVariablePathAfterAColumn) {
  softhost::SoftWorld src(12, 10, false), control(12, 10, false);
  const BCLSettings bcl = RampControl(control.World());
  FillSource(src.World(), 3);
  auto run = [&](HostSession& session, PF_EffectWorld* dst) {
    SpiralKernelMaker maker(session.In());
    KernelSettings settings = SettingsFor(session.In(), 3, 3);
    KernelHolderFactory factory;
    factory.useBCL = true;
    factory.inData = session.In();
    factory.source = src.World();
    factory.bclWorld = control.World();
    factory.bcl = bcl;
    maker.ConvolveImage(src.World(), dst, &settings, &factory);
  };

  HostSession counting;
  softhost::SoftWorld whole(12, 10, false);
  run(counting, whole.World());
  const long setupPolls = counting.host.AbortPolls() - 2 * 12;
  ASSERT_GE(setupPolls, 0);

  HostSession session;
  session.host.Faults().abortAfterPolls = static_cast<int>(setupPolls) + 2;
  softhost::SoftWorld dst(12, 10, false), expected(12, 10, false);
  try {
    run(session, dst.World());
    FAIL() << "abort ignored";
  } catch (const AEException& e) {
    EXPECT_EQ(e.Code(), PF_Interrupt_CANCEL);
    EXPECT_STREQ(e.Message(), "ConvolveImage: Error or user Abort.");
  }
  EXPECT_EQ(session.host.LiveWorlds(), 0);
  session.host.Faults().abortAfterPolls = -1;

  SpiralKernelMaker reference(session.In());
  BCLHolder holder(session.In(), src.World(), control.World(), bcl, 3, 3, &reference);
  ReferenceScatter(src.World(), expected.World(), [&](int32_t x, int32_t y) {
    return x <= 1 ? CopyKernel(holder.KernelAt(x, y, nullptr)) : Kernel{};
  });
  EXPECT_TRUE(SameImage(dst.World(), expected.World()));
}

// On an old host the star's mask and every 8-bit image operation avoid the
// host's iterate, and a large spiral needs no image, so the first iterate is
// the convolution's own.
TEST(Convolve2D, HostIterateFailureRaises) {
  TriangleLayer layer;
  const ShapeCase cases[] = {{"star", Shape::Star, 4, 3},
                             {"spiral", Shape::Spiral, 40, 40},
                             {"custom", Shape::Custom, 4, 3}};
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    HostSession session(11);
    session.host.Faults().failIterateAt = 0;
    softhost::SoftWorld src(8, 8, false), dst(8, 8, false);
    {
      auto maker = MakeShape(c.shape, session.In(), layer.world.World());
      KernelSettings settings = SettingsFor(session.In(), c.h, c.v);
      KernelHolderFactory factory;
      try {
        maker->ConvolveImage(src.World(), dst.World(), &settings, &factory);
        FAIL() << "iterate failure ignored";
      } catch (const AEException& e) {
        EXPECT_EQ(e.Code(), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_STREQ(e.Message(), "ConvolveImage: Error or user Abort.");
      }
    }
    EXPECT_EQ(session.host.LiveWorlds(), 0);
  }
}

// The cross from its definition: each arm is a horizontal pass and then a
// vertical pass of box profiles; colour from the larger arm, alpha from the
// vertical one.
void ReferenceCross(PF_InData* inData, const PF_EffectWorld* src, PF_EffectWorld* dst, double h,
                    double v) {
  BoxKernelMaker box(inData);
  const bool deep = IsDeep(src);
  const double sixth = CrossKernelMaker::kBarThickness;
  softhost::SoftWorld arms[2] = {{src->width, src->height, deep}, {src->width, src->height, deep}};
  const double amounts[2][2] = {{h, v * sixth}, {h * sixth, v}};
  for (int32_t a = 0; a < 2; ++a) {
    softhost::SoftWorld across(src->width, src->height, deep);
    const Kernel row = BuildKernelOf(box, amounts[a][0], 0);
    const Kernel column = BuildKernelOf(box, 0, amounts[a][1]);
    ReferenceScatter(src, across.World(), [&](int32_t, int32_t) { return row; });
    ReferenceScatter(across.World(), arms[a].World(), [&](int32_t, int32_t) { return column; });
  }
  for (int32_t y = 0; y < src->height; ++y) {
    for (int32_t x = 0; x < src->width; ++x) {
      SetChannel(dst, x, y, 0, Channel(arms[1].World(), x, y, 0));
      for (int32_t c = 1; c < 4; ++c) {
        SetChannel(dst, x, y, c,
                   std::max(Channel(arms[0].World(), x, y, c), Channel(arms[1].World(), x, y, c)));
      }
    }
  }
}

TEST(CrossConvolve, UniformArmsMatchTheDefinition) {
  HostSession session;
  const double amounts[][2] = {{6, 9}, {12, 0}, {0, 5}, {2.5, 2.5}};
  for (const auto& a : amounts) {
    for (bool deep : {false, true}) {
      SCOPED_TRACE(testing::Message() << a[0] << " x " << a[1] << (deep ? " 16 bpc" : " 8 bpc"));
      softhost::SoftWorld src(29, 23, deep), dst(29, 23, deep), expected(29, 23, deep);
      FillSource(src.World(), 41);
      CrossKernelMaker maker(session.In());
      KernelSettings settings = SettingsFor(session.In(), a[0], a[1]);
      KernelHolderFactory factory;
      maker.ConvolveImage(src.World(), dst.World(), &settings, &factory);
      ReferenceCross(session.In(), src.World(), expected.World(), a[0], a[1]);
      EXPECT_TRUE(SameImage(dst.World(), expected.World()));
      EXPECT_EQ(session.host.LiveWorlds(), 0);
    }
  }
}

// A pixel reached only by the horizontal arm takes its colour from it and
// its (zero) alpha from the vertical arm.
TEST(CrossConvolve, AlphaFromTheVerticalArm) {
  HostSession session;
  softhost::SoftWorld src(31, 31, false), dst(31, 31, false);
  SetPixel(src.World(), 15, 15, 255, 200, 100, 50);
  CrossKernelMaker maker(session.In());
  KernelSettings settings = SettingsFor(session.In(), 12, 12);
  KernelHolderFactory factory;
  maker.ConvolveImage(src.World(), dst.World(), &settings, &factory);
  const PF_Pixel side = *PixelAt<PF_Pixel>(dst.World(), 25, 15);
  EXPECT_GE(side.red, 199);
  EXPECT_EQ(side.alpha, 0);
  const PF_Pixel below = *PixelAt<PF_Pixel>(dst.World(), 15, 25);
  EXPECT_GE(below.red, 199);
  EXPECT_GE(below.alpha, 254);
  EXPECT_EQ(PixelAt<PF_Pixel>(dst.World(), 21, 21)->red, 0);
}

// Under a control layer both arms follow the source pixel's control value:
// none on the left half, the full cross on the right.
TEST(CrossConvolve, ArmsFollowTheControlLayer) {
  HostSession session;
  for (bool deep : {false, true}) {
    SCOPED_TRACE(deep ? "16 bpc" : "8 bpc");
    softhost::SoftWorld src(40, 25, deep), dst(40, 25, deep), control(40, 25, deep);
    const int32_t full = FullScale(src.World());
    SetPixel(src.World(), 8, 12, full, full, full, full);
    SetPixel(src.World(), 28, 12, full, full, full, full);
    for (int32_t y = 0; y < 25; ++y) {
      for (int32_t x = 20; x < 40; ++x) SetPixel(control.World(), x, y, full, full, full, full);
    }
    BCLSettings bcl;
    bcl.filter = 0;
    bcl.tileMode = 1;
    bcl.compoundShapes = 10;

    CrossKernelMaker maker(session.In());
    KernelSettings settings = SettingsFor(session.In(), 8, 8);
    KernelHolderFactory factory;
    factory.useBCL = true;
    factory.inData = session.In();
    factory.source = src.World();
    factory.bclWorld = control.World();
    factory.bcl = bcl;
    maker.ConvolveImage(src.World(), dst.World(), &settings, &factory);

    EXPECT_EQ(Channel(dst.World(), 8, 12, 1), full);
    EXPECT_EQ(Channel(dst.World(), 9, 12, 1), 0);
    EXPECT_EQ(Channel(dst.World(), 8, 13, 1), 0);
    for (int32_t d = -6; d <= 6; ++d) {
      EXPECT_GT(Channel(dst.World(), 28 + d, 12, 1), 0) << d;
      EXPECT_GT(Channel(dst.World(), 28, 12 + d, 1), 0) << d;
    }
    EXPECT_EQ(Channel(dst.World(), 33, 17, 1), 0);
    EXPECT_EQ(Channel(dst.World(), 23, 7, 1), 0);
  }
}

}  // namespace
