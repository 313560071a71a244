// The lane operations of every instruction set against the scalar twin, lane
// by lane over edge values (weights 0, 1, 32767, 32768, 32769, 65535;
// channels 0, 255, 32768, 65535 and their neighbours), with the vector
// boundaries of each set; and the scalar twin itself against the Q15 product
// the straightforward loops compute, wherever the exactness limit says the
// lanes may stand in for it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
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

enum Op {
  kLoadStore,
  kZero,
  kSplat,
  kSplatPixel,
  kWidened,
  kNarrowed,
  kMax,
  kAdd,
  kSub,
  kAnd,
  kOr,
  kMulHi,
  kWeigh,
  kWeighAbove,
  kWeighBy,
  kGreaterEqual,
  kEqual,
  kNonZero,
  kMaskAnd,
  kMaskOr,
  kNoLanes,
  kAnyLane,
  kAllLanes,
  kNoLaneIsAny,
  kZeroWhere,
  kKeepWhere,
  kSelect,
  kIncrementWhere,
  kLargestLane,
  kOpCount
};

const char* const kOpNames[kOpCount] = {"Load/Store",  "Zero",
                                        "Splat",       "SplatPixel",
                                        "LoadWidened", "StoreNarrowed",
                                        "Max",         "Add",
                                        "Sub",         "And",
                                        "Or",          "MulHi",
                                        "Weigh",       "Weigh (hi all ones)",
                                        "WeighBy",     "GreaterEqual",
                                        "Equal",       "NonZero",
                                        "MaskAnd",     "MaskOr",
                                        "NoLanes",     "AnyLane",
                                        "AllLanes",    "AnyLane(NoLanes)",
                                        "ZeroWhere",   "KeepWhere",
                                        "Select",      "IncrementWhere",
                                        "LargestLane"};

const uint16_t kWeights[] = {0, 1, 2, 16384, 32767, 32768, 32769, 40000, 65534, 65535};
const uint16_t kChannels[] = {0, 1, 2, 254, 255, 256, 32767, 32768, 32769, 65534, 65535};

struct ProbeInput {
  std::vector<uint16_t> a, b, c, w, mul, hi;
  std::vector<uint8_t> bytes;
  int32_t Count() const { return static_cast<int32_t>(a.size()); }
};
using ProbeOutput = std::array<std::vector<uint16_t>, kOpCount>;

