// The built-in input used when no file is given: a 1280 x 720 image of a
// dark scene (a soft gradient) with small bright points and thin lines in
// several colours, and a fully transparent region in the lower right whose
// colour channels still hold the gradient. Made at 16 bits (8 bits narrow
// it); the float image is the same scene in HDR, the gradient at its 16-bit
// values and the lights above 1.0: lines twice, points four times and the
// larger points sixteen times their colour. Deterministic: the same pixels
// on every run and platform.
#pragma once

#include "cli/Image.h"

namespace qbcli {

inline constexpr int32_t kDemoWidth = 1280;
inline constexpr int32_t kDemoHeight = 720;

Image MakeDemoImage(Depth depth);

}  // namespace qbcli
