// The inner loop of the fast separable engine: a one-dimensional weighted
// maximum along a line of positions, each position a block of kLineLanes
// lanes (8 pixels x 4 channels, or 8 rows of one pixel x 4 channels) that
// never interact: unsigned 16-bit lanes for 8- and 16-bit pixels, float lanes
// (convolution/simd/Lanes.h) for float pixels.
//
// out[x] = max over taps t of (w_t * in[x + t]) >> 15 (in float lanes
// in[x + t] * (w_t * 2^-15)), where `in` is already
// padded (zeros beyond the image), so tap t of output x reads position x + t.
// The taps are grouped by weight level. A level w reads the maximum of its
// own taps, or of any taps whose weights are all at least w (a sliding
// maximum over a run): that is exact, because (w * c) >> 15 never decreases
// in w or c, and every tap is still read at its own level.
//
// This header holds only plain records: the kernel itself is LineKernelImpl.h,
// compiled once per instruction set in convolution/simd/ and chosen there.
#pragma once

#include <cstdint>
#include <type_traits>

constexpr int32_t kLineLanes = 32;
constexpr int32_t kMaxSlides = 4;

// One weight level w, reading refCount entries of LineProgram::offsets (the
// next ones after the previous level's). mul is simd::WeightMul(w), so that
// (w * c) >> 15 is mulhi(c, mul) below 32768, c at 32768 and c + mulhi(c, mul)
// above (the level's place in LineProgram says which); scale is w * 2^-15,
// what float lanes multiply by.
// fan > 0 when this level and the fan - 1 after it each read two input taps,
// every level one position further out on both sides than the one before.
struct LineStep {
  uint16_t mul;
  float scale;
  int32_t refCount;
  int32_t fan;
};

// The operand of a step's weight in lanes of type Lane.
template <typename Lane>
inline Lane WeightOperand(const LineStep& step) {
  if constexpr (std::is_same_v<Lane, float>) {
    return step.scale;
  } else {
    return step.mul;
  }
}

// Steps in decreasing weight: aboveCount with w > 32768, then unitCount with
// w == 32768, then belowCount with w < 32768. A level reads, for output x,
// position x of the line at element offsets[k] from LineJob::in: a tap of the
// input, or a precomputed sliding maximum stored after it.
struct LineProgram {
  const LineStep* steps;
  int32_t aboveCount;
  int32_t unitCount;
  int32_t belowCount;
  const int32_t* offsets;
  const int32_t* slideLengths;  // window of each sliding maximum, in positions
  int32_t slideCount;
  // The taps of positive weight lie within boundSpan positions from
  // boundStart (boundSpan 0: no bound). The levels below 32768 may stop once
  // the largest value under them, weighted by the next level, cannot raise
  // the result; the kernel keeps that maximum per group of positions in
  // boundRegion (element offset from LineJob::in, BoundPositions positions).
  int32_t boundStart;
  int32_t boundSpan;
  int32_t boundRegion;
};

// Positions the kernel's bound needs for a line of inCount positions: the
// group maxima over blocks, their sliding maximum and its suffix scratch, in
// groups of two or more; the sliding maximum of the line itself and its
// scratch in groups of one.
constexpr int32_t BoundPositions(int32_t inCount, int32_t span) { return inCount + 2 * span + 8; }

// One line of lanes of type Lane (uint16_t or float). in: inCount
// positions, then, when the program has sliding maxima, inCount positions of
// scratch and the slideCount sliding maxima of inCount positions each (where
// the program's offsets expect them); out: count positions. Every buffer is
// written only by this job.
template <typename Lane>
struct LineJobOf {
  LineProgram program;
  Lane* in;
  int32_t inCount;
  int32_t count;
  Lane* out;
  // 16-bit inputs above this could make a weighted value pass 65535
  // (simd::ExactChannelLimit); 65535 when no input can, as in float lanes.
  uint16_t valueLimit;
};
using LineJob = LineJobOf<uint16_t>;

// False, having written nothing, when an input passes job.valueLimit.
template <typename Lane>
using LineFunctionOf = bool (*)(const LineJobOf<Lane>& job);
using LineFunction = LineFunctionOf<uint16_t>;
