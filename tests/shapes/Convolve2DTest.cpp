// The two-dimensional gather and scatter, and the cross's two arms, against
// the weighted maximum written from its definition.
#include <algorithm>
#include <memory>

#include "convolution/Convolve.h"
#include "convolution/controllayer/BCL.h"
#include "kernels/CrossKernel.h"
#include "kernels/CustomKernel.h"
#include "kernels/SpiralKernel.h"
#include "kernels/StarKernel.h"
#include "shapes/ShapesSupport.h"

namespace {

using namespace shapestest;

enum class Shape { Star, Spiral, Custom };

// An alpha triangle over the upper right of the layer: like the star it is
// not symmetric under a half turn, so a gather that mirrors the wrong way
// shows.
void DrawTriangle(PF_EffectWorld* layer) {
  for (int32_t y = 0; y < layer->height; ++y) {
    for (int32_t x = 0; x < layer->width; ++x) {
      if (x * layer->height >= y * layer->width) SetPixel(layer, x, y, 255, 255, 255, 255);
    }
  }
}

std::unique_ptr<KernelMaker> MakeShape(Shape shape, HostSession& session, PF_EffectWorld* layer) {
  PF_InData* inData = session.In();
  if (shape == Shape::Star) return std::make_unique<StarKernelMaker>(inData, session.Facts());
  if (shape == Shape::Spiral) return std::make_unique<SpiralKernelMaker>(inData);
  KernelSettings settings;
  settings.inData = inData;
  settings.shapeWorld = layer;
  settings.shapeChannel = kShapeAlpha;
  return std::make_unique<CustomKernelMaker>(settings);
}

// Sparse colour with the four corners lit.
void FillSource(PF_EffectWorld* src, uint32_t seed) {
  FillSparse(src, seed, 9);
  const int32_t full = FullScale(src), r = src->width - 1, b = src->height - 1;
  SetPixel(src, 0, 0, full, full, full / 2, full);
  SetPixel(src, r, 0, full, full / 3, full, full);
  SetPixel(src, 0, b, full / 2, full, full, 0);
  SetPixel(src, r, b, full, full, full, full);
}

KernelSettings SettingsFor(PF_InData* inData, double h, double v) {
  KernelSettings settings;
  settings.inData = inData;
  settings.hAmount = h;
  settings.vAmount = v;
  return settings;
}

// A horizontal ramp of control values across the whole image.
void UseRampControl(KernelHolderFactory& factory, PF_InData* inData, PF_EffectWorld* src,
                    PF_EffectWorld* control) {
  for (int32_t y = 0; y < control->height; ++y) {
    for (int32_t x = 0; x < control->width; ++x) {
      const int32_t value = x * 255 / (control->width - 1);
      SetPixel(control, x, y, 255, value, value, value);
    }
  }
  factory.useBCL = true;
  factory.inData = inData;
  factory.source = src;
  factory.bclWorld = control;
  factory.bcl.filter = 0;
  factory.bcl.tileMode = 1;
  factory.bcl.compoundShapes = 4;
}

// One engine suffices: test_fast holds the two to each other bit for
// bit. Uniform: one kernel for all. Under a control layer each source pixel is
// spread with the ladder kernel of its own control value. The destination
// already holds values: every write must be a maximum with them.
TEST(Convolve2D, MatchesTheScatterDefinition) {
  const struct {
    Shape shape;
    double h, v;
  } shapes[] = {{Shape::Star, 4, 3}, {Shape::Spiral, 5, 3.5}, {Shape::Custom, 4, 3}};
  HostSession session;
  softhost::SoftWorld layer(16, 12, false);
  DrawTriangle(layer.World());
  for (const auto& c : shapes) {
    for (int32_t variant = 0; variant < 4; ++variant) {
      const bool deep = variant & 1, variable = variant & 2;
      SCOPED_TRACE(testing::Message()
                   << "shape " << static_cast<int>(c.shape) << (deep ? " 16 bpc" : " 8 bpc")
                   << (variable ? " variable" : " uniform"));
      softhost::SoftWorld src(23, 19, deep), dst(23, 19, deep), expected(23, 19, deep);
      softhost::SoftWorld control(23, 19, false);
      FillSource(src.World(), 17 + variant);
      for (PF_EffectWorld* w : {dst.World(), expected.World()}) {
        const int32_t f = FullScale(w);
        SetPixel(w, 3, 4, f, f, f, f);
        SetPixel(w, 10, 8, f / 4, f / 5, f / 6, f / 7);
      }
      KernelHolderFactory factory;
      if (variable) UseRampControl(factory, session.In(), src.World(), control.World());
      auto maker = MakeShape(c.shape, session, layer.World());
      KernelSettings settings = SettingsFor(session.In(), c.h, c.v);
      ConvolveImage(maker.get(), src.World(), dst.World(), &settings, &factory, ActivePlan());

      auto reference = MakeShape(c.shape, session, layer.World());
      if (variable) {
        BCLHolder holder(session.In(), src.World(), control.World(), factory.bcl, c.h, c.v,
                         reference.get());
        ReferenceScatter(src.World(), expected.World(), [&](int32_t x, int32_t y) {
          return CopyKernel(holder.KernelAt(x, y, nullptr));
        });
      } else {
        const Kernel k = BuildKernelOf(*reference, c.h, c.v);
        ReferenceScatter(src.World(), expected.World(), [&](int32_t, int32_t) { return k; });
      }
      EXPECT_TRUE(SameImage(dst.World(), expected.World()));
    }
  }
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}

// Each arm is a horizontal pass and then a vertical pass of box profiles;
// colour from the larger arm, alpha from the vertical one.
TEST(CrossConvolve, UniformArmsMatchTheDefinition) {
  HostSession session;
  BoxKernelMaker box(session.In(), session.Facts());
  const double bar = CrossKernelMaker::kBarThickness;
  const double amounts[][2] = {{6, 9}, {12, 0}};
  for (const auto& a : amounts) {
    for (bool deep : {false, true}) {
      SCOPED_TRACE(testing::Message() << a[0] << " x " << a[1] << (deep ? " 16 bpc" : " 8 bpc"));
      softhost::SoftWorld src(29, 23, deep), dst(29, 23, deep), expected(29, 23, deep);
      FillSource(src.World(), 41);
      CrossKernelMaker maker(session.In(), session.Facts());
      KernelSettings settings = SettingsFor(session.In(), a[0], a[1]);
      KernelHolderFactory factory;
      ConvolveImage(&maker, src.World(), dst.World(), &settings, &factory, ActivePlan());
      EXPECT_EQ(session.host.LiveWorlds(), 0);

      softhost::SoftWorld across[2] = {{29, 23, deep}, {29, 23, deep}};
      softhost::SoftWorld arms[2] = {{29, 23, deep}, {29, 23, deep}};
      const double armAmounts[2][2] = {{a[0], a[1] * bar}, {a[0] * bar, a[1]}};
      for (int32_t arm = 0; arm < 2; ++arm) {
        const Kernel row = BuildKernelOf(box, armAmounts[arm][0], 0);
        const Kernel column = BuildKernelOf(box, 0, armAmounts[arm][1]);
        ReferenceScatter(src.World(), across[arm].World(), [&](int32_t, int32_t) { return row; });
        ReferenceScatter(across[arm].World(), arms[arm].World(),
                         [&](int32_t, int32_t) { return column; });
      }
      for (int32_t y = 0; y < 23; ++y) {
        for (int32_t x = 0; x < 29; ++x) {
          SetChannel(expected.World(), x, y, 0, Channel(arms[1].World(), x, y, 0));
          for (int32_t c = 1; c < 4; ++c) {
            SetChannel(
                expected.World(), x, y, c,
                std::max(Channel(arms[0].World(), x, y, c), Channel(arms[1].World(), x, y, c)));
          }
        }
      }
      EXPECT_TRUE(SameImage(dst.World(), expected.World()));
    }
  }
}

}  // namespace
