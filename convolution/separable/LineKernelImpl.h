// The line kernel written once over the lane operations O of one instruction
// set and lane type (convolution/simd/): LineOps<O> makes the kLineLanes lanes
// of one position out of O's vectors, 16-bit or float alike. Included only by the
// per-instruction-set files of convolution/simd/, inside their target region and an anonymous
// namespace, so every instantiation is compiled for its set and has internal linkage. No includes:
// the including file provides LineKernel.h and the lane operations.
#pragma once

// Every loop over the G positions of a group runs fully unrolled: GCC keeps
// loops that hold inner loops rolled, and the group's arrays (acc, m, the
// fan's l and r) then live on the stack instead of in registers, which costs
// 10-20% of a separable render.
#define QB_EACH_OF_GROUP(g) _Pragma("GCC unroll 16") for (int g = 0; g < G; ++g)

namespace linekernel {

// One position as kParts vectors of O, with the few operations the kernel
// needs. kGroup positions are computed together: a fan keeps three values
// per position (left, right, result) in registers, so the group is the
// largest power of two whose fans fit O's vector registers.
template <class O>
struct LineOps {
  static constexpr int kParts = kLineLanes / O::kLanes;
  static_assert(kParts * O::kLanes == kLineLanes, "a position is whole vectors");
  static constexpr int kGroup = [] {
    int group = 1;
    while (2 * group * 3 * kParts <= O::kVectorRegisters) group *= 2;
    return group;
  }();
  using Lane = typename O::Lane;
  struct V {
    typename O::V part[kParts];
  };

  QB_SIMD_OP V Zero() {
    V v;
    for (int i = 0; i < kParts; ++i) v.part[i] = O::Zero();
    return v;
  }
  QB_SIMD_OP V Splat(Lane x) {
    V v;
    for (int i = 0; i < kParts; ++i) v.part[i] = O::Splat(x);
    return v;
  }
  QB_SIMD_OP V Load(const Lane* p) {
    V v;
    for (int i = 0; i < kParts; ++i) v.part[i] = O::Load(p + i * O::kLanes);
    return v;
  }
  QB_SIMD_OP void Store(Lane* p, const V& v) {
    for (int i = 0; i < kParts; ++i) O::Store(p + i * O::kLanes, v.part[i]);
  }
  QB_SIMD_OP V Max(const V& a, const V& b) {
    V v;
    for (int i = 0; i < kParts; ++i) v.part[i] = O::Max(a.part[i], b.part[i]);
    return v;
  }
  // A level's weight below 32768 and above it, the same in every lane.
  QB_SIMD_OP V WeighBelow(const V& a, const LineStep& step) {
    const typename O::V w = O::Splat(WeightOperand<Lane>(step));
    V v;
    for (int i = 0; i < kParts; ++i) v.part[i] = O::WeighBelow(a.part[i], w);
    return v;
  }
  QB_SIMD_OP V WeighAbove(const V& a, const LineStep& step) {
    const typename O::V w = O::Splat(WeightOperand<Lane>(step));
    V v;
    for (int i = 0; i < kParts; ++i) v.part[i] = O::WeighAbove(a.part[i], w);
    return v;
  }
  // a >= b in every lane.
  QB_SIMD_OP bool AllAtLeast(const V& a, const V& b) {
    typename O::M m = O::GreaterEqual(a.part[0], b.part[0]);
    for (int i = 1; i < kParts; ++i) m = O::MaskAnd(m, O::GreaterEqual(a.part[i], b.part[i]));
    return O::AllLanes(m);
  }
};

// Below, O is a LineOps: its V is one position.

// van Herk / Gil-Werman: slide[x] = max(in[x .. x + r - 1]) for every x with
// x + r <= n, as the maximum of x's block from x on and of the next block up
// to x + r - 1 (beyond that, only the former). The first runs backwards into
// `suffix` (r positions, small enough to stay in cache), the second forwards
// in a register, so the line's long buffers are read twice and written once.
// Inlined into each caller: called out of line, GCC's copy makes the float
// Box 10% slower.
template <class O, typename Lane>
inline __attribute__((always_inline)) void SlidingMaximum(const Lane* in, int32_t n, int32_t r,
                                                          Lane* suffix, Lane* slide) {
  for (int32_t block = 0; block < n; block += r) {
    const int32_t end = block + r < n ? block + r : n;
    typename O::V run = O::Load(in + (end - 1) * kLineLanes);
    O::Store(suffix + (end - 1 - block) * kLineLanes, run);
    for (int32_t i = end - 2; i >= block; --i) {
      run = O::Max(run, O::Load(in + i * kLineLanes));
      O::Store(suffix + (i - block) * kLineLanes, run);
    }
    // The window of x = block is the block itself.
    O::Store(slide + block * kLineLanes, run);
    typename O::V ahead = O::Zero();
    for (int32_t x = block + 1; x < end; ++x) {
      const typename O::V s = O::Load(suffix + (x - block) * kLineLanes);
      if (x + r > n) {
        O::Store(slide + x * kLineLanes, s);
        continue;
      }
      const typename O::V a = O::Load(in + (x + r - 1) * kLineLanes);
      ahead = x == block + 1 ? a : O::Max(ahead, a);
      O::Store(slide + x * kLineLanes, O::Max(s, ahead));
    }
  }
}

// The bound of every group of G positions of a line: bound[j] >= every
// input position that output positions jG .. jG + G - 1 read at their
// positive taps (`base` is the line from the first of those taps, `avail`
// positions long). Groups of G share one bound, which is then G - 1 positions
// wider than a position's own, but costs a maximum over blocks of G and a
// sliding maximum over one G-th of the line instead of over all of it.
// `region` holds BoundPositions(inCount, span) positions.
template <class O, int G, typename Lane>
const Lane* GroupBound(const Lane* base, int32_t avail, int32_t span, int32_t groups,
                       Lane* region) {
  if constexpr (G == 1) {
    Lane* bound = region + static_cast<intptr_t>(span) * kLineLanes;
    SlidingMaximum<O>(base, avail, span, region, bound);
    return bound;
  } else {
    const int32_t window = (span + G - 1 + G - 1) / G;  // blocks per group's reach
    const int32_t blocks = groups + window - 1;
    Lane* maxima = region;
    for (int32_t k = 0; k < blocks; ++k) {
      typename O::V m = O::Zero();
      const int32_t end = (k + 1) * G < avail ? (k + 1) * G : avail;
      for (int32_t i = k * G; i < end; ++i) m = O::Max(m, O::Load(base + i * kLineLanes));
      O::Store(maxima + k * kLineLanes, m);
    }
    Lane* bound = maxima + static_cast<intptr_t>(blocks) * kLineLanes;
    SlidingMaximum<O>(maxima, blocks, window, bound + static_cast<intptr_t>(blocks) * kLineLanes,
                      bound);
    return bound;
  }
}

template <class O, int G>
struct Positions {
  using Lane = typename O::Lane;
  const Lane* in;
  const LineProgram& program;
  const Lane* bounds;  // GroupBound's, or null: no early stop

