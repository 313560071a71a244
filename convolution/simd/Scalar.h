// The scalar twin of the lane operations: one pixel (four lanes) at a time in
// plain C++. It is the engine on processors without the vector sets, the
// reference every vector set is tested against, and the tail handler of the
// vector loops. Lanes as in Lanes.h.
//
// Every lane-operation struct (this one, Sse2U16, Avx2U16, Avx512U16) has the
// same members:
//   V, M              a vector of kLanes lanes, and a mask of kLanes bits
//   kLanes, kPixels   lanes per vector, and pixels (kLanes / 4)
//   kVectorRegisters  vector registers the compiler may keep values in (0:
//                     none, the lanes live in general registers or memory)
//   Zero Splat Load Store                  unaligned loads and stores
//   LoadWidened StoreNarrowed              kLanes bytes to or from lanes
//   SplatPixel                             four lanes repeated across V
//   Max Add Sub And Or                     unsigned max; wrapping add, sub
//   MulHi Weigh WeighBy                    the weight encoding of Lanes.h
//   GreaterEqual Equal NonZero             unsigned comparisons, to masks
//   MaskAnd MaskOr NoLanes AnyLane AllLanes
//   ZeroWhere KeepWhere Select IncrementWhere LargestLane
// A new lane type (such as float lanes) gets a struct of its own in each of
// these files, compiled and chosen the same way (Target.h, Kernels.h).
#pragma once

#include <cstdint>
#include <cstring>

#include "convolution/simd/Target.h"

namespace simd {

struct ScalarU16 {
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

}  // namespace simd
