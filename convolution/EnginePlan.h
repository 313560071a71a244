// How one convolution is to be done, decided once per render by the render
// driver and handed down: which engine, how far the fast engine may go in
// instruction sets, and what the destination holds and the source may
// still hold. Nothing below the render driver reads the environment or a
// global to decide any of it.
#pragma once

// The straightforward loops are the oracle every faster path must match bit
// for bit; the fast engine gives the same image sooner.
enum class Engine { Reference, Fast };

// Instruction sets, ordered: each implies every one below it.
enum class SimdLevel { Scalar = 0, SSE2 = 1, AVX2 = 2, AVX512 = 3 };

// What the destination holds when a convolution starts: a floor the result
// keeps, only zeros, or anything at all, to be overwritten (the fast engine
// then stores its results without reading it).
enum class DestinationState { Floor, Cleared, Overwrite };

struct ConvolvePlan {
  Engine engine = Engine::Reference;
  SimdLevel simd = SimdLevel::Scalar;
  DestinationState destination = DestinationState::Floor;
  // The source may still hold colour under fully transparent pixels, which
  // the convolution must read as 0: set only where the render hands the
  // host's input straight to the fast engine (with a control layer only for
  // the separable shapes).
  bool maskTransparentSource = false;

  bool Fast() const { return engine == Engine::Fast; }
  ConvolvePlan Into(DestinationState state) const {
    ConvolvePlan plan = *this;
    plan.destination = state;
    return plan;
  }
};

// The best instruction set this processor has.
SimdLevel CpuSimdLevel();
const char* SimdLevelName(SimdLevel level);
