// The lane operations with AVX-512 (F and BW): 32 lanes, eight pixels, masks
// in mask registers. Members as in Scalar.h; each carries the AVX-512 target,
// so it may be called only from code compiled for it (Target.h), after the
// processor has been asked.
#pragma once

#include <cstdint>
#include <cstring>

#include "convolution/simd/Target.h"

#if QB_SIMD_X86
#include <immintrin.h>

namespace simd {

#define QB_AVX512_OP QB_SIMD_TARGET_OP(QB_SIMD_AVX512)

struct Avx512U16 {
  using Lane = uint16_t;
  static constexpr int32_t kLanes = 32;
  static constexpr int32_t kPixels = kLanes / 4;
#if defined(__x86_64__)
  static constexpr int32_t kVectorRegisters = 32;
#else
  static constexpr int32_t kVectorRegisters = 8;
#endif
  using V = __m512i;
  using M = __mmask32;

  QB_AVX512_OP V Zero() { return _mm512_setzero_si512(); }
  QB_AVX512_OP V Splat(uint16_t x) { return _mm512_set1_epi16(static_cast<short>(x)); }
  QB_AVX512_OP V Load(const uint16_t* p) { return _mm512_loadu_si512(p); }
  QB_AVX512_OP void Store(uint16_t* p, V v) { _mm512_storeu_si512(p, v); }
  QB_AVX512_OP V LoadWidened(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  QB_AVX512_OP void StoreNarrowed(uint8_t* p, V v) {
    // The zero-masking form: the plain one trips GCC's uninitialised check.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                        _mm512_maskz_cvtepi16_epi8(static_cast<__mmask32>(0xFFFFFFFFu), v));
  }
  QB_AVX512_OP V SplatPixel(const uint16_t* p) {
    uint64_t bits = 0;
    std::memcpy(&bits, p, sizeof bits);
    return _mm512_set1_epi64(static_cast<long long>(bits));
  }
  QB_AVX512_OP V SplatPacked(uint64_t bits) {
    return _mm512_set1_epi64(static_cast<long long>(bits));
  }

  QB_AVX512_OP V Max(V a, V b) { return _mm512_max_epu16(a, b); }
  QB_AVX512_OP V Add(V a, V b) { return _mm512_add_epi16(a, b); }
  QB_AVX512_OP V Sub(V a, V b) { return _mm512_sub_epi16(a, b); }
  QB_AVX512_OP V And(V a, V b) { return _mm512_and_si512(a, b); }
  QB_AVX512_OP V Or(V a, V b) { return _mm512_or_si512(a, b); }

  QB_AVX512_OP V MulHi(V c, V mul) { return _mm512_mulhi_epu16(c, mul); }
  QB_AVX512_OP V Weigh(V c, V mul, V hi) {
    return _mm512_add_epi16(_mm512_mulhi_epu16(c, mul), _mm512_and_si512(c, hi));
  }
  QB_AVX512_OP V WeighBy(V c, V w) {
    return Weigh(c, _mm512_slli_epi16(w, 1), _mm512_srai_epi16(w, 15));
  }
  QB_AVX512_OP V WeighBelow(V c, V mul) { return _mm512_mulhi_epu16(c, mul); }
  QB_AVX512_OP V WeighAbove(V c, V mul) { return _mm512_add_epi16(c, _mm512_mulhi_epu16(c, mul)); }

  QB_AVX512_OP M GreaterEqual(V a, V b) { return _mm512_cmpge_epu16_mask(a, b); }
  QB_AVX512_OP M Equal(V a, V b) { return _mm512_cmpeq_epi16_mask(a, b); }
  QB_AVX512_OP M NonZero(V a) { return _mm512_test_epi16_mask(a, a); }
  QB_AVX512_OP M MaskAnd(M a, M b) { return static_cast<M>(a & b); }
  QB_AVX512_OP M MaskOr(M a, M b) { return static_cast<M>(a | b); }
  QB_AVX512_OP M NoLanes() { return 0; }
  QB_AVX512_OP bool AnyLane(M m) { return m != 0; }
  QB_AVX512_OP bool AllLanes(M m) { return m == static_cast<M>(0xFFFFFFFFu); }

  QB_AVX512_OP V ZeroWhere(V a, M m) { return _mm512_maskz_mov_epi16(static_cast<M>(~m), a); }
  QB_AVX512_OP V KeepWhere(V a, M m) { return _mm512_maskz_mov_epi16(m, a); }
  QB_AVX512_OP V Select(V a, V b, M m) { return _mm512_mask_mov_epi16(a, m, b); }
  QB_AVX512_OP V IncrementWhere(V a, M m) {
    return _mm512_mask_add_epi16(a, m, a, _mm512_set1_epi16(1));
  }
  QB_AVX512_OP uint16_t LargestLane(V a) {
    const __m256i h = _mm256_max_epu16(_mm512_maskz_extracti64x4_epi64(0xFF, a, 0),
                                       _mm512_maskz_extracti64x4_epi64(0xFF, a, 1));
    const __m128i m = _mm_max_epu16(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
    // The smallest of the complements is the complement of the largest.
    const __m128i c = _mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)));
    return static_cast<uint16_t>(~_mm_cvtsi128_si32(c));
  }
};

// Float lanes: 16 lanes, four pixels.
struct Avx512F32 {
  using Lane = float;
  static constexpr int32_t kLanes = 16;
  static constexpr int32_t kPixels = kLanes / 4;
  static constexpr int32_t kVectorRegisters = Avx512U16::kVectorRegisters;
  using V = __m512;
  using M = __mmask16;

  QB_AVX512_OP V Zero() { return _mm512_setzero_ps(); }
  QB_AVX512_OP V Splat(float x) { return _mm512_set1_ps(x); }
  QB_AVX512_OP V Load(const float* p) { return _mm512_loadu_ps(p); }
  QB_AVX512_OP void Store(float* p, V v) { _mm512_storeu_ps(p, v); }
  // vmaxps gives its second operand unless the first is greater. The
  // zero-masking form: the plain one trips GCC's uninitialised check.
  QB_AVX512_OP V Max(V a, V b) { return _mm512_maskz_max_ps(static_cast<M>(0xFFFF), a, b); }
  QB_AVX512_OP V WeighBelow(V c, V scale) { return _mm512_mul_ps(c, scale); }
  QB_AVX512_OP V WeighAbove(V c, V scale) { return _mm512_mul_ps(c, scale); }
  QB_AVX512_OP M GreaterEqual(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
  QB_AVX512_OP M MaskAnd(M a, M b) { return static_cast<M>(a & b); }
  QB_AVX512_OP bool AllLanes(M m) { return m == static_cast<M>(0xFFFF); }
};

#undef QB_AVX512_OP

}  // namespace simd

#endif  // QB_SIMD_X86