  // m = the maximum over the step's refs (at least one); returns the next
  // refs.
  static const int32_t* Gather(const Lane* base, const int32_t* offsets, int32_t count,
                               typename O::V* m) {
    const Lane* a = base + offsets[0];
    if (count == 2) {
      const Lane* b = base + offsets[1];
      QB_EACH_OF_GROUP(g) {
        m[g] = O::Max(O::Load(a + g * kLineLanes), O::Load(b + g * kLineLanes));
      }
      return offsets + 2;
    }
    QB_EACH_OF_GROUP(g) m[g] = O::Load(a + g * kLineLanes);
    for (int32_t k = 1; k < count; ++k) {
      a = base + offsets[k];
      QB_EACH_OF_GROUP(g) m[g] = O::Max(m[g], O::Load(a + g * kLineLanes));
    }
    return offsets + count;
  }

  // A fan of `levels` (a multiple of G) levels: level i reads left - i and
  // right + i. The G positions' left taps of one level are the next level's
  // shifted by one, so each level loads one new position a side; the
  // registers rotate instead of moving: at level U of a block, left tap g
  // sits in l[(g - U) mod G] and right tap g in r[(g + U) mod G].
  template <int U>
  static void FanLevel(const Lane* left, const Lane* right, const LineStep* steps, int32_t i,
                       bool more, typename O::V* l, typename O::V* r, typename O::V* acc) {
    if constexpr (U < G) {
      const LineStep& step = steps[i + U];
      QB_EACH_OF_GROUP(g) {
        const typename O::V pair = O::Max(l[(g + G - U) % G], r[(g + U) % G]);
        acc[g] = O::Max(acc[g], O::WeighBelow(pair, step));
      }
      if (U + 1 < G || more) {
        const intptr_t next = i + U + 1;
        l[(G - U - 1) % G] = O::Load(left - next * kLineLanes);
        r[U % G] = O::Load(right + (next + G - 1) * kLineLanes);
      }
      FanLevel<U + 1>(left, right, steps, i, more, l, r, acc);
    }
  }

  // True when no level of `mul` or less can raise any lane of acc any
  // more: even the largest value under the kernel, weighted by it, is no
  // larger.
  static bool Covered(const Lane* bound, const LineStep& step, const typename O::V* acc) {
    const typename O::V top = O::WeighBelow(O::Load(bound), step);
    QB_EACH_OF_GROUP(g) {
      if (!O::AllAtLeast(acc[g], top)) return false;
    }
    return true;
  }

