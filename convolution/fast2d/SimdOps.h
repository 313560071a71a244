// The lane operations the fast convolution kernels are written against, one
// struct per instruction set. Every vector holds kPixels whole pixels as
// 16-bit lanes in the host's channel order (alpha, red, green, blue), so one
// algorithm serves both depths: 8-bit pixels are widened on load and narrowed
// on store (callers guarantee every stored value is at most 255).
//
// A weighted channel (w * c) >> 15 is computed as
// mulhi_epu16(c, 2 * (w & 0x7FFF)) + (w >= 32768 ? c : 0), exact for
// 0 <= w <= 65535 whenever the true result fits in 16 bits; `mul` and `hi` are
// those two per-lane operands (see WeightMul and WeightHi). WeighBy derives
// both from the weight itself held in the lane (w << 1 drops the top bit;
// an arithmetic w >> 15 spreads it), for tables read once per use.
//
// The member functions carry their instruction set as a target attribute, so
// they may only be called from code compiled for that set (the level regions
// of Levels.cpp). Nothing here owns memory; loads and stores are unaligned.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QB_FAST_X86 1
#else
#define QB_FAST_X86 0
#endif

#include "hostapi/PluginApi.h"

namespace fast2d {

#define QB_LANE_OP static inline __attribute__((always_inline))

// The mulhi operand of weight w (valid for 0 < w <= 65535); 0 for w <= 0,
// which then contributes nothing.
inline uint16_t WeightMul(int32_t w) {
  return w <= 0 ? uint16_t{0} : static_cast<uint16_t>(2 * (w & 0x7FFF));
}
inline uint16_t WeightHi(int32_t w) { return w >= 32768 ? uint16_t{0xFFFF} : uint16_t{0}; }

// One pixel at a time in plain C++: the reference for the vector sets and
// the tail handler of every vector loop.
struct ScalarOps {
  struct V {
    uint16_t c[4];
  };
  using M = uint8_t;  // one bit per lane
  static constexpr int32_t kPixels = 1;

