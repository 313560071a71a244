// The line kernel in plain C++: the engine on every processor, and the
// reference point for the vector versions.
#include "convolution/fast/LineKernelImpl.h"

namespace {

struct ScalarOps {
  static constexpr int kGroup = 1;
  struct V {
    uint16_t lane[kLineLanes];
  };
  static V Zero() { return V{}; }
  static V Splat(uint16_t v) {
    V s;
    for (int i = 0; i < kLineLanes; ++i) s.lane[i] = v;
    return s;
  }
  static V Load(const uint16_t* p) {
    V v;
    for (int i = 0; i < kLineLanes; ++i) v.lane[i] = p[i];
    return v;
  }
  static void Store(uint16_t* p, const V& v) {
    for (int i = 0; i < kLineLanes; ++i) p[i] = v.lane[i];
  }
  static V Max(const V& a, const V& b) {
    V v;
    for (int i = 0; i < kLineLanes; ++i) v.lane[i] = a.lane[i] > b.lane[i] ? a.lane[i] : b.lane[i];
    return v;
  }
  static V Add(const V& a, const V& b) {
    V v;
    for (int i = 0; i < kLineLanes; ++i) v.lane[i] = static_cast<uint16_t>(a.lane[i] + b.lane[i]);
    return v;
  }
  static bool AllAtLeast(const V& a, const V& b) {
    for (int i = 0; i < kLineLanes; ++i) {
      if (a.lane[i] < b.lane[i]) return false;
    }
    return true;
  }
  static V MulHi(const V& a, uint16_t m) {
    V v;
    for (int i = 0; i < kLineLanes; ++i) {
      v.lane[i] = static_cast<uint16_t>((static_cast<uint32_t>(a.lane[i]) * m) >> 16);
    }
    return v;
  }
};

}  // namespace

bool RunLineScalar(const LineJob& job) { return linekernel::RunLine<ScalarOps>(job); }
