// The scalar twin of the lane operations: one pixel (four lanes) at a time in
// plain C++. It is the engine on processors without the vector sets, the
// reference every vector set is tested against, and the tail handler of the
// vector loops. Lanes as in Lanes.h.
//
// Every lane-operation struct of 16-bit lanes (this one, Sse2U16, Avx2U16,
// Avx512U16) has the same members:
//   Lane              the element type (uint16_t)
//   V, M              a vector of kLanes lanes, and a mask of kLanes bits
//   kLanes, kPixels   lanes per vector, and pixels (kLanes / 4)
//   kVectorRegisters  vector registers the compiler may keep values in (0:
//                     none, the lanes live in general registers or memory)
//   Zero Splat Load Store                  unaligned loads and stores
//   LoadWidened StoreNarrowed              kLanes bytes to or from lanes
//   SplatPixel                             four lanes repeated across V
//   SplatPacked                            the same, lane c from bits 16c..16c+15
//   Max Add Sub And Or                     unsigned max; wrapping add, sub
//   MulHi Weigh WeighBy                    the weight encoding of Lanes.h
//   WeighBelow WeighAbove                  a weight's operand w below 32768
//                                          (mulhi), above it (c + mulhi)
//   GreaterEqual Equal NonZero             unsigned comparisons, to masks
//   MaskAnd MaskOr NoLanes AnyLane AllLanes
//   ZeroWhere KeepWhere Select IncrementWhere LargestLane
// Float lanes (ScalarF32, Sse2F32, Avx2F32, Avx512F32) hold float channels in
// the same order and share the members the gather and the line kernel use:
//   Lane (float), V, M, kLanes, kPixels, kVectorRegisters, Zero Splat Load
//   Store Max WeighBelow WeighAbove GreaterEqual MaskAnd AllLanes
// where a weight's operand is its scale w * 2^-15, so that both weighings are
// the one multiplication of the straightforward loops. Max(a, b) is
// a > b ? a : b, the raise of those loops, also for NaN and signed zeros.
#pragma once

#include <cstdint>
#include <cstring>

#include "convolution/simd/Target.h"

namespace simd {

struct ScalarU16 {
  using Lane = uint16_t;
  static constexpr int32_t kLanes = 4;
  static constexpr int32_t kPixels = kLanes / 4;
  static constexpr int32_t kVectorRegisters = 0;
  struct V {
    uint16_t c[kLanes];
  };
  using M = uint8_t;  // bit i: lane i

  QB_SIMD_OP V Zero() { return V{{0, 0, 0, 0}}; }
  QB_SIMD_OP V Splat(uint16_t x) { return V{{x, x, x, x}}; }
  QB_SIMD_OP V Load(const uint16_t* p) {
    V v;
    std::memcpy(v.c, p, sizeof v.c);
    return v;
  }
  QB_SIMD_OP void Store(uint16_t* p, V v) { std::memcpy(p, v.c, sizeof v.c); }
  QB_SIMD_OP V LoadWidened(const uint8_t* p) { return V{{p[0], p[1], p[2], p[3]}}; }
  QB_SIMD_OP void StoreNarrowed(uint8_t* p, V v) {
    for (int i = 0; i < kLanes; ++i) p[i] = static_cast<uint8_t>(v.c[i]);
  }
  QB_SIMD_OP V SplatPixel(const uint16_t* p) { return Load(p); }
  QB_SIMD_OP V SplatPacked(uint64_t bits) {
    V v;
    for (int i = 0; i < kLanes; ++i) v.c[i] = static_cast<uint16_t>(bits >> (16 * (i % 4)));
    return v;
  }

