// The lane operations of every instruction set against the scalar twin, lane
// by lane over edge weights and channels, with the vector boundaries of each
// set; and the weight encoding against the Q15 product the straightforward
// loops compute, wherever the exactness limit says the lanes may stand in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "convolution/EnginePlan.h"
#include "convolution/simd/Avx2.h"
#include "convolution/simd/Avx512.h"
#include "convolution/simd/Kernels.h"
#include "convolution/simd/Lanes.h"
#include "convolution/simd/Scalar.h"
#include "convolution/simd/Sse2.h"
#include "convolution/simd/Target.h"

namespace {

const uint16_t kWeights[] = {0,     1,     2,     3,     257,   4099,  16384, 24577,
                             32767, 32768, 32769, 40000, 49153, 65534, 65535};
// The channels the largest weight is exact up to, 8- and 16-bit.
constexpr uint16_t k8 = simd::ExactChannelLimit(65535, 255);
constexpr uint16_t k16 = simd::ExactChannelLimit(65535, 65535);
const uint16_t kChannels[] = {0, 1, k8, k8 + 1, 254, 255, 256, k16 - 1, k16, k16 + 1, 65534, 65535};

struct ProbeInput {
  std::vector<uint16_t> a, b, c, w, mul, hi;
  std::vector<uint8_t> bytes;
};
using Results = std::map<std::string, std::vector<uint16_t>>;

// Every pair of edge channels as (a, b), every edge weight with every edge
// channel as (w, c), twice kMaxLanes lanes where a >= b all along (so AllLanes
// holds across a whole widest vector), then random lanes.
ProbeInput MakeInput() {
  ProbeInput in;
  auto add = [&](uint16_t a, uint16_t b, uint16_t c, uint16_t w) {
    in.a.push_back(a), in.b.push_back(b), in.c.push_back(c), in.w.push_back(w);
    in.mul.push_back(simd::WeightMul(w)), in.hi.push_back(simd::WeightHi(w));
    in.bytes.push_back(static_cast<uint8_t>(a ^ (b >> 8)));
  };
  for (uint16_t a : kChannels)
    for (uint16_t b : kChannels) add(a, b, b, kWeights[(a + b) % std::size(kWeights)]);
  for (uint16_t w : kWeights)
    for (uint16_t c : kChannels) add(c, w, c, w);
  for (int32_t k = 0; k < simd::kMaxLanes; ++k)
    add(65535, static_cast<uint16_t>(k * 997), 0, 1), add(32768, 32768, 32768, 32768);
  std::mt19937 rng(5);
  const auto r = [&] { return static_cast<uint16_t>(rng()); };
  while (in.a.size() % simd::kMaxLanes != 0 || in.a.size() < 2048)
    add(r(), rng() % 4 == 0 ? in.a.back() : r(), rng() % 5 == 0 ? 0 : r(), r());
  return in;
}

namespace scalar_probe {
#include "simd/LaneProbe.inl"
}  // namespace scalar_probe
#if QB_SIMD_X86
QB_SIMD_TARGET_BEGIN(QB_SIMD_SSE2)
namespace sse2_probe {
#include "simd/LaneProbe.inl"
}  // namespace sse2_probe
QB_SIMD_TARGET_END
QB_SIMD_TARGET_BEGIN(QB_SIMD_AVX2)
namespace avx2_probe {
#include "simd/LaneProbe.inl"
}  // namespace avx2_probe
QB_SIMD_TARGET_END
QB_SIMD_TARGET_BEGIN(QB_SIMD_AVX512)
namespace avx512_probe {
#include "simd/LaneProbe.inl"
}  // namespace avx512_probe
QB_SIMD_TARGET_END
#endif

// The twin's whole-vector results (one pixel wide) as a set `n` lanes wide
// must give them: splats repeat the vector's first pixel, AnyLane and
// LargestLane are the largest over the vector, AllLanes the smallest.
void Widen(Results& twin, size_t n) {
  for (auto& [op, lanes] : twin) {
    const bool first = op.starts_with("Splat"), largest = op == "AnyLane" || op == "LargestLane";
    if (!first && !largest && op != "AllLanes") continue;
    for (size_t v = 0; v < lanes.size(); v += n) {
      const auto [low, high] = std::minmax_element(&lanes[v], &lanes[v] + n);
      const uint16_t m = largest ? *high : *low;
      for (size_t k = v; k < v + n; ++k) lanes[k] = first ? lanes[v + k % 4] : m;
    }
  }
}

TEST(InstructionSets, EveryOperationMatchesTheScalarTwin) {
  const ProbeInput in = MakeInput();
  Results twin;
  scalar_probe::Probe<simd::ScalarU16>(in, twin);
  using Probe = void (*)(const ProbeInput&, Results&);
  std::vector<std::tuple<SimdLevel, size_t, Probe>> sets;
#if QB_SIMD_X86
  sets = {{SimdLevel::SSE2, simd::Sse2U16::kLanes, &sse2_probe::Probe<simd::Sse2U16>},
          {SimdLevel::AVX2, simd::Avx2U16::kLanes, &avx2_probe::Probe<simd::Avx2U16>},
          {SimdLevel::AVX512, simd::Avx512U16::kLanes, &avx512_probe::Probe<simd::Avx512U16>}};
#endif
  std::erase_if(sets, [](const auto& set) { return std::get<0>(set) > CpuSimdLevel(); });
  if (sets.empty()) GTEST_SKIP() << "no vector instruction set on this processor";
  for (const auto& [id, width, probe] : sets) {
    SCOPED_TRACE(SimdLevelName(id));
    Results want = twin, got;
    Widen(want, width);
    probe(in, got);
    for (const auto& [op, lanes] : want)
      for (size_t k = 0; k < lanes.size(); ++k)
        ASSERT_EQ(got.at(op)[k], lanes[k]) << op << " at lane " << k << ": a " << in.a[k] << ", b "
                                           << in.b[k] << ", c " << in.c[k] << ", w " << in.w[k];
    // The dispatch hands out this set's loops, not another's.
    EXPECT_EQ(static_cast<size_t>(simd::KernelsFor(id).twoD.blockCells), width);
  }
}

// Weigh and WeighBy give (w * c) >> 15 for every channel up to the exactness
// limit, and the limit is the largest such value: one more would overflow the
// channel or the 32-bit product.
TEST(WeightEncoding, IsTheQ15ProductUpToTheExactnessLimit) {
  using S = simd::ScalarU16;
  for (const int32_t channelMax : {255, 65535}) {
    for (const int32_t w : kWeights) {
      const int32_t limit = simd::ExactChannelLimit(w, channelMax);
      SCOPED_TRACE(::testing::Message() << "weight " << w << ", channel max " << channelMax);
      const S::V mul = S::Splat(simd::WeightMul(w)), hi = S::Splat(simd::WeightHi(w));
      for (int32_t c = 0; c <= limit; ++c) {
        const auto expected = static_cast<uint16_t>((int64_t{w} * c) >> 15);
        const S::V v = S::Splat(static_cast<uint16_t>(c));
        ASSERT_EQ(S::Weigh(v, mul, hi).c[0], expected) << "channel " << c;
        ASSERT_EQ(S::WeighBy(v, S::Splat(static_cast<uint16_t>(w))).c[0], expected) << c;
      }
      const int64_t over = int64_t{w} * (limit + 1);
      EXPECT_TRUE(limit == 65535 || (over >> 15) > channelMax || over > INT32_MAX);
    }
  }
  EXPECT_EQ(simd::ExactChannelLimit(65536, 65535), -1);
  EXPECT_EQ(simd::ExactChannelLimit(0, 255), 65535);
}

}  // namespace
