#include "shell/RenderCommand.h"

#include <cstdint>

#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/FixedMath.h"
#include "render/RenderDriver.h"
#include "shell/ParamIndices.h"

namespace {

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

// The layer held by a checked-out wrapper, or null when the parameter names
// no layer.
PF_EffectWorld* LayerOrNull(const AEWorld& layer) {
  PF_EffectWorld* world = layer.RawWorld();
  if (world != nullptr && layer.InData() == nullptr) {
    throw AEException(1, "AEWorld not initialized");
  }
  return world;
}

}  // namespace

void RenderCommand(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output,
                   const HostFacts& host) {
  AEWorld outWorld(in_data, output, false);
  AEWorld inWorld(in_data, &params[ParamInput]->u.ld, false);

  AEWorld bclLayer(in_data);
  bclLayer.CheckoutLayer(ParamBCLLayer);
  AEWorld shapeLayer(in_data);
  shapeLayer.CheckoutLayer(ParamShapeLayer);

  RenderRequest request;
  request.inData = in_data;
  request.input = inWorld.World();
  request.output = outWorld.World();
  request.bclLayer = LayerOrNull(bclLayer);
  request.view = static_cast<OutputView>(PopupIndex(params[ParamOutputView]));
  request.extent = in_data->extent_hint;
  PF_EffectWorld* shapeWorld = LayerOrNull(shapeLayer);

  const bool uniform = Checked(params[ParamUniformAmount]);
  const double amount = FixedToDouble(params[ParamBlurAmount]->u.fd.value);
  const double verticalAmount = FixedToDouble(params[ParamVerticalAmount]->u.fd.value);
  const bool smoothShape = Checked(params[ParamShapeSmooth]);
  const double shapeSmoothAmount = FixedToDouble(params[ParamShapeSmoothAmount]->u.fd.value);

  // Slider values are full-resolution diameters; the makers want
  // half-sizes at the resolution being rendered.
  const double downsample =
      (static_cast<double>(in_data->downsample_x.num) / in_data->downsample_x.den +
       static_cast<double>(in_data->downsample_y.num) / in_data->downsample_y.den) *
      0.5;
  const int32_t filter = in_data->quality != PF_Quality_LO ? kFilterMitchell : kFilterNearest;

  KernelSettings& settings = request.kernel;
  settings.edgeMode = kEdgeRepeat;
  settings.filter = filter;
  settings.inData = in_data;
  settings.host = host;
  settings.hAmount = amount * 0.5 * downsample;
  settings.vAmount = (uniform ? amount : verticalAmount) * 0.5 * downsample;
  settings.blurType = static_cast<BlurType>(PopupIndex(params[ParamBlurType]));
  settings.shapeWorld = shapeWorld;
  settings.shapeChannel = PopupIndex(params[ParamShapeChannel]);
  settings.shapeSmoothing = smoothShape;
  settings.shapeSmoothingRadius =
      shapeSmoothAmount * 0.5 * (smoothShape && shapeWorld != nullptr ? downsample : 1.0);

  const PF_PointDef& centre = params[ParamBCLCenter]->u.td;
  BCLSettings& bcl = request.bcl;
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

  RenderFrame(request);
}