  QB_SIMD_OP V Max(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = a.c[i] > b.c[i] ? a.c[i] : b.c[i];
    return a;
  }
  QB_SIMD_OP V Add(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] + b.c[i]);
    return a;
  }
  QB_SIMD_OP V Sub(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] - b.c[i]);
    return a;
  }
  QB_SIMD_OP V And(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] & b.c[i]);
    return a;
  }
  QB_SIMD_OP V Or(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] | b.c[i]);
    return a;
  }

  QB_SIMD_OP V MulHi(V c, V mul) {
    for (int i = 0; i < kLanes; ++i) {
      c.c[i] = static_cast<uint16_t>((static_cast<uint32_t>(c.c[i]) * mul.c[i]) >> 16);
    }
    return c;
  }
  QB_SIMD_OP V Weigh(V c, V mul, V hi) { return Add(MulHi(c, mul), And(c, hi)); }
  QB_SIMD_OP V WeighBy(V c, V w) {
    V mul;
    V hi;
    for (int i = 0; i < kLanes; ++i) {
      mul.c[i] = static_cast<uint16_t>(w.c[i] << 1);
      hi.c[i] = (w.c[i] & 0x8000) != 0 ? uint16_t{0xFFFF} : uint16_t{0};
    }
    return Weigh(c, mul, hi);
  }
  QB_SIMD_OP V WeighBelow(V c, V mul) { return MulHi(c, mul); }
  QB_SIMD_OP V WeighAbove(V c, V mul) { return Add(c, MulHi(c, mul)); }

  QB_SIMD_OP M GreaterEqual(V a, V b) {
    M m = 0;
    for (int i = 0; i < kLanes; ++i) m = static_cast<M>(m | ((a.c[i] >= b.c[i] ? 1 : 0) << i));
    return m;
  }
  QB_SIMD_OP M Equal(V a, V b) {
    M m = 0;
    for (int i = 0; i < kLanes; ++i) m = static_cast<M>(m | ((a.c[i] == b.c[i] ? 1 : 0) << i));
    return m;
  }
  QB_SIMD_OP M NonZero(V a) {
    M m = 0;
    for (int i = 0; i < kLanes; ++i) m = static_cast<M>(m | ((a.c[i] != 0 ? 1 : 0) << i));
    return m;
  }
  QB_SIMD_OP M MaskAnd(M a, M b) { return static_cast<M>(a & b); }
  QB_SIMD_OP M MaskOr(M a, M b) { return static_cast<M>(a | b); }
  QB_SIMD_OP M NoLanes() { return 0; }
  QB_SIMD_OP bool AnyLane(M m) { return m != 0; }
  QB_SIMD_OP bool AllLanes(M m) { return m == (1 << kLanes) - 1; }

  // The lanes of a where the mask is clear, zero elsewhere; and the other
  // way round.
  QB_SIMD_OP V ZeroWhere(V a, M m) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = ((m >> i) & 1) != 0 ? uint16_t{0} : a.c[i];
    return a;
  }
  QB_SIMD_OP V KeepWhere(V a, M m) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = ((m >> i) & 1) != 0 ? a.c[i] : uint16_t{0};
    return a;
  }
  // b where the mask is set, a elsewhere.
  QB_SIMD_OP V Select(V a, V b, M m) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = ((m >> i) & 1) != 0 ? b.c[i] : a.c[i];
    return a;
  }
  QB_SIMD_OP V IncrementWhere(V a, M m) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] + ((m >> i) & 1));
    return a;
  }
  QB_SIMD_OP uint16_t LargestLane(V a) {
    uint16_t m = 0;
    for (int i = 0; i < kLanes; ++i) m = a.c[i] > m ? a.c[i] : m;
    return m;
  }
};

struct ScalarF32 {
  using Lane = float;
  static constexpr int32_t kLanes = 4;
  static constexpr int32_t kPixels = kLanes / 4;
  static constexpr int32_t kVectorRegisters = 0;
  struct V {
    float c[kLanes];
  };
  using M = uint8_t;  // bit i: lane i

  QB_SIMD_OP V Zero() { return V{{0.0f, 0.0f, 0.0f, 0.0f}}; }
  QB_SIMD_OP V Splat(float x) { return V{{x, x, x, x}}; }
  QB_SIMD_OP V Load(const float* p) {
    V v;
    std::memcpy(v.c, p, sizeof v.c);
    return v;
  }
  QB_SIMD_OP void Store(float* p, V v) { std::memcpy(p, v.c, sizeof v.c); }
  QB_SIMD_OP V Max(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = a.c[i] > b.c[i] ? a.c[i] : b.c[i];
    return a;
  }
  QB_SIMD_OP V Mul(V a, V b) {
    for (int i = 0; i < kLanes; ++i) a.c[i] = a.c[i] * b.c[i];
    return a;
  }
  QB_SIMD_OP V WeighBelow(V c, V scale) { return Mul(c, scale); }
  QB_SIMD_OP V WeighAbove(V c, V scale) { return Mul(c, scale); }
  QB_SIMD_OP M GreaterEqual(V a, V b) {
    M m = 0;
    for (int i = 0; i < kLanes; ++i) m = static_cast<M>(m | ((a.c[i] >= b.c[i] ? 1 : 0) << i));
    return m;
  }
  QB_SIMD_OP M MaskAnd(M a, M b) { return static_cast<M>(a & b); }
  QB_SIMD_OP bool AllLanes(M m) { return m == (1 << kLanes) - 1; }
};

}  // namespace simd
