// The line kernel with SSE2: four 8-lane registers per position. SSE2 has no
// unsigned 16-bit maximum; a + saturating(b - a) is one.
#include "convolution/fast/LineKernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "convolution/fast/LineKernelImpl.h"

namespace {

struct SSE2Ops {
  static constexpr int kGroup = 1;
  struct V {
    __m128i r[4];
  };
  static V Zero() {
    const __m128i z = _mm_setzero_si128();
    return V{{z, z, z, z}};
  }
  static V Splat(uint16_t v) {
    const __m128i s = _mm_set1_epi16(static_cast<short>(v));
    return V{{s, s, s, s}};
  }
  static V Load(const uint16_t* p) {
    V v;
    for (int i = 0; i < 4; ++i) v.r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p) + i);
    return v;
  }
  static void Store(uint16_t* p, const V& v) {
    for (int i = 0; i < 4; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(p) + i, v.r[i]);
  }
  static V Max(const V& a, const V& b) {
    V v;
    for (int i = 0; i < 4; ++i) v.r[i] = _mm_add_epi16(a.r[i], _mm_subs_epu16(b.r[i], a.r[i]));
    return v;
  }
  static V Add(const V& a, const V& b) {
    V v;
    for (int i = 0; i < 4; ++i) v.r[i] = _mm_add_epi16(a.r[i], b.r[i]);
    return v;
  }
  static bool AllAtLeast(const V& a, const V& b) {
    __m128i gap = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) gap = _mm_or_si128(gap, _mm_subs_epu16(b.r[i], a.r[i]));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(gap, _mm_setzero_si128())) == 0xFFFF;
  }
  static V MulHi(const V& a, uint16_t m) {
    const __m128i mm = _mm_set1_epi16(static_cast<short>(m));
    V v;
    for (int i = 0; i < 4; ++i) v.r[i] = _mm_mulhi_epu16(a.r[i], mm);
    return v;
  }
};

}  // namespace

bool RunLineSSE2(const LineJob& job) { return linekernel::RunLine<SSE2Ops>(job); }

#else

bool RunLineSSE2(const LineJob& job) { return RunLineScalar(job); }

#endif
