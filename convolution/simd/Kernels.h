// Every inner loop of the fast engines for one instruction set, and the one
// place that picks them: the separable engine's line kernel
// (separable/LineKernelImpl.h) and the two-dimensional and control-layer loops
// (simd/LevelKernels.inl), written once over the lane operations and
// compiled once per instruction set, each set in a file of its own
// (KernelsScalar.cpp, KernelsSse2.cpp, KernelsAvx2.cpp, KernelsAvx512.cpp, all
// through KernelBodies.inl), for 16-bit lanes and for the float lanes of
// float pixels alike.
//
// The tables are constant, own nothing and may be used from any thread.
#pragma once

#include <type_traits>

#include "convolution/EnginePlan.h"
#include "convolution/separable/LineKernel.h"
#include "convolution/simd/Levels.h"

namespace simd {

struct Kernels {
  LineFunction line;
  LineFunctionOf<float> lineFloat;
  fastpath::Kernels2D twoD;
};

// The line kernel of lanes of type Lane.
template <typename Lane>
LineFunctionOf<Lane> LineFor(const Kernels& kernels) {
  if constexpr (std::is_same_v<Lane, float>) {
    return kernels.lineFloat;
  } else {
    return kernels.line;
  }
}

// One per instruction set; the vector ones exist on x86 only.
const Kernels& ScalarKernels();
const Kernels& Sse2Kernels();
const Kernels& Avx2Kernels();
const Kernels& Avx512Kernels();

// The loops of the given instruction set, which must not be above what the
// processor supports (CpuSimdLevel); the scalar twin where the build has no
// vector code.
const Kernels& KernelsFor(SimdLevel instructionSet);

}  // namespace simd
