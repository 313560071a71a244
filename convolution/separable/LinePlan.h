// Turns the taps of one pass into a LineProgram for the line kernel.
//
// Taps are given in gather order: output x reads padded input position
// x + t with weight weights[t] (for a kernel of n elements centred on n/2,
// weights[t] is element n - 1 - t, and the padding before the image is n/2
// positions). Weights are Q15 (32768 = 1.0); those <= 0 never contribute.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convolution/separable/LineKernel.h"
#include "image/PixelFormat.h"

class LinePlan {
 public:
  // For lines of `count` outputs of pixels of `format`. False when the line
  // kernel cannot reproduce (w * c) >> 15 stored into the channel exactly
  // for every value of the depth: weights above 65535, or at 8 bits a weight
  // large enough to push 255 past 255 (the straightforward loops then store
  // the low bits). Float lanes take every weight.
  bool Build(const int32_t* weights, int32_t taps, int32_t count, PixelFormat format);

  LineProgram Program() const;
  int32_t Taps() const { return static_cast<int32_t>(weights.size()); }
  const int32_t* Weights() const { return weights.data(); }
  // Positions of a job's buffers: the padded line, scratch and sliding maxima
  // (LineJob::in), the bound's, then the output.
  int32_t InCount() const { return inCount; }
  size_t JobPositions() const;
  // Largest 16-bit input value for which no weighted value exceeds 65535; a
  // line holding a larger one must take the exact emulation.
  uint16_t ValueLimit() const { return valueLimit; }

 private:
  // Where the kernel's bound lives in a job, in positions from its start, and
  // how many positions it takes.
  int32_t BoundRegion() const;
  int32_t BoundSize() const;

  std::vector<int32_t> weights;
  std::vector<LineStep> steps;
  std::vector<int32_t> offsets;
  std::vector<int32_t> slideLengths;
  int32_t aboveCount = 0;
  int32_t unitCount = 0;
  int32_t count = 0;
  int32_t inCount = 0;
  int32_t boundStart = 0;
  int32_t boundSpan = 0;
  uint16_t valueLimit = 65535;
};
