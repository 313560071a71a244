// How code is compiled for an instruction set other than the build's
// baseline: one mechanism for every kernel of the fast engines. The lane
// operations of an instruction set carry its target attribute themselves
// (Sse2.h, Avx2.h, Avx512.h), and the kernels written against them are
// compiled inside a target region:
//
//   QB_SIMD_TARGET_BEGIN(QB_SIMD_AVX2)
//   ... kernels using simd::Avx2U16 ...
//   QB_SIMD_TARGET_END
//
// Only functions defined inside the region get the instruction set; the
// standard library and everything included before it keep the baseline, so
// no inline function shared with baseline code can be linked in its wider
// form (which per-file compiler flags would allow). Each instruction set's
// kernels are compiled in a file of their own (KernelsAvx2.cpp ...), and the
// processor is asked before any of them runs (Kernels.h).
#pragma once

#if defined(__i386__) || defined(__x86_64__)
#define QB_SIMD_X86 1
#else
#define QB_SIMD_X86 0
#endif

// The target attribute strings, shared by the lane operations and the
// regions.
#define QB_SIMD_SSE2 "sse2"
#define QB_SIMD_AVX2 "avx2"
#define QB_SIMD_AVX512 "avx512f,avx512bw,avx2"

#define QB_SIMD_PRAGMA(text) _Pragma(#text)
// clang ignores GCC's target pragmas; it has its own.
#if defined(__clang__)
#define QB_SIMD_TARGET_BEGIN(set) \
  QB_SIMD_PRAGMA(clang attribute push(__attribute__((target(set))), apply_to = function))
#define QB_SIMD_TARGET_END QB_SIMD_PRAGMA(clang attribute pop)
#else
#define QB_SIMD_TARGET_BEGIN(set) QB_SIMD_PRAGMA(GCC push_options) QB_SIMD_PRAGMA(GCC target(set))
#define QB_SIMD_TARGET_END QB_SIMD_PRAGMA(GCC pop_options)
#endif

// A lane operation: always inlined into the kernel that uses it.
#define QB_SIMD_OP static inline __attribute__((always_inline))
#define QB_SIMD_TARGET_OP(set) static inline __attribute__((always_inline, target(set)))
