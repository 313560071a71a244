#include "convolution/simd/Kernels.h"

#include "convolution/simd/Target.h"

namespace simd {

const Kernels& KernelsFor(SimdLevel instructionSet) {
#if QB_SIMD_X86
  switch (instructionSet) {
    case SimdLevel::AVX512:
      return Avx512Kernels();
    case SimdLevel::AVX2:
      return Avx2Kernels();
    case SimdLevel::SSE2:
      return Sse2Kernels();
    case SimdLevel::Scalar:
      break;
  }
#else
  (void)instructionSet;
#endif
  return ScalarKernels();
}

}  // namespace simd
