#include "convolution/fast2d/Levels.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "convolution/fast2d/SimdOps.h"
#include "kernels/KernelMaker.h"

namespace fast2d {

namespace scalar_level {
using Ops = ScalarOps;
#include "convolution/fast2d/LevelKernels.inl"
}  // namespace scalar_level

#if QB_FAST_X86

namespace sse2_level {
using Ops = Sse2Ops;
#include "convolution/fast2d/LevelKernels.inl"
}  // namespace sse2_level

// The wider sets are compiled here only; which one runs is decided per call
// from the CPU (ActiveSimdLevel), never by the build flags.
// clang ignores GCC's target pragmas; it has its own.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2_level {
using Ops = Avx2Ops;
#include "convolution/fast2d/LevelKernels.inl"
}  // namespace avx2_level
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2")
#endif
namespace avx512_level {
using Ops = Avx512Ops;
#include "convolution/fast2d/LevelKernels.inl"
}  // namespace avx512_level
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // QB_FAST_X86

const LevelKernels& KernelsFor(SimdLevel level) {
#if QB_FAST_X86
  switch (level) {
    case SimdLevel::AVX512:
      return avx512_level::kKernels;
    case SimdLevel::AVX2:
      return avx2_level::kKernels;
    case SimdLevel::SSE2:
      return sse2_level::kKernels;
    case SimdLevel::Scalar:
      break;
  }
#else
  (void)level;
#endif
  return scalar_level::kKernels;
}

}  // namespace fast2d
