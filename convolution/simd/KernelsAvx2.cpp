// The fast engines' loops with AVX2, called only once the processor has been asked.
#include "convolution/simd/Avx2.h"
#include "convolution/simd/KernelBodies.h"

#if QB_SIMD_X86

QB_SIMD_TARGET_BEGIN(QB_SIMD_AVX2)
#define QB_SIMD_LANES simd::Avx2U16
#define QB_SIMD_FLOAT_LANES simd::Avx2F32
#include "convolution/simd/KernelBodies.inl"
QB_SIMD_TARGET_END

const simd::Kernels& simd::Avx2Kernels() { return kKernels; }

#endif