  // Returns false when it stopped early because the bound was reached.
  static bool Fan(const Lane* left, const Lane* right, const LineStep* steps, int32_t levels,
                  const Lane* bound, typename O::V* acc) {
    typename O::V l[G];
    typename O::V r[G];
    QB_EACH_OF_GROUP(g) {
      l[g] = O::Load(left + g * kLineLanes);
      r[g] = O::Load(right + g * kLineLanes);
    }
    for (int32_t i = 0; i < levels; i += G) {
      if (bound && i > 0 && Covered(bound, steps[i], acc)) return false;
      FanLevel<0>(left, right, steps, i, i + G < levels, l, r, acc);
    }
    return true;
  }

  void Run(int32_t x, Lane* out) const {
    typename O::V m[G];
    typename O::V acc[G];
    QB_EACH_OF_GROUP(g) acc[g] = O::Zero();
    const Lane* base = in + x * kLineLanes;
    const Lane* bound = bounds ? bounds + (x / G) * kLineLanes : nullptr;
    const int32_t* offsets = program.offsets;
    const LineStep* step = program.steps;
    for (const LineStep* end = step + program.aboveCount; step != end; ++step) {
      offsets = Gather(base, offsets, step->refCount, m);
      QB_EACH_OF_GROUP(g) acc[g] = O::Max(acc[g], O::WeighAbove(m[g], *step));
    }
    for (const LineStep* end = step + program.unitCount; step != end; ++step) {
      offsets = Gather(base, offsets, step->refCount, m);
      QB_EACH_OF_GROUP(g) acc[g] = O::Max(acc[g], m[g]);
    }
    // Levels come heaviest first, so once the bound is reached the rest can
    // be skipped; it is checked every kCheckEvery levels.
    constexpr int32_t kCheckEvery = 8;
    int32_t sinceCheck = 0;
    for (const LineStep* end = step + program.belowCount; step != end;) {
      if (bound && sinceCheck >= kCheckEvery) {
        if (Covered(bound, *step, acc)) break;
        sinceCheck = 0;
      }
      if (G > 1 && step->fan >= G) {
        const int32_t levels = step->fan / G * G;
        if (!Fan(base + offsets[0], base + offsets[1], step, levels, bound, acc)) break;
        offsets += 2 * levels;
        step += levels;
        sinceCheck = kCheckEvery;
        continue;
      }
      offsets = Gather(base, offsets, step->refCount, m);
      QB_EACH_OF_GROUP(g) acc[g] = O::Max(acc[g], O::WeighBelow(m[g], *step));
      ++step;
      ++sinceCheck;
    }
    QB_EACH_OF_GROUP(g) O::Store(out + (x + g) * kLineLanes, acc[g]);
  }
};

// The line kernel with the lane operations Lanes (a member of LineFunctionOf).
template <class Lanes>
bool RunLine(const LineJobOf<typename Lanes::Lane>& job) {
  using O = LineOps<Lanes>;
  using Lane = typename Lanes::Lane;
  if (job.valueLimit < 65535) {
    typename O::V top = O::Zero();
    for (int32_t i = 0; i < job.inCount; ++i) top = O::Max(top, O::Load(job.in + i * kLineLanes));
    if (!O::AllAtLeast(O::Splat(job.valueLimit), top)) return false;
  }
  const LineProgram& program = job.program;
  const intptr_t line = static_cast<intptr_t>(job.inCount) * kLineLanes;
  Lane* scratch = job.in + line;
  for (int32_t s = 0; s < program.slideCount; ++s) {
    SlidingMaximum<O>(job.in, job.inCount, program.slideLengths[s], scratch,
                      scratch + line * (1 + s));
  }
  const Lane* bounds = nullptr;
  if (program.boundSpan > 0) {
    const intptr_t start = static_cast<intptr_t>(program.boundStart) * kLineLanes;
    bounds = GroupBound<O, O::kGroup>(job.in + start, job.inCount - program.boundStart,
                                      program.boundSpan, job.count / O::kGroup,
                                      job.in + program.boundRegion);
  }
  // The few positions past the last whole group run to the end.
  const Positions<O, O::kGroup> group{job.in, program, bounds};
  const Positions<O, 1> single{job.in, program, O::kGroup == 1 ? bounds : nullptr};
  int32_t x = 0;
  for (; x + O::kGroup <= job.count; x += O::kGroup) group.Run(x, job.out);
  for (; x < job.count; ++x) single.Run(x, job.out);
  return true;
}

}  // namespace linekernel
#undef QB_EACH_OF_GROUP
