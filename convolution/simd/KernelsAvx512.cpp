// The fast engines' loops with AVX-512 (F and BW), called only once the processor has been asked.
#include "convolution/simd/Avx512.h"
#include "convolution/simd/KernelBodies.h"

#if QB_SIMD_X86

QB_SIMD_TARGET_BEGIN(QB_SIMD_AVX512)
#define QB_SIMD_LANES simd::Avx512U16
#define QB_SIMD_FLOAT_LANES simd::Avx512F32
#include "convolution/simd/KernelBodies.inl"
QB_SIMD_TARGET_END

const simd::Kernels& simd::Avx512Kernels() { return kKernels; }

#endif
