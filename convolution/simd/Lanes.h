// The lane model every fast convolution kernel is written against, shared by
// the separable and the two-dimensional engines: what a lane holds, how a Q15
// weight is applied in a lane, and for which values that is exact. Plain C++,
// no intrinsics: the per-instruction-set operations live in the sibling files
// Scalar.h, Sse2.h, Avx2.h and Avx512.h, one struct each with the same
// members, and Kernels.h says how they are compiled and chosen.
//
// A lane is an unsigned 16-bit channel value; four neighbouring lanes are one
// pixel in the host's channel order (alpha, red, green, blue), so 8-bit pixels
// are widened on load and narrowed on store (callers guarantee every stored
// value is at most 255). Weights are Q15 (32768 = 1.0).
//
// Float pixels have float lanes of their own (the *F32 structs), which hold
// each channel as FloatLane (convolution/Weighted.h) gives it: never NaN,
// never below +0, so that a maximum over lanes is the same in any order and
// grouping, and a weight is applied as its scale w * 2^-15, one IEEE
// multiplication as in the straightforward loops. Multiplying by a scale
// above 0 never decreases in the scale or the value, as (w * c) >> 15 does
// not, which is all the levels, runs and early stops rely on; float values
// have no bound, so nothing like the exactness limit below applies to them.
//
// The weight encoding: (w * c) >> 15 for 0 < w <= 65535 is
//   mulhi(c, mul) + (c & hi),  mul = 2 * (w mod 32768),  hi = w >= 32768 ? 0xFFFF : 0
// in 16-bit lanes (mulhi: the high half of the unsigned 32-bit product), exact
// whenever the true result fits 16 bits. A table of weights held as lanes
// carries w itself: mul is w << 1 and hi the top bit spread (WeighBy).
//
// Why hand-written intrinsics rather than Google Highway: the product is the
// 32-bit Windows module on SSE2, which Highway 1.0 (Debian 12) has no target
// for (it falls back to emulated lanes below SSSE3, and marks AVX2 and AVX-512
// broken on 32-bit x86); its run-time dispatch is a library of its own, while
// the module may use only the C++ standard library; and the kernels need few
// operations (about 25 here), so the four structs stay short.
#pragma once

#include <algorithm>
#include <cstdint>

namespace simd {

// The widest vector any instruction set uses, in lanes.
constexpr int32_t kMaxLanes = 32;

// The mulhi operand of weight w (valid for 0 < w <= 65535); 0 for w <= 0,
// which then contributes nothing below full weight.
constexpr uint16_t WeightMul(int32_t w) {
  return w <= 0 ? uint16_t{0} : static_cast<uint16_t>(2 * (w & 0x7FFF));
}

// The mask operand of weight w: all ones from full weight on.
constexpr uint16_t WeightHi(int32_t w) { return w >= 32768 ? uint16_t{0xFFFF} : uint16_t{0}; }

// The largest channel value c for which every (w * c) >> 15 with
// 0 < w <= maxWeight is computed exactly by the lanes, stays below 2^31 as a
// 32-bit product (as the straightforward loops compute it) and fits a channel
// whose largest value is channelMax (255 or 65535); -1 when the weights
// themselves are beyond the lanes.
constexpr int32_t ExactChannelLimit(int32_t maxWeight, int32_t channelMax) {
  if (maxWeight > 65535) return -1;
  if (maxWeight <= 0) return 65535;
  const int64_t fits = ((static_cast<int64_t>(channelMax) + 1) * 32768 - 1) / maxWeight;
  const int64_t noWrap = INT32_MAX / maxWeight;
  return static_cast<int32_t>(std::min<int64_t>({fits, noWrap, 65535}));
}

}  // namespace simd
