#include "render/RenderDriver.h"

#include <cstdint>

#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/Drawing.h"
#include "image/FloatWorlds.h"
#include "image/PixelTraits.h"
#include "render/BCLView.h"
#include "render/BlurRender.h"
#include "render/EngineChoice.h"
#include "render/KernelMakers.h"

namespace {

template <typename Pixel>
WorldColor Colour(int32_t alpha, int32_t grey) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  const Channel a = static_cast<Channel>(alpha);
  const Channel g = static_cast<Channel>(grey);
  return WorldColor::Of(Pixel{a, g, g, g});
}

// The grey a kernel weight shows as: the Q15 weight itself at 16 bits,
// weighted full scale at 8.
template <typename Pixel>
typename PixelTraits<Pixel>::Channel KernelGrey(int32_t weight) {
  using Channel = typename PixelTraits<Pixel>::Channel;
  if constexpr (PixelTraits<Pixel>::kMax == 32768) {
    return static_cast<Channel>(weight);
  } else {
    return static_cast<Channel>(MulQ15(weight, PixelTraits<Pixel>::kMax));
  }
}

// The kernel itself, grey on opaque black, centred in the output inside a
// one-pixel white frame.
template <typename Pixel>
void RenderKernelView(PF_InData* in_data, PF_EffectWorld* output, const KernelSettings& settings) {
  constexpr int32_t kFull = PixelTraits<Pixel>::kMax;
  AEWorld background(in_data, output, false);
  background.Fill(Colour<Pixel>(kFull, 0), nullptr);

  AEObjectAutoPointer<KernelMaker> maker(MakeKernelMaker(settings));
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
      using Channel = typename PixelTraits<Pixel>::Channel;
      const Channel grey = KernelGrey<Pixel>(weights.At(x, y));
      *PixelAt<Pixel>(output, tx, ty) = Pixel{static_cast<Channel>(kFull), grey, grey, grey};
    }
  }

  AEWorld frame(in_data, output, false);
  const WorldColor white = Colour<Pixel>(kFull, kFull);
  frame.DrawLine(x0 - 1, y0 - 1, x0 - 1, y0 + height, white);
  frame.DrawLine(x0 - 1, y0 + height, x0 + width, y0 + height, white);
  frame.DrawLine(x0 + width, y0 + height, x0 + width, y0 - 1, white);
  frame.DrawLine(x0 + width, y0 - 1, x0 - 1, y0 - 1, white);
}

// Engine and instruction set from the process's choice; what the output
// holds from the view: a blur on the fast engine may write every output
// pixel itself (uniform, or a separable shape under a control layer), which
// the blur knows once it has sized the kernel and chosen its path (it clears
// the output where it does not), so only then is the output left as the
// host gave it.
ConvolvePlan PlanFor(const RenderRequest& request) {
  ConvolvePlan plan;
  plan.engine = ActiveEngine();
  plan.simd = ActiveSimdLevel();
  const bool blurClears = request.view == OutputView::Normal && plan.Fast();
  plan.destination = blurClears ? DestinationState::Overwrite : DestinationState::Cleared;
  return plan;
}

void RenderAtFormat(const RenderRequest& request) {
  PF_InData* in_data = request.inData;
  PF_EffectWorld* output = request.output;
  KernelSettings settings = request.kernel;

  AEWorld smoothedShape(in_data);
  if (settings.shapeSmoothing && settings.shapeWorld != nullptr) {
    smoothedShape.CopyFrom(settings.shapeWorld);
    smoothedShape.Smooth(settings.host, settings.shapeSmoothingRadius, 0, true, true, true, true);
    settings.shapeWorld = smoothedShape.World();
  }

  const ConvolvePlan plan = PlanFor(request);
  if (plan.destination == DestinationState::Cleared) ClearWorld(in_data, output);
  switch (request.view) {
    case OutputView::Kernel:
      DispatchControlPixel(FormatOf(output), [&]<typename Pixel>() {
        RenderKernelView<Pixel>(in_data, output, settings);
      });
      return;
    case OutputView::ControlLayer:
      RenderBCLView(in_data, request.input, output, request.bclLayer, request.bcl);
      return;
    case OutputView::Normal:
      break;
  }
  RenderBlur(in_data, request.input, output, request.bclLayer, request.bcl, settings,
             request.extent, plan);
}

// A float frame's control images are read at 16 bits, and its diagnostic
// views drawn at 16 bits and shown in float; the blur itself runs in float.
void RenderFloatFrame(const RenderRequest& request) {
  PF_InData* in_data = request.inData;
  RenderRequest r = request;
  auto atSixteenBits = [&](PF_EffectWorld* layer, AEWorld& copy) {
    if (layer == nullptr || FormatOf(layer) != PixelFormat::ArgbFloat) return layer;
    copy.NewWorld(layer->width, layer->height, PixelFormat::Argb16);
    ControlFromFloat(layer, copy.World());
    return copy.World();
  };
  AEWorld control(in_data);
  AEWorld shape(in_data);
  r.bclLayer = atSixteenBits(r.bclLayer, control);
  r.kernel.shapeWorld = atSixteenBits(r.kernel.shapeWorld, shape);
  if (r.view == OutputView::Normal) {
    RenderAtFormat(r);
    return;
  }
  AEWorld view(in_data, request.output->width, request.output->height, PixelFormat::Argb16);
  r.output = view.World();
  RenderAtFormat(r);
  FloatFrom16(view.World(), request.output);
}

}  // namespace

void RenderFrame(const RenderRequest& request) {
  if (FormatOf(request.output) == PixelFormat::ArgbFloat) {
    RenderFloatFrame(request);
    return;
  }
  RenderAtFormat(request);
}
