// The fast engines' loops with the scalar twin: the engine where the
// processor or the build has no vector set, and the reference for the others.
#include "convolution/simd/KernelBodies.h"

#define QB_SIMD_LANES simd::ScalarU16
#define QB_SIMD_FLOAT_LANES simd::ScalarF32
#include "convolution/simd/KernelBodies.inl"

const simd::Kernels& simd::ScalarKernels() { return kKernels; }