  QB_LANE_OP V Zero() { return V{{0, 0, 0, 0}}; }
  QB_LANE_OP V Load(const uint16_t* p) {
    V v;
    std::memcpy(v.c, p, sizeof v.c);
    return v;
  }
  QB_LANE_OP void Store(uint16_t* p, V v) { std::memcpy(p, v.c, sizeof v.c); }
  QB_LANE_OP V LoadPixels(const PF_Pixel* p) { return V{{p->alpha, p->red, p->green, p->blue}}; }
  QB_LANE_OP V LoadPixels(const PF_Pixel16* p) { return V{{p->alpha, p->red, p->green, p->blue}}; }
  QB_LANE_OP void StorePixels(PF_Pixel* p, V v) {
    *p = PF_Pixel{static_cast<A_u_char>(v.c[0]), static_cast<A_u_char>(v.c[1]),
                  static_cast<A_u_char>(v.c[2]), static_cast<A_u_char>(v.c[3])};
  }
  QB_LANE_OP void StorePixels(PF_Pixel16* p, V v) {
    *p = PF_Pixel16{v.c[0], v.c[1], v.c[2], v.c[3]};
  }
  QB_LANE_OP V Splat(uint16_t x) { return V{{x, x, x, x}}; }
  QB_LANE_OP V SplatPixel(const uint16_t* p) { return Load(p); }
  QB_LANE_OP V Max(V a, V b) {
    for (int i = 0; i < 4; ++i) a.c[i] = a.c[i] > b.c[i] ? a.c[i] : b.c[i];
    return a;
  }
  QB_LANE_OP V MulHi(V c, V mul) {
    for (int i = 0; i < 4; ++i) {
      c.c[i] = static_cast<uint16_t>((static_cast<uint32_t>(c.c[i]) * mul.c[i]) >> 16);
    }
    return c;
  }
  QB_LANE_OP V Weigh(V c, V mul, V hi) {
    V r = MulHi(c, mul);
    for (int i = 0; i < 4; ++i) r.c[i] = static_cast<uint16_t>(r.c[i] + (c.c[i] & hi.c[i]));
    return r;
  }
  QB_LANE_OP V WeighBy(V c, V w) {
    V mul;
    V hi;
    for (int i = 0; i < 4; ++i) {
      mul.c[i] = static_cast<uint16_t>(w.c[i] << 1);
      hi.c[i] = (w.c[i] & 0x8000) != 0 ? uint16_t{0xFFFF} : uint16_t{0};
    }
    return Weigh(c, mul, hi);
  }
  QB_LANE_OP M GreaterEqual(V a, V b) {
    M m = 0;
    for (int i = 0; i < 4; ++i) m = static_cast<M>(m | ((a.c[i] >= b.c[i] ? 1 : 0) << i));
    return m;
  }
  QB_LANE_OP M And(M a, M b) { return static_cast<M>(a & b); }
  QB_LANE_OP M Or(M a, M b) { return static_cast<M>(a | b); }
  QB_LANE_OP M None() { return 0; }
  QB_LANE_OP bool Any(M m) { return m != 0; }
  QB_LANE_OP bool All(M m) { return m == 0xF; }
  QB_LANE_OP V VAnd(V a, V b) {
    for (int i = 0; i < 4; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] & b.c[i]);
    return a;
  }
  QB_LANE_OP V VOr(V a, V b) {
    for (int i = 0; i < 4; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] | b.c[i]);
    return a;
  }
  QB_LANE_OP V Sub(V a, V b) {
    for (int i = 0; i < 4; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] - b.c[i]);
    return a;
  }
  QB_LANE_OP uint16_t LargestLane(V a) {
    uint16_t m = 0;
    for (int i = 0; i < 4; ++i) m = a.c[i] > m ? a.c[i] : m;
    return m;
  }
  // The lanes of a where the mask is clear, zero elsewhere; and the
  // other way round.
  QB_LANE_OP V ZeroWhere(V a, M m) {
    for (int i = 0; i < 4; ++i) a.c[i] = ((m >> i) & 1) != 0 ? uint16_t{0} : a.c[i];
    return a;
  }
  QB_LANE_OP V KeepWhere(V a, M m) {
    for (int i = 0; i < 4; ++i) a.c[i] = ((m >> i) & 1) != 0 ? a.c[i] : uint16_t{0};
    return a;
  }
  QB_LANE_OP M NonZero(V a) {
    M m = 0;
    for (int i = 0; i < 4; ++i) m = static_cast<M>(m | ((a.c[i] != 0 ? 1 : 0) << i));
    return m;
  }
  QB_LANE_OP M EqualMask(V a, V b) {
    M m = 0;
    for (int i = 0; i < 4; ++i) m = static_cast<M>(m | ((a.c[i] == b.c[i] ? 1 : 0) << i));
    return m;
  }
  QB_LANE_OP V SelectMask(V a, V b, M m) {
    for (int i = 0; i < 4; ++i) a.c[i] = ((m >> i) & 1) != 0 ? b.c[i] : a.c[i];
    return a;
  }
  QB_LANE_OP V IncrementWhere(V a, M m) {
    for (int i = 0; i < 4; ++i) a.c[i] = static_cast<uint16_t>(a.c[i] + ((m >> i) & 1));
    return a;
  }
};

#if QB_FAST_X86

// The baseline of every supported build, the 32-bit one included.
struct Sse2Ops {
  using V = __m128i;
  using M = __m128i;
  static constexpr int32_t kPixels = 2;

