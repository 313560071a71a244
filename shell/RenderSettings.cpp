#include "shell/RenderSettings.h"

#include <cstdint>

#include "image/FixedMath.h"

namespace {

constexpr int32_t kEdgeRepeat = 2;
constexpr int32_t kFilterNearest = 0;
constexpr int32_t kFilterMitchell = 4;

double FixedToDouble(PF_Fixed value) { return value * (1.0 / 65536.0); }

// A host may send any value; the lowest wraps round as it does on the
// 32-bit target instead of overflowing.
int32_t PopupIndex(const PF_ParamDef& param) {
  return static_cast<int32_t>(static_cast<uint32_t>(param.u.pd.value) - 1u);
}

bool Checked(const PF_ParamDef& param) { return param.u.bd.value != 0; }

}  // namespace

void ReadRenderSettings(PF_InData* in_data, const ParamValues& values, const HostFacts& host,
                        PF_EffectWorld* shapeWorld, RenderRequest& request) {
  request.view = static_cast<OutputView>(PopupIndex(values[ParamOutputView]));

  const bool uniform = Checked(values[ParamUniformAmount]);
  const double amount = FixedToDouble(values[ParamBlurAmount].u.fd.value);
  const double verticalAmount = FixedToDouble(values[ParamVerticalAmount].u.fd.value);
  const bool smoothShape = Checked(values[ParamShapeSmooth]);
  const double shapeSmoothAmount = FixedToDouble(values[ParamShapeSmoothAmount].u.fd.value);

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
  settings.blurType = static_cast<BlurType>(PopupIndex(values[ParamBlurType]));
  settings.shapeWorld = shapeWorld;
  settings.shapeChannel = PopupIndex(values[ParamShapeChannel]);
  settings.shapeSmoothing = smoothShape;
  settings.shapeSmoothingRadius =
      shapeSmoothAmount * 0.5 * (smoothShape && shapeWorld != nullptr ? downsample : 1.0);

  const PF_PointDef& centre = values[ParamBCLCenter].u.td;
  BCLSettings& bcl = request.bcl;
  bcl.edgeMode = kEdgeRepeat;
  bcl.filter = filter;
  bcl.channel = PopupIndex(values[ParamBCLChannel]);
  bcl.tileMode = PopupIndex(values[ParamBCLTileMode]);
  bcl.centerX = TruncToInt32(FixedToDouble(centre.x_value) + 0.5);
  bcl.centerY = TruncToInt32(FixedToDouble(centre.y_value) + 0.5);
  bcl.scaleX = FixedToDouble(values[ParamBCLScaleX].u.fd.value) * 0.01;
  bcl.scaleY = FixedToDouble(values[ParamBCLScaleY].u.fd.value) * 0.01;
  bcl.invert = Checked(values[ParamBCLInvert]);
  bcl.compoundShapes = static_cast<A_short>(values[ParamBCLCompoundShapes].u.fd.value >> 16);
}
