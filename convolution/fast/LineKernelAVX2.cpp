// The line kernel with AVX2: two 16-lane registers per position, two
// positions at a time. Compiled with AVX2 enabled; called only when the
// processor has it.
#include "convolution/fast/LineKernel.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "convolution/fast/LineKernelImpl.h"

namespace {

struct AVX2Ops {
#if defined(__x86_64__) || defined(_M_X64)
  static constexpr int kGroup = 2;
#else
  static constexpr int kGroup = 1;  // a fan keeps six registers per position; 32-bit code has 8
#endif
  struct V {
    __m256i r[2];
  };
  static V Zero() {
    const __m256i z = _mm256_setzero_si256();
    return V{{z, z}};
  }
  static V Splat(uint16_t v) {
    const __m256i s = _mm256_set1_epi16(static_cast<short>(v));
    return V{{s, s}};
  }
  static V Load(const uint16_t* p) {
    const __m256i* q = reinterpret_cast<const __m256i*>(p);
    return V{{_mm256_loadu_si256(q), _mm256_loadu_si256(q + 1)}};
  }
  static void Store(uint16_t* p, const V& v) {
    __m256i* q = reinterpret_cast<__m256i*>(p);
    _mm256_storeu_si256(q, v.r[0]);
    _mm256_storeu_si256(q + 1, v.r[1]);
  }
  static V Max(const V& a, const V& b) {
    return V{{_mm256_max_epu16(a.r[0], b.r[0]), _mm256_max_epu16(a.r[1], b.r[1])}};
  }
  static V Add(const V& a, const V& b) {
    return V{{_mm256_add_epi16(a.r[0], b.r[0]), _mm256_add_epi16(a.r[1], b.r[1])}};
  }
  static bool AllAtLeast(const V& a, const V& b) {
    const __m256i gap =
        _mm256_or_si256(_mm256_subs_epu16(b.r[0], a.r[0]), _mm256_subs_epu16(b.r[1], a.r[1]));
    return _mm256_testz_si256(gap, gap) != 0;
  }
  static V MulHi(const V& a, uint16_t m) {
    const __m256i mm = _mm256_set1_epi16(static_cast<short>(m));
    return V{{_mm256_mulhi_epu16(a.r[0], mm), _mm256_mulhi_epu16(a.r[1], mm)}};
  }
};

}  // namespace

bool RunLineAVX2(const LineJob& job) { return linekernel::RunLine<AVX2Ops>(job); }

#else

bool RunLineAVX2(const LineJob& job) { return RunLineSSE2(job); }

#endif
