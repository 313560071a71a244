// Indices of the effect's parameters in the host's parameter array, and the
// popup choice texts. Index 0 is the layer the effect is applied to (the host
// supplies it); 1..21 are registered in this order at parameter setup, so
// these numbers are fixed for the life of every project that uses the effect.
// Popup values from the host are 1-based in the order of the choice texts.
#pragma once

#include <cstdint>

#include "kernels/BlurType.h"

enum ParamIndex : int32_t {
  ParamInput = 0,
  ParamOutputView = 1,
  ParamBlurType = 2,
  ParamUniformAmount = 3,
  ParamBlurAmount = 4,      // horizontal when not uniform
  ParamVerticalAmount = 5,  // used only when not uniform
  ParamShapeGroupStart = 6,
  ParamShapeLayer = 7,
  ParamShapeChannel = 8,
  ParamShapeSmooth = 9,
  ParamShapeSmoothAmount = 10,
  ParamShapeGroupEnd = 11,
  ParamBCLGroupStart = 12,
  ParamBCLLayer = 13,
  ParamBCLChannel = 14,
  ParamBCLTileMode = 15,
  ParamBCLCenter = 16,
  ParamBCLScaleX = 17,
  ParamBCLScaleY = 18,
  ParamBCLInvert = 19,
  ParamBCLCompoundShapes = 20,
  ParamBCLGroupEnd = 21,
  ParamCount = 22,
};

inline constexpr char kViewChoices[] = "Normal|View Kernel|View BCL";
inline constexpr int16_t kViewChoiceCount = 3;

inline constexpr char kShapeChoices[] =
    "Gaussian (1D)|Diamond (1D)|Sharp Diamond (1D)|Box (1D)|Star (2D)|Spiral (2D)|Cross (1D)|"
    "Custom Shape (2D)|Cylinder (1D)";
inline constexpr int16_t kShapeChoiceCount = 9;
static_assert(kShapeChoiceCount == kBlurTypeCount, "one choice per BlurType, in its order");

inline constexpr char kChannelChoices[] = "Luminance|Red|Green|Blue|Alpha";
inline constexpr int16_t kChannelChoiceCount = 5;

inline constexpr char kTileChoices[] = "No Tiling|Center Image|Stretch To Fit";
inline constexpr int16_t kTileChoiceCount = 3;
