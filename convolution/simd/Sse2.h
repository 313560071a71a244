// The lane operations with SSE2, the baseline of every supported x86 build
// (the 32-bit module included): 8 lanes, two pixels. Members as in Scalar.h;
// each carries the SSE2 target, so it may be called only from code compiled
// for it (Target.h).
#pragma once

#include <cstdint>

#include "convolution/simd/Target.h"

#if QB_SIMD_X86
#include <immintrin.h>

namespace simd {

#define QB_SSE2_OP QB_SIMD_TARGET_OP(QB_SIMD_SSE2)

struct Sse2U16 {
  using Lane = uint16_t;
  static constexpr int32_t kLanes = 8;
  static constexpr int32_t kPixels = kLanes / 4;
#if defined(__x86_64__)
  static constexpr int32_t kVectorRegisters = 16;
#else
  static constexpr int32_t kVectorRegisters = 8;
#endif
  using V = __m128i;
  using M = __m128i;  // all ones in a lane that is set

  QB_SSE2_OP V Zero() { return _mm_setzero_si128(); }
  QB_SSE2_OP V Splat(uint16_t x) { return _mm_set1_epi16(static_cast<short>(x)); }
  QB_SSE2_OP V Load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  QB_SSE2_OP void Store(uint16_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
  QB_SSE2_OP V LoadWidened(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const V*>(p)), _mm_setzero_si128());
  }
  QB_SSE2_OP void StoreNarrowed(uint8_t* p, V v) {
    _mm_storel_epi64(reinterpret_cast<V*>(p), _mm_packus_epi16(v, v));
  }
  QB_SSE2_OP V SplatPixel(const uint16_t* p) {
    const V v = _mm_loadl_epi64(reinterpret_cast<const V*>(p));
    return _mm_unpacklo_epi64(v, v);
  }
  QB_SSE2_OP V SplatPacked(uint64_t bits) { return _mm_set1_epi64x(static_cast<long long>(bits)); }

  // SSE2 has no unsigned 16-bit maximum: a + (b - a saturated at 0).
  QB_SSE2_OP V Max(V a, V b) { return _mm_add_epi16(a, _mm_subs_epu16(b, a)); }
  QB_SSE2_OP V Add(V a, V b) { return _mm_add_epi16(a, b); }
  QB_SSE2_OP V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
  QB_SSE2_OP V And(V a, V b) { return _mm_and_si128(a, b); }
  QB_SSE2_OP V Or(V a, V b) { return _mm_or_si128(a, b); }

  QB_SSE2_OP V MulHi(V c, V mul) { return _mm_mulhi_epu16(c, mul); }
  QB_SSE2_OP V Weigh(V c, V mul, V hi) {
    return _mm_add_epi16(_mm_mulhi_epu16(c, mul), _mm_and_si128(c, hi));
  }
  QB_SSE2_OP V WeighBy(V c, V w) { return Weigh(c, _mm_slli_epi16(w, 1), _mm_srai_epi16(w, 15)); }
  QB_SSE2_OP V WeighBelow(V c, V mul) { return _mm_mulhi_epu16(c, mul); }
  QB_SSE2_OP V WeighAbove(V c, V mul) { return _mm_add_epi16(c, _mm_mulhi_epu16(c, mul)); }

  // a >= b exactly where b - a saturates to 0.
  QB_SSE2_OP M GreaterEqual(V a, V b) {
    return _mm_cmpeq_epi16(_mm_subs_epu16(b, a), _mm_setzero_si128());
  }
  QB_SSE2_OP M Equal(V a, V b) { return _mm_cmpeq_epi16(a, b); }
  QB_SSE2_OP M NonZero(V a) {
    return _mm_xor_si128(_mm_cmpeq_epi16(a, _mm_setzero_si128()), _mm_set1_epi16(-1));
  }
  QB_SSE2_OP M MaskAnd(M a, M b) { return _mm_and_si128(a, b); }
  QB_SSE2_OP M MaskOr(M a, M b) { return _mm_or_si128(a, b); }
  QB_SSE2_OP M NoLanes() { return _mm_setzero_si128(); }
  QB_SSE2_OP bool AnyLane(M m) { return _mm_movemask_epi8(m) != 0; }
  QB_SSE2_OP bool AllLanes(M m) { return _mm_movemask_epi8(m) == 0xFFFF; }

  QB_SSE2_OP V ZeroWhere(V a, M m) { return _mm_andnot_si128(m, a); }
  QB_SSE2_OP V KeepWhere(V a, M m) { return _mm_and_si128(m, a); }
  QB_SSE2_OP V Select(V a, V b, M m) {
    return _mm_or_si128(_mm_andnot_si128(m, a), _mm_and_si128(m, b));
  }
  // A set lane is -1.
  QB_SSE2_OP V IncrementWhere(V a, M m) { return _mm_sub_epi16(a, m); }
  QB_SSE2_OP uint16_t LargestLane(V a) {
    a = Max(a, _mm_shuffle_epi32(a, _MM_SHUFFLE(1, 0, 3, 2)));
    a = Max(a, _mm_shuffle_epi32(a, _MM_SHUFFLE(2, 3, 0, 1)));
    a = Max(a, _mm_shufflelo_epi16(a, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint16_t>(_mm_cvtsi128_si32(a));
  }
};

// Float lanes: 4 lanes, one pixel.
struct Sse2F32 {
  using Lane = float;
  static constexpr int32_t kLanes = 4;
  static constexpr int32_t kPixels = kLanes / 4;
  static constexpr int32_t kVectorRegisters = Sse2U16::kVectorRegisters;
  using V = __m128;
  using M = __m128;  // all ones in a lane that is set

  QB_SSE2_OP V Zero() { return _mm_setzero_ps(); }
  QB_SSE2_OP V Splat(float x) { return _mm_set1_ps(x); }
  QB_SSE2_OP V Load(const float* p) { return _mm_loadu_ps(p); }
  QB_SSE2_OP void Store(float* p, V v) { _mm_storeu_ps(p, v); }
  // maxps gives its second operand unless the first is greater.
  QB_SSE2_OP V Max(V a, V b) { return _mm_max_ps(a, b); }
  QB_SSE2_OP V WeighBelow(V c, V scale) { return _mm_mul_ps(c, scale); }
  QB_SSE2_OP V WeighAbove(V c, V scale) { return _mm_mul_ps(c, scale); }
  QB_SSE2_OP M GreaterEqual(V a, V b) { return _mm_cmpge_ps(a, b); }
  QB_SSE2_OP M MaskAnd(M a, M b) { return _mm_and_ps(a, b); }
  QB_SSE2_OP bool AllLanes(M m) { return _mm_movemask_ps(m) == 0xF; }
};

#undef QB_SSE2_OP

}  // namespace simd

#endif  // QB_SIMD_X86