// Every pair of edge channels as (a, b), every edge weight with every edge
// channel as (w, c), then blocks of kMaxLanes where a >= b and a == b all
// along, and random lanes; a whole number of the widest vectors.
ProbeInput MakeInput() {
  ProbeInput in;
  auto add = [&](uint16_t a, uint16_t b, uint16_t c, uint16_t w) {
    in.a.push_back(a);
    in.b.push_back(b);
    in.c.push_back(c);
    in.w.push_back(w);
    in.mul.push_back(simd::WeightMul(w));
    in.hi.push_back(simd::WeightHi(w));
    in.bytes.push_back(static_cast<uint8_t>(a ^ (b >> 8)));
  };
  for (uint16_t a : kChannels) {
    for (uint16_t b : kChannels) add(a, b, b, kWeights[(a + b) % std::size(kWeights)]);
  }
  for (uint16_t w : kWeights) {
    for (uint16_t c : kChannels) add(c, w, c, w);
  }
  for (int32_t k = 0; k < simd::kMaxLanes; ++k) add(65535, static_cast<uint16_t>(k * 997), 0, 1);
  for (int32_t k = 0; k < simd::kMaxLanes; ++k) add(32768, 32768, 32768, 32768);
  std::mt19937 rng(5);
  while (in.a.size() % simd::kMaxLanes != 0 || in.a.size() < 2048) {
    const auto r = [&] { return static_cast<uint16_t>(rng()); };
    add(r(), rng() % 4 == 0 ? in.a.back() : r(), rng() % 5 == 0 ? 0 : r(), r());
  }
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

struct InstructionSet {
  SimdLevel id;
  int32_t lanes;
  void (*probe)(const ProbeInput&, ProbeOutput&);
};

const InstructionSet kScalarTwin = {SimdLevel::Scalar, simd::ScalarU16::kLanes,
                                    &scalar_probe::Probe<simd::ScalarU16>};

std::vector<InstructionSet> VectorSetsOfThisProcessor() {
  std::vector<InstructionSet> sets;
#if QB_SIMD_X86
  const InstructionSet all[] = {
      {SimdLevel::SSE2, simd::Sse2U16::kLanes, &sse2_probe::Probe<simd::Sse2U16>},
      {SimdLevel::AVX2, simd::Avx2U16::kLanes, &avx2_probe::Probe<simd::Avx2U16>},
      {SimdLevel::AVX512, simd::Avx512U16::kLanes, &avx512_probe::Probe<simd::Avx512U16>}};
  for (const InstructionSet& s : all) {
    if (s.id <= CpuSimdLevel()) sets.push_back(s);
  }
#endif
  return sets;
}

ProbeOutput ProbeWith(const InstructionSet& set, const ProbeInput& in) {
  ProbeOutput out;
  for (std::vector<uint16_t>& lanes : out) lanes.assign(in.a.size(), 0x5A5A);
  set.probe(in, out);
  return out;
}

// What vector-wide results must be at a width of `lanes`, from the scalar
// twin's lane-wise ones, which are checked below.
void WidenVectorResults(ProbeOutput& twin, const ProbeInput& in, int32_t lanes) {
  for (size_t v = 0; v < in.a.size(); v += static_cast<size_t>(lanes)) {
    bool any = false;
    bool all = true;
    uint16_t largest = 0;
    for (size_t k = v; k < v + static_cast<size_t>(lanes); ++k) {
      any = any || twin[kEqual][k] != 0;
      all = all && twin[kGreaterEqual][k] != 0;
      largest = std::max(largest, in.a[k]);
    }
    for (size_t k = v; k < v + static_cast<size_t>(lanes); ++k) {
      twin[kSplat][k] = in.a[v];
      twin[kSplatPixel][k] = in.a[v + k % 4];
      twin[kAnyLane][k] = any ? 0xFFFF : 0;
      twin[kAllLanes][k] = all ? 0xFFFF : 0;
      twin[kLargestLane][k] = largest;
    }
  }
}

// Lane by lane where an operation works lane by lane; the results of a whole
// vector (four lanes, one pixel) from the lane-wise ones.
TEST(ScalarTwin, EveryOperationIsItsDefinition) {
  const ProbeInput in = MakeInput();
  const ProbeOutput out = ProbeWith(kScalarTwin, in);
  ProbeOutput whole = out;
  WidenVectorResults(whole, in, simd::ScalarU16::kLanes);
  for (size_t k = 0; k < in.a.size(); ++k) {
    const uint32_t a = in.a[k], b = in.b[k], c = in.c[k], w = in.w[k];
    const auto flag = [](bool f) { return f ? uint32_t{0xFFFF} : uint32_t{0}; };
    const bool ge = a >= b, eq = a == b, nz = c != 0;
    const uint32_t mul = (2 * w) & 0xFFFF;
    const uint32_t hi = w >= 32768 ? c : 0;
    const uint32_t expected[kOpCount] = {a,
                                         0,
                                         whole[kSplat][k],
                                         whole[kSplatPixel][k],
                                         in.bytes[k],
                                         a & 0xFF,
                                         std::max(a, b),
                                         (a + b) & 0xFFFF,
                                         (a - b) & 0xFFFF,
                                         a & b,
                                         a | b,
                                         (a * b) >> 16,
                                         (((c * mul) >> 16) + hi) & 0xFFFF,
                                         (((c * mul) >> 16) + c) & 0xFFFF,
                                         (((c * mul) >> 16) + hi) & 0xFFFF,
                                         flag(ge),
                                         flag(eq),
                                         flag(nz),
                                         flag(ge && nz),
                                         flag(eq || nz),
                                         0,
                                         whole[kAnyLane][k],
                                         whole[kAllLanes][k],
                                         0,
                                         ge ? 0 : a,
                                         ge ? a : 0,
                                         nz ? b : a,
                                         (a + (ge ? 1 : 0)) & 0xFFFF,
                                         whole[kLargestLane][k]};
    for (int op = 0; op < kOpCount; ++op) {
      ASSERT_EQ(out[static_cast<size_t>(op)][k], expected[op])
          << kOpNames[op] << " at lane " << k << ": a " << a << ", b " << b << ", c " << c << ", w "
          << w;
    }
  }
}

TEST(InstructionSets, EveryOperationMatchesTheScalarTwin) {
  const ProbeInput in = MakeInput();
  const ProbeOutput twin = ProbeWith(kScalarTwin, in);
  const std::vector<InstructionSet> sets = VectorSetsOfThisProcessor();
  if (sets.empty()) GTEST_SKIP() << "no vector instruction set on this processor";
  for (const InstructionSet& set : sets) {
    SCOPED_TRACE(SimdLevelName(set.id));
    ProbeOutput expected = twin;
    WidenVectorResults(expected, in, set.lanes);
    const ProbeOutput out = ProbeWith(set, in);
    for (int op = 0; op < kOpCount; ++op) {
      const std::vector<uint16_t>& got = out[static_cast<size_t>(op)];
      const std::vector<uint16_t>& want = expected[static_cast<size_t>(op)];
      for (size_t k = 0; k < got.size(); ++k) {
        ASSERT_EQ(got[k], want[k]) << kOpNames[op] << " at lane " << k << ": a " << in.a[k]
                                   << ", b " << in.b[k] << ", c " << in.c[k] << ", w " << in.w[k];
      }
    }
    // The dispatch hands out this set's loops, not another's.
    EXPECT_EQ(simd::KernelsFor(set.id).twoD.blockCells, set.lanes);
  }
  EXPECT_EQ(simd::KernelsFor(SimdLevel::Scalar).twoD.blockCells, simd::ScalarU16::kLanes);
}

// Weigh and WeighBy give (w * c) >> 15 for every channel value up to the
// exactness limit, and the limit is the largest such value: one more would
// overflow the channel or the 32-bit product.
TEST(WeightEncoding, IsTheQ15ProductUpToTheExactnessLimit) {
  using S = simd::ScalarU16;
  std::vector<int32_t> weights(std::begin(kWeights), std::end(kWeights));
  for (int32_t w = 3; w < 65535; w += 4099) weights.push_back(w);
  for (const int32_t channelMax : {255, 65535}) {
    for (const int32_t w : weights) {
      const int32_t limit = simd::ExactChannelLimit(w, channelMax);
      SCOPED_TRACE(::testing::Message()
                   << "weight " << w << ", channel max " << channelMax << ", limit " << limit);
      ASSERT_GE(limit, 0);
      const S::V mul = S::Splat(simd::WeightMul(w));
      const S::V hi = S::Splat(simd::WeightHi(w));
      for (int32_t c = 0; c <= limit; ++c) {
        const auto expected = static_cast<uint16_t>((int64_t{w} * c) >> 15);
        const S::V v = S::Splat(static_cast<uint16_t>(c));
        ASSERT_EQ(S::Weigh(v, mul, hi).c[0], w == 0 ? 0 : expected) << "channel " << c;
        ASSERT_EQ(S::WeighBy(v, S::Splat(static_cast<uint16_t>(w))).c[0], expected)
            << "channel " << c;
      }
      if (limit < 65535) {
        const int64_t product = int64_t{w} * (limit + 1);
        EXPECT_TRUE((product >> 15) > channelMax || product > INT32_MAX);
      }
    }
  }
  EXPECT_EQ(simd::ExactChannelLimit(65536, 65535), -1);
  EXPECT_EQ(simd::ExactChannelLimit(0, 255), 65535);
}

}  // namespace
