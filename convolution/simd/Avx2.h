// The lane operations with AVX2: 16 lanes, four pixels. Members as in
// Scalar.h; each carries the AVX2 target, so it may be called only from code
// compiled for it (Target.h), after the processor has been asked.
#pragma once

#include <cstdint>

#include "convolution/simd/Target.h"

#if QB_SIMD_X86
#include <immintrin.h>

namespace simd {

#define QB_AVX2_OP QB_SIMD_TARGET_OP(QB_SIMD_AVX2)

struct Avx2U16 {
  using Lane = uint16_t;
  static constexpr int32_t kLanes = 16;
  static constexpr int32_t kPixels = kLanes / 4;
#if defined(__x86_64__)
  static constexpr int32_t kVectorRegisters = 16;
#else
  static constexpr int32_t kVectorRegisters = 8;
#endif
  using V = __m256i;
  using M = __m256i;  // all ones in a lane that is set

  QB_AVX2_OP V Zero() { return _mm256_setzero_si256(); }
  QB_AVX2_OP V Splat(uint16_t x) { return _mm256_set1_epi16(static_cast<short>(x)); }
  QB_AVX2_OP V Load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
  QB_AVX2_OP void Store(uint16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
  QB_AVX2_OP V LoadWidened(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  QB_AVX2_OP void StoreNarrowed(uint8_t* p, V v) {
    const __m128i packed =
        _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
  }
  QB_AVX2_OP V SplatPixel(const uint16_t* p) {
    return _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
  QB_AVX2_OP V SplatPacked(uint64_t bits) {
    return _mm256_set1_epi64x(static_cast<long long>(bits));
  }

  QB_AVX2_OP V Max(V a, V b) { return _mm256_max_epu16(a, b); }
  QB_AVX2_OP V Add(V a, V b) { return _mm256_add_epi16(a, b); }
  QB_AVX2_OP V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
  QB_AVX2_OP V And(V a, V b) { return _mm256_and_si256(a, b); }
  QB_AVX2_OP V Or(V a, V b) { return _mm256_or_si256(a, b); }

  QB_AVX2_OP V MulHi(V c, V mul) { return _mm256_mulhi_epu16(c, mul); }
  QB_AVX2_OP V Weigh(V c, V mul, V hi) {
    return _mm256_add_epi16(_mm256_mulhi_epu16(c, mul), _mm256_and_si256(c, hi));
  }
  QB_AVX2_OP V WeighBy(V c, V w) {
    return Weigh(c, _mm256_slli_epi16(w, 1), _mm256_srai_epi16(w, 15));
  }
  QB_AVX2_OP V WeighBelow(V c, V mul) { return _mm256_mulhi_epu16(c, mul); }
  QB_AVX2_OP V WeighAbove(V c, V mul) { return _mm256_add_epi16(c, _mm256_mulhi_epu16(c, mul)); }

  QB_AVX2_OP M GreaterEqual(V a, V b) { return _mm256_cmpeq_epi16(_mm256_max_epu16(a, b), a); }
  QB_AVX2_OP M Equal(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
  QB_AVX2_OP M NonZero(V a) {
    return _mm256_xor_si256(_mm256_cmpeq_epi16(a, _mm256_setzero_si256()), _mm256_set1_epi16(-1));
  }
  QB_AVX2_OP M MaskAnd(M a, M b) { return _mm256_and_si256(a, b); }
  QB_AVX2_OP M MaskOr(M a, M b) { return _mm256_or_si256(a, b); }
  QB_AVX2_OP M NoLanes() { return _mm256_setzero_si256(); }
  QB_AVX2_OP bool AnyLane(M m) { return _mm256_movemask_epi8(m) != 0; }
  QB_AVX2_OP bool AllLanes(M m) { return _mm256_movemask_epi8(m) == -1; }

  QB_AVX2_OP V ZeroWhere(V a, M m) { return _mm256_andnot_si256(m, a); }
  QB_AVX2_OP V KeepWhere(V a, M m) { return _mm256_and_si256(m, a); }
  QB_AVX2_OP V Select(V a, V b, M m) { return _mm256_blendv_epi8(a, b, m); }
  // A set lane is -1.
  QB_AVX2_OP V IncrementWhere(V a, M m) { return _mm256_sub_epi16(a, m); }
  QB_AVX2_OP uint16_t LargestLane(V a) {
    const __m128i m = _mm_max_epu16(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    // The smallest of the complements is the complement of the largest.
    const __m128i c = _mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)));
    return static_cast<uint16_t>(~_mm_cvtsi128_si32(c));
  }
};

// Float lanes: 8 lanes, two pixels.
struct Avx2F32 {
  using Lane = float;
  static constexpr int32_t kLanes = 8;
  static constexpr int32_t kPixels = kLanes / 4;
  static constexpr int32_t kVectorRegisters = Avx2U16::kVectorRegisters;
  using V = __m256;
  using M = __m256;  // all ones in a lane that is set

  QB_AVX2_OP V Zero() { return _mm256_setzero_ps(); }
  QB_AVX2_OP V Splat(float x) { return _mm256_set1_ps(x); }
  QB_AVX2_OP V Load(const float* p) { return _mm256_loadu_ps(p); }
  QB_AVX2_OP void Store(float* p, V v) { _mm256_storeu_ps(p, v); }
  // vmaxps gives its second operand unless the first is greater.
  QB_AVX2_OP V Max(V a, V b) { return _mm256_max_ps(a, b); }
  QB_AVX2_OP V WeighBelow(V c, V scale) { return _mm256_mul_ps(c, scale); }
  QB_AVX2_OP V WeighAbove(V c, V scale) { return _mm256_mul_ps(c, scale); }
  QB_AVX2_OP M GreaterEqual(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
  QB_AVX2_OP M MaskAnd(M a, M b) { return _mm256_and_ps(a, b); }
  QB_AVX2_OP bool AllLanes(M m) { return _mm256_movemask_ps(m) == 0xFF; }
};

#undef QB_AVX2_OP

}  // namespace simd

#endif  // QB_SIMD_X86
