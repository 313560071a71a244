// The shapes, in the order of the "Blur Type" popup (its 1-based value less
// one). A host may send any value: whatever is not a shape here renders as
// the Diamond, the effect's default.
#pragma once

#include <cstdint>

enum class BlurType : int32_t {
  Gaussian = 0,
  Diamond = 1,
  SharpDiamond = 2,
  Box = 3,
  Star = 4,
  Spiral = 5,
  Cross = 6,
  Custom = 7,
  Cylinder = 8,
};

inline constexpr int32_t kBlurTypeCount = 9;
