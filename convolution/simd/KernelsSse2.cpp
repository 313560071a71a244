// The fast engines' loops with SSE2, the x86 baseline.
#include "convolution/simd/KernelBodies.h"
#include "convolution/simd/Sse2.h"

#if QB_SIMD_X86

QB_SIMD_TARGET_BEGIN(QB_SIMD_SSE2)
#define QB_SIMD_LANES simd::Sse2U16
#define QB_SIMD_FLOAT_LANES simd::Sse2F32
#include "convolution/simd/KernelBodies.inl"
QB_SIMD_TARGET_END

const simd::Kernels& simd::Sse2Kernels() { return kKernels; }

#endif
