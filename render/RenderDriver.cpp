#include "render/RenderDriver.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "convolution/Engine.h"
#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/Settings.h"
#include "render/BCLView.h"
#include "render/Factory.h"
#include "shell/ParamIndices.h"

namespace {

enum OutputView : int32_t { ViewNormal = 0, ViewKernel = 1, ViewBCL = 2 };

constexpr int32_t kEdgeRepeat = 2;
constexpr int32_t kFilterNearest = 0;
constexpr int32_t kFilterMitchell = 4;

double FixedToDouble(PF_Fixed value) { return value * (1.0 / 65536.0); }

// A host may send any value; the lowest wraps round as it does on the
// 32-bit target instead of overflowing.
int32_t PopupIndex(const PF_ParamDef* param) {
  return static_cast<int32_t>(static_cast<uint32_t>(param->u.pd.value) - 1u);
}

bool Checked(const PF_ParamDef* param) { return param->u.bd.value != 0; }

template <typename Pixel>
WorldColor Colour(int32_t alpha, int32_t grey) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  const Channel a = static_cast<Channel>(alpha);
  const Channel g = static_cast<Channel>(grey);
  if constexpr (PixelTraits<Pixel>::kDeep) {
    return WorldColor::Of16(PF_Pixel16{a, g, g, g});
  } else {
    return WorldColor::Of8(PF_Pixel{a, g, g, g});
  }
}

// The layer held by a checked-out wrapper, or null when the parameter names
// no layer.
PF_EffectWorld* LayerOrNull(const AEWorld& layer) {
  PF_EffectWorld* world = layer.RawWorld();
  if (world != nullptr && layer.InData() == nullptr) {
    throw AEException(1, "AEWorld not initialized");
  }
  return world;
}

// The kernel itself, grey on opaque black, centred in the output inside a
// one-pixel white frame.
template <typename Pixel>
void RenderKernelView(PF_InData* in_data, PF_LayerDef* output, const KernelSettings& settings) {
  constexpr int32_t kFull = PixelTraits<Pixel>::kMax;
  AEWorld background(in_data, output, false);
  background.Fill(Colour<Pixel>(kFull, 0), nullptr);

  AEObjectAutoPointer<KernelMaker> maker(MakeKernelMaker(in_data, settings.blurType, settings));
  const double h = settings.hAmount;
  const double v = settings.vAmount;
  maker->PrepareShape(h, v, 1);
  int32_t width = 0;
  int32_t height = 0;
  maker->GetKernelSize(h, v, &width, &height);
  Array2D<int32_t> weights;
  weights.Resize(width, height, 0);
  maker->BuildKernel(weights.Data(), h, v, 0);

  const int32_t x0 = output->width / 2 - width / 2;
  const int32_t y0 = output->height / 2 - height / 2;
  for (int32_t y = 0; y < height; ++y) {
    const int32_t ty = y0 + y;
    if (ty < 0 || ty >= output->height) continue;
    for (int32_t x = 0; x < width; ++x) {
      const int32_t tx = x0 + x;
      if (tx < 0 || tx >= output->width) continue;
      const int32_t weight = weights.At(x, y);
      Pixel* p = PixelAt<Pixel>(output, tx, ty);
      using Channel = typename PixelTraits<Pixel>::Channel;
      const Channel grey =
          static_cast<Channel>(PixelTraits<Pixel>::kDeep ? weight : MulQ15(weight, 255));
      p->alpha = static_cast<Channel>(kFull);
      p->red = grey;
      p->green = grey;
      p->blue = grey;
    }
  }

  AEWorld frame(in_data, output, false);
  const WorldColor white = Colour<Pixel>(kFull, kFull);
  frame.DrawLine(x0 - 1, y0 - 1, x0 - 1, y0 + height, white);
  frame.DrawLine(x0 - 1, y0 + height, x0 + width, y0 + height, white);
  frame.DrawLine(x0 + width, y0 + height, x0 + width, y0 - 1, white);
  frame.DrawLine(x0 + width, y0 - 1, x0 - 1, y0 - 1, white);
}

void CopyMessage(PF_OutData* out_data, const char* text) {
  const size_t length = strnlen(text, sizeof(out_data->return_msg) - 1);
  std::memcpy(out_data->return_msg, text, length);
  out_data->return_msg[length] = '\0';
}

