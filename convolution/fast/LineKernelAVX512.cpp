// The line kernel with AVX-512 (F and BW): one 32-lane register per position,
// eight positions at a time. Compiled with AVX-512 enabled; called only when
// the processor has it.
#include "convolution/fast/LineKernel.h"

#if defined(__AVX512F__) && defined(__AVX512BW__)
#include <immintrin.h>

#include "convolution/fast/LineKernelImpl.h"

namespace {

struct AVX512Ops {
  // A fan keeps three registers per position; 32-bit code has only 8.
#if defined(__x86_64__) || defined(_M_X64)
  static constexpr int kGroup = 8;
#else
  static constexpr int kGroup = 2;
#endif
  using V = __m512i;
  static V Zero() { return _mm512_setzero_si512(); }
  static V Splat(uint16_t v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static V Load(const uint16_t* p) { return _mm512_loadu_si512(p); }
  static void Store(uint16_t* p, V v) { _mm512_storeu_si512(p, v); }
  static V Max(V a, V b) { return _mm512_max_epu16(a, b); }
  static V Add(V a, V b) { return _mm512_add_epi16(a, b); }
  static bool AllAtLeast(V a, V b) { return _mm512_cmplt_epu16_mask(a, b) == 0; }
  static V MulHi(V a, uint16_t m) {
    return _mm512_mulhi_epu16(a, _mm512_set1_epi16(static_cast<short>(m)));
  }
};

}  // namespace

bool RunLineAVX512(const LineJob& job) { return linekernel::RunLine<AVX512Ops>(job); }

#else

bool RunLineAVX512(const LineJob& job) { return RunLineAVX2(job); }

#endif
