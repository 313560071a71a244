// The built-in input used when no file is given: a 1280 x 720 deep image of
// a dark scene (a soft gradient) with small bright points and thin lines in
// several colours, and a fully transparent region in the lower right whose
// colour channels still hold the gradient. Deterministic: the same pixels on
// every run and platform.
#pragma once

#include "cli/Image.h"

namespace qbcli {

inline constexpr int32_t kDemoWidth = 1280;
inline constexpr int32_t kDemoHeight = 720;

Image MakeDemoImage();

}  // namespace qbcli
