// Chooses between the straightforward convolution loops, kept as the oracle
// every faster path must match bit for bit, and the fast engine, and caps the
// instruction set the fast engine may use. The choice is read once per process
// from QUORVANT_BLUR_ENGINE (reference|fast) and QUORVANT_BLUR_SIMD
// (scalar|sse2|avx2|avx512); tests override it in-process.
#pragma once

enum class Engine { Reference, Fast };

// Ordered: a level implies every level below it.
enum class SimdLevel { Scalar = 0, SSE2 = 1, AVX2 = 2, AVX512 = 3 };

// Fast unless QUORVANT_BLUR_ENGINE=reference.
Engine ActiveEngine();

// The best level this CPU supports, capped by QUORVANT_BLUR_SIMD and by the
// testing override.
SimdLevel ActiveSimdLevel();

// The best level this CPU supports, ignoring every cap.
SimdLevel CpuSimdLevel();

const char* EngineName(Engine engine);
const char* SimdLevelName(SimdLevel level);

// Overrides for tests and the benchmark; they win over the environment. The
// SIMD override is still capped by what the CPU supports.
void SetEngineForTesting(Engine engine);
void SetSimdLevelForTesting(SimdLevel level);
void ResetEngineForTesting();
