#include "convolution/EnginePlan.h"

namespace {

SimdLevel DetectCpu() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f"))
    return SimdLevel::AVX512;
  if (__builtin_cpu_supports("avx2")) return SimdLevel::AVX2;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::SSE2;
#endif
  return SimdLevel::Scalar;
}

}  // namespace

SimdLevel CpuSimdLevel() {
  static const SimdLevel level = DetectCpu();
  return level;
}

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::Scalar:
      return "scalar";
    case SimdLevel::SSE2:
      return "sse2";
    case SimdLevel::AVX2:
      return "avx2";
    case SimdLevel::AVX512:
      return "avx512";
  }
  return "?";
}