template <typename Pixel>
PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
              PF_LayerDef* output) {
  constexpr bool kDeep = PixelTraits<Pixel>::kDeep;
  PF_Err result = PF_Err_NONE;
  try {
    AEWorld outWorld(in_data, output, false);
    AEWorld inWorld(in_data, &params[ParamInput]->u.ld, false);

    AEWorld bclLayer(in_data);
    bclLayer.CheckoutLayer(ParamBCLLayer);
    PF_EffectWorld* bclWorld = LayerOrNull(bclLayer);
    AEWorld shapeLayer(in_data);
    shapeLayer.CheckoutLayer(ParamShapeLayer);
    PF_EffectWorld* shapeWorld = LayerOrNull(shapeLayer);

    const int32_t view = PopupIndex(params[ParamOutputView]);
    const int32_t blurType = PopupIndex(params[ParamBlurType]);
    const bool uniform = Checked(params[ParamUniformAmount]);
    const double amount = FixedToDouble(params[ParamBlurAmount]->u.fd.value);
    const double verticalAmount = FixedToDouble(params[ParamVerticalAmount]->u.fd.value);
    const int32_t shapeChannel = PopupIndex(params[ParamShapeChannel]);
    const bool smoothShape = Checked(params[ParamShapeSmooth]);
    const double shapeSmoothAmount = FixedToDouble(params[ParamShapeSmoothAmount]->u.fd.value);

    // Slider values are full-resolution diameters; the makers want
    // half-sizes at the resolution being rendered.
    const double downsample =
        (static_cast<double>(in_data->downsample_x.num) / in_data->downsample_x.den +
         static_cast<double>(in_data->downsample_y.num) / in_data->downsample_y.den) *
        0.5;
    const double h = amount * 0.5 * downsample;
    const double v = (uniform ? amount : verticalAmount) * 0.5 * downsample;
    const int32_t filter = in_data->quality != PF_Quality_LO ? kFilterMitchell : kFilterNearest;

    double shapeRadius = shapeSmoothAmount * 0.5;
    AEWorld smoothedShape(in_data);
    if (smoothShape && shapeWorld != nullptr) {
      shapeRadius = shapeSmoothAmount * 0.5 * downsample;
      smoothedShape.CopyFrom(shapeWorld);
      smoothedShape.Smooth(shapeRadius, 0, true, true, true, true);
      shapeWorld = smoothedShape.World();
    }

    KernelSettings settings;
    settings.edgeMode = kEdgeRepeat;
    settings.filter = filter;
    settings.inData = in_data;
    settings.hAmount = h;
    settings.vAmount = v;
    settings.blurType = blurType;
    settings.shapeWorld = shapeWorld;
    settings.shapeChannel = shapeChannel;
    settings.shapeSmoothing = smoothShape;
    settings.shapeSmoothingRadius = shapeRadius;

    const PF_PointDef& centre = params[ParamBCLCenter]->u.td;
    BCLSettings bcl;
    bcl.edgeMode = kEdgeRepeat;
    bcl.filter = filter;
    bcl.channel = PopupIndex(params[ParamBCLChannel]);
    bcl.tileMode = PopupIndex(params[ParamBCLTileMode]);
    bcl.centerX = TruncToInt32(FixedToDouble(centre.x_value) + 0.5);
    bcl.centerY = TruncToInt32(FixedToDouble(centre.y_value) + 0.5);
    bcl.scaleX = FixedToDouble(params[ParamBCLScaleX]->u.fd.value) * 0.01;
    bcl.scaleY = FixedToDouble(params[ParamBCLScaleY]->u.fd.value) * 0.01;
    bcl.invert = Checked(params[ParamBCLInvert]);
    bcl.compoundShapes = static_cast<A_short>(params[ParamBCLCompoundShapes]->u.fd.value >> 16);

    PF_EffectWorld* input = inWorld.World();
    // A uniform blur on the fast engine may write every output pixel itself,
    // which the blur knows once it has sized the kernel; it clears the output
    // where it does not.
    const bool blurClears =
        view == ViewNormal && bclWorld == nullptr && ActiveEngine() == Engine::Fast;
    if (!blurClears) outWorld.Fill(Colour<Pixel>(0, 0), nullptr);
    if (view == ViewKernel) {
      RenderKernelView<Pixel>(in_data, output, settings);
    } else if (view == ViewBCL) {
      if constexpr (kDeep) {
        RenderBCLView16(in_data, input, output, bclWorld, bcl);
      } else {
        RenderBCLView8(in_data, input, output, bclWorld, bcl);
      }
    } else if constexpr (kDeep) {
      RenderBlur16(in_data, input, output, bclWorld, bcl, settings, !blurClears);
    } else {
      RenderBlur8(in_data, input, output, bclWorld, bcl, settings, !blurClears);
    }
  } catch (const AEException& e) {
    result = e.Code();
    if (result != PF_Err_NONE && result != PF_Interrupt_CANCEL) CopyMessage(out_data, e.Message());
  } catch (const std::out_of_range&) {
    result = 1;
    CopyMessage(out_data, "Array Index Error");
  } catch (const std::bad_alloc&) {
    result = PF_Err_OUT_OF_MEMORY;
    CopyMessage(out_data, "Out of Memory");
  } catch (...) {
    result = 1;
    CopyMessage(out_data, "Unknown Error");
  }
  return result;
}

}  // namespace

PF_Err Render8(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
               PF_LayerDef* output) {
  return Render<PF_Pixel>(in_data, out_data, params, output);
}

PF_Err Render16(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output) {
  return Render<PF_Pixel16>(in_data, out_data, params, output);
}
