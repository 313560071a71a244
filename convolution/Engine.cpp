#include "convolution/Engine.h"

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

SimdLevel DetectCpu() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f"))
    return SimdLevel::AVX512;
  if (__builtin_cpu_supports("avx2")) return SimdLevel::AVX2;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::SSE2;
#endif
  return SimdLevel::Scalar;
}

// -1 means no override.
std::atomic<int> engineOverride{-1};
std::atomic<int> simdOverride{-1};

SimdLevel Lower(SimdLevel a, SimdLevel b) {
  return static_cast<int>(a) < static_cast<int>(b) ? a : b;
}

}  // namespace

SimdLevel CpuSimdLevel() {
  static const SimdLevel level = DetectCpu();
  return level;
}

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

const char* EngineName(Engine engine) { return engine == Engine::Reference ? "reference" : "fast"; }

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::Scalar:
      return "scalar";
    case SimdLevel::SSE2:
      return "sse2";
    case SimdLevel::AVX2:
      return "avx2";
    case SimdLevel::AVX512:
      return "avx512";
  }
  return "?";
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
