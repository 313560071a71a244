// The engine and instruction-set cap of this process: read once from
// QUORVANT_BLUR_ENGINE (reference|fast, default fast) and QUORVANT_BLUR_SIMD
// (scalar|sse2|avx2|avx512, default the processor's best), the only
// environment the effect reads. Tests and the benchmark override them
// in-process; the SIMD override is still capped by what the CPU supports.
#pragma once

#include "convolution/EnginePlan.h"

Engine ActiveEngine();
SimdLevel ActiveSimdLevel();

void SetEngineForTesting(Engine engine);
void SetSimdLevelForTesting(SimdLevel level);
void ResetEngineForTesting();