  QB_LANE_OP V Zero() { return _mm_setzero_si128(); }
  QB_LANE_OP V Load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
  QB_LANE_OP void Store(uint16_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
  QB_LANE_OP V LoadPixels(const PF_Pixel* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const V*>(p)), _mm_setzero_si128());
  }
  QB_LANE_OP V LoadPixels(const PF_Pixel16* p) {
    return _mm_loadu_si128(reinterpret_cast<const V*>(p));
  }
  QB_LANE_OP void StorePixels(PF_Pixel* p, V v) {
    _mm_storel_epi64(reinterpret_cast<V*>(p), _mm_packus_epi16(v, v));
  }
  QB_LANE_OP void StorePixels(PF_Pixel16* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
  QB_LANE_OP V Splat(uint16_t x) { return _mm_set1_epi16(static_cast<short>(x)); }
  QB_LANE_OP V SplatPixel(const uint16_t* p) {
    const V v = _mm_loadl_epi64(reinterpret_cast<const V*>(p));
    return _mm_unpacklo_epi64(v, v);
  }
  // SSE2 has no unsigned 16-bit maximum: a + (b - a saturated at 0).
  QB_LANE_OP V Max(V a, V b) { return _mm_add_epi16(a, _mm_subs_epu16(b, a)); }
  QB_LANE_OP V MulHi(V c, V mul) { return _mm_mulhi_epu16(c, mul); }
  QB_LANE_OP V Weigh(V c, V mul, V hi) {
    return _mm_add_epi16(_mm_mulhi_epu16(c, mul), _mm_and_si128(c, hi));
  }
  QB_LANE_OP V WeighBy(V c, V w) { return Weigh(c, _mm_slli_epi16(w, 1), _mm_srai_epi16(w, 15)); }
  QB_LANE_OP M GreaterEqual(V a, V b) {
    return _mm_cmpeq_epi16(_mm_subs_epu16(b, a), _mm_setzero_si128());
  }
  QB_LANE_OP M And(M a, M b) { return _mm_and_si128(a, b); }
  QB_LANE_OP M Or(M a, M b) { return _mm_or_si128(a, b); }
  QB_LANE_OP M None() { return _mm_setzero_si128(); }
  QB_LANE_OP bool Any(M m) { return _mm_movemask_epi8(m) != 0; }
  QB_LANE_OP bool All(M m) { return _mm_movemask_epi8(m) == 0xFFFF; }
  QB_LANE_OP V VAnd(V a, V b) { return _mm_and_si128(a, b); }
  QB_LANE_OP V VOr(V a, V b) { return _mm_or_si128(a, b); }
  QB_LANE_OP V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
  QB_LANE_OP V ZeroWhere(V a, M m) { return _mm_andnot_si128(m, a); }
  QB_LANE_OP V KeepWhere(V a, M m) { return _mm_and_si128(m, a); }
  QB_LANE_OP M NonZero(V a) {
    return _mm_xor_si128(_mm_cmpeq_epi16(a, _mm_setzero_si128()), _mm_set1_epi16(-1));
  }
  QB_LANE_OP M EqualMask(V a, V b) { return _mm_cmpeq_epi16(a, b); }
  QB_LANE_OP V SelectMask(V a, V b, M m) {
    return _mm_or_si128(_mm_andnot_si128(m, a), _mm_and_si128(m, b));
  }
  QB_LANE_OP V IncrementWhere(V a, M m) { return _mm_sub_epi16(a, m); }
  QB_LANE_OP uint16_t LargestLane(V a) {
    a = Max(a, _mm_shuffle_epi32(a, _MM_SHUFFLE(1, 0, 3, 2)));
    a = Max(a, _mm_shuffle_epi32(a, _MM_SHUFFLE(2, 3, 0, 1)));
    a = Max(a, _mm_shufflelo_epi16(a, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint16_t>(_mm_cvtsi128_si32(a));
  }
};

#define QB_AVX2_OP static inline __attribute__((always_inline, target("avx2")))

struct Avx2Ops {
  using V = __m256i;
  using M = __m256i;
  static constexpr int32_t kPixels = 4;

  QB_AVX2_OP V Zero() { return _mm256_setzero_si256(); }
  QB_AVX2_OP V Load(const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
  QB_AVX2_OP void Store(uint16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
  QB_AVX2_OP V LoadPixels(const PF_Pixel* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  QB_AVX2_OP V LoadPixels(const PF_Pixel16* p) {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
  }
  QB_AVX2_OP void StorePixels(PF_Pixel* p, V v) {
    const __m128i packed =
        _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
  }
  QB_AVX2_OP void StorePixels(PF_Pixel16* p, V v) {
    _mm256_storeu_si256(reinterpret_cast<V*>(p), v);
  }
  QB_AVX2_OP V Splat(uint16_t x) { return _mm256_set1_epi16(static_cast<short>(x)); }
  QB_AVX2_OP V SplatPixel(const uint16_t* p) {
    return _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
  QB_AVX2_OP V Max(V a, V b) { return _mm256_max_epu16(a, b); }
  QB_AVX2_OP V MulHi(V c, V mul) { return _mm256_mulhi_epu16(c, mul); }
  QB_AVX2_OP V Weigh(V c, V mul, V hi) {
    return _mm256_add_epi16(_mm256_mulhi_epu16(c, mul), _mm256_and_si256(c, hi));
  }
  QB_AVX2_OP V WeighBy(V c, V w) {
    return Weigh(c, _mm256_slli_epi16(w, 1), _mm256_srai_epi16(w, 15));
  }
  QB_AVX2_OP M GreaterEqual(V a, V b) { return _mm256_cmpeq_epi16(_mm256_max_epu16(a, b), a); }
  QB_AVX2_OP M And(M a, M b) { return _mm256_and_si256(a, b); }
  QB_AVX2_OP M Or(M a, M b) { return _mm256_or_si256(a, b); }
  QB_AVX2_OP M None() { return _mm256_setzero_si256(); }
  QB_AVX2_OP bool Any(M m) { return _mm256_movemask_epi8(m) != 0; }
  QB_AVX2_OP bool All(M m) { return _mm256_movemask_epi8(m) == -1; }
  QB_AVX2_OP V VAnd(V a, V b) { return _mm256_and_si256(a, b); }
  QB_AVX2_OP V VOr(V a, V b) { return _mm256_or_si256(a, b); }
  QB_AVX2_OP V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
  QB_AVX2_OP V ZeroWhere(V a, M m) { return _mm256_andnot_si256(m, a); }
  QB_AVX2_OP V KeepWhere(V a, M m) { return _mm256_and_si256(m, a); }
  QB_AVX2_OP M NonZero(V a) {
    return _mm256_xor_si256(_mm256_cmpeq_epi16(a, _mm256_setzero_si256()), _mm256_set1_epi16(-1));
  }
  QB_AVX2_OP M EqualMask(V a, V b) { return _mm256_cmpeq_epi16(a, b); }
  QB_AVX2_OP V SelectMask(V a, V b, M m) { return _mm256_blendv_epi8(a, b, m); }
  QB_AVX2_OP V IncrementWhere(V a, M m) { return _mm256_sub_epi16(a, m); }
  QB_AVX2_OP uint16_t LargestLane(V a) {
    const __m128i m = _mm_max_epu16(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    // The smallest of the complements is the complement of the largest.
    const __m128i c = _mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)));
    return static_cast<uint16_t>(~_mm_cvtsi128_si32(c));
  }
};

#define QB_AVX512_OP static inline __attribute__((always_inline, target("avx512f,avx512bw,avx2")))

struct Avx512Ops {
  using V = __m512i;
  using M = __mmask32;
  static constexpr int32_t kPixels = 8;

  QB_AVX512_OP V Zero() { return _mm512_setzero_si512(); }
  QB_AVX512_OP V Load(const uint16_t* p) { return _mm512_loadu_si512(p); }
  QB_AVX512_OP void Store(uint16_t* p, V v) { _mm512_storeu_si512(p, v); }
  QB_AVX512_OP V LoadPixels(const PF_Pixel* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  QB_AVX512_OP V LoadPixels(const PF_Pixel16* p) { return _mm512_loadu_si512(p); }
  QB_AVX512_OP void StorePixels(PF_Pixel* p, V v) {
    // The zero-masking form: the plain one trips GCC's uninitialised check.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                        _mm512_maskz_cvtepi16_epi8(static_cast<__mmask32>(0xFFFFFFFFu), v));
  }
  QB_AVX512_OP void StorePixels(PF_Pixel16* p, V v) { _mm512_storeu_si512(p, v); }
  QB_AVX512_OP V Splat(uint16_t x) { return _mm512_set1_epi16(static_cast<short>(x)); }
  QB_AVX512_OP V SplatPixel(const uint16_t* p) {
    uint64_t bits = 0;
    std::memcpy(&bits, p, sizeof bits);
    return _mm512_set1_epi64(static_cast<long long>(bits));
  }
  QB_AVX512_OP V Max(V a, V b) { return _mm512_max_epu16(a, b); }
  QB_AVX512_OP V MulHi(V c, V mul) { return _mm512_mulhi_epu16(c, mul); }
  QB_AVX512_OP V Weigh(V c, V mul, V hi) {
    return _mm512_add_epi16(_mm512_mulhi_epu16(c, mul), _mm512_and_si512(c, hi));
  }
  QB_AVX512_OP V WeighBy(V c, V w) {
    return Weigh(c, _mm512_slli_epi16(w, 1), _mm512_srai_epi16(w, 15));
  }
  QB_AVX512_OP M GreaterEqual(V a, V b) { return _mm512_cmpge_epu16_mask(a, b); }
  QB_AVX512_OP M And(M a, M b) { return static_cast<M>(a & b); }
  QB_AVX512_OP M Or(M a, M b) { return static_cast<M>(a | b); }
  QB_AVX512_OP M None() { return 0; }
  QB_AVX512_OP bool Any(M m) { return m != 0; }
  QB_AVX512_OP bool All(M m) { return m == static_cast<M>(0xFFFFFFFFu); }
  QB_AVX512_OP V VAnd(V a, V b) { return _mm512_and_si512(a, b); }
  QB_AVX512_OP V VOr(V a, V b) { return _mm512_or_si512(a, b); }
  QB_AVX512_OP V Sub(V a, V b) { return _mm512_sub_epi16(a, b); }
  QB_AVX512_OP V ZeroWhere(V a, M m) { return _mm512_maskz_mov_epi16(static_cast<M>(~m), a); }
  QB_AVX512_OP V KeepWhere(V a, M m) { return _mm512_maskz_mov_epi16(m, a); }
  QB_AVX512_OP M NonZero(V a) { return _mm512_test_epi16_mask(a, a); }
  QB_AVX512_OP M EqualMask(V a, V b) { return _mm512_cmpeq_epi16_mask(a, b); }
  QB_AVX512_OP V SelectMask(V a, V b, M m) { return _mm512_mask_mov_epi16(a, m, b); }
  QB_AVX512_OP V IncrementWhere(V a, M m) {
    return _mm512_mask_add_epi16(a, m, a, _mm512_set1_epi16(1));
  }
  QB_AVX512_OP uint16_t LargestLane(V a) {
    const __m256i h = _mm256_max_epu16(_mm512_maskz_extracti64x4_epi64(0xFF, a, 0),
                                       _mm512_maskz_extracti64x4_epi64(0xFF, a, 1));
    const __m128i m = _mm_max_epu16(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
    const __m128i c = _mm_minpos_epu16(_mm_xor_si128(m, _mm_set1_epi16(-1)));
    return static_cast<uint16_t>(~_mm_cvtsi128_si32(c));
  }
};

#endif  // QB_FAST_X86

}  // namespace fast2d
