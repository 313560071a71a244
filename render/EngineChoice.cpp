#include "render/EngineChoice.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

struct EnvironmentChoice {
  Engine engine = Engine::Fast;
  SimdLevel simdCap = SimdLevel::AVX512;
};

EnvironmentChoice ReadEnvironment() {
  EnvironmentChoice choice;
  if (const char* engine = std::getenv("QUORVANT_BLUR_ENGINE")) {
    if (std::strcmp(engine, "reference") == 0) choice.engine = Engine::Reference;
  }
  if (const char* simd = std::getenv("QUORVANT_BLUR_SIMD")) {
    if (std::strcmp(simd, "scalar") == 0) {
      choice.simdCap = SimdLevel::Scalar;
    } else if (std::strcmp(simd, "sse2") == 0) {
      choice.simdCap = SimdLevel::SSE2;
    } else if (std::strcmp(simd, "avx2") == 0) {
      choice.simdCap = SimdLevel::AVX2;
    }
  }
  return choice;
}

const EnvironmentChoice& Environment() {
  static const EnvironmentChoice choice = ReadEnvironment();
  return choice;
}

// -1 means no override.
std::atomic<int> engineOverride{-1};
std::atomic<int> simdOverride{-1};

SimdLevel Lower(SimdLevel a, SimdLevel b) {
  return static_cast<int>(a) < static_cast<int>(b) ? a : b;
}

}  // namespace

Engine ActiveEngine() {
  const int forced = engineOverride.load(std::memory_order_relaxed);
  if (forced >= 0) return static_cast<Engine>(forced);
  return Environment().engine;
}

SimdLevel ActiveSimdLevel() {
  const int forced = simdOverride.load(std::memory_order_relaxed);
  const SimdLevel cap = forced >= 0 ? static_cast<SimdLevel>(forced) : Environment().simdCap;
  return Lower(CpuSimdLevel(), cap);
}

void SetEngineForTesting(Engine engine) {
  engineOverride.store(static_cast<int>(engine), std::memory_order_relaxed);
}

void SetSimdLevelForTesting(SimdLevel level) {
  simdOverride.store(static_cast<int>(level), std::memory_order_relaxed);
}

void ResetEngineForTesting() {
  engineOverride.store(-1, std::memory_order_relaxed);
  simdOverride.store(-1, std::memory_order_relaxed);
}
