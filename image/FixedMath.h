// Double-to-integer conversions shared by the image operations. The effect's
// results are defined by truncating conversions as the 32-bit x86 target does
// them, including what happens to values that do not fit: such a conversion
// yields INT32_MIN (the "integer indefinite" value), never undefined
// behaviour.
#pragma once

#include <cstdint>

// (int)v: truncation toward zero; NaN and out-of-range values give INT32_MIN.
inline int32_t TruncToInt32(double v) {
  if (v > -2147483649.0 && v < 2147483648.0) return static_cast<int32_t>(v);
  return INT32_MIN;
}

// Half away from zero: v + 0.5 for v >= 0, v - 0.5 otherwise, then truncated.
inline int32_t RoundHalfAway(double v) { return TruncToInt32(v >= 0.0 ? v + 0.5 : v - 0.5); }

// Sums of products are 32-bit signed on the target and wrap there; a 64-bit
// accumulator narrowed at the end gives the same bits without overflow.
inline int32_t Wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }
