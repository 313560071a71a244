// The inner loops of the fast two-dimensional and control-layer paths
// (LevelKernels.inl), compiled once per instruction set in convolution/simd/
// and chosen there (simd::KernelsFor). The plans they read are prepared by the
// callers (TwoDimensional.cpp, SeparableRecords.cpp); every loop writes only
// the pixels it is given, so the gathering row may run on several host
// threads at once.
//
// Channel values are 16-bit lanes in host order (alpha, red, green, blue);
// weights travel as the mul/hi operand pairs of convolution/simd/Lanes.h.
// Callers check beforehand that every weighted value fits its channel
// (simd::ExactChannelLimit), so stores never saturate or wrap. The gather of
// float pixels runs the same loops in float lanes, whose source holds each
// channel as FloatLane gives it and whose weight operands are the scales
// w * 2^-15 (Lanes.h).
#pragma once

#include <cstdint>

#include "convolution/simd/Lanes.h"
#include "hostapi/PluginApi.h"

namespace fastpath {

// The widest group of pixels a gather computes at once; source rows carry
// this much extra margin on the right.
constexpr int32_t kGatherChunkPixels = 64;

// One kernel row of a gather: source row y + dy, elements from `first` on:
// weights of exactly 32768, as `flat` single pixels, `quads` pieces of four
// neighbouring pixels and `sixteens` pieces of sixteen (read from the quad
// and sixteen maxima) that cover longer runs, then `high` elements above
// 32768. Elements below 32768 are not here but in GatherLow.
struct GatherRowSpec {
  int32_t dy;
  int32_t first;
  int32_t flat;
  int32_t quads;
  int32_t sixteens;
  int32_t high;
};

// The elements below 32768, heaviest first in groups, each group's in kernel
// row order (so that neighbouring reads stay close): element e reads source
// row y + dy[e] at offsets[e] from the output's column, with weight operand
// mul[e] (mulhi operand, or float scale). No element of group g or after it
// weighs more than the one whose operand is groupMul[g], so a gather may stop
// before group g once every lane is at least that weight applied to a bound
// of what is left to read.
template <typename Lane>
struct GatherLowOf {
  const int32_t* dy = nullptr;
  const int32_t* offsets = nullptr;
  const Lane* mul = nullptr;
  const int32_t* groupEnd = nullptr;  // element after group g
  const Lane* groupMul = nullptr;
  int32_t groupCount = 0;
};

// A uniform kernel prepared for gathering one output row at a time. The
// source is a widened copy (four lanes per pixel) with zero margins
// left and right: pixel (x, y) starts at lane originLanes + y * rowLanes +
// 4 * x, and element e of a row reads pixel (x + offsets[e] / 4, y + dy).
// mul[e] is the element's weight operand. quads and sixteens have the
// source's layout and hold, at pixel x, the channel maxima of pixels x..x+3
// and x..x+15 (null when no piece reads them). Output (x, y) reads no
// element of `low` outside source columns [x + reachLeft, x + reachRight]
// and rows [y + reachUp, y + reachDown]; the maxima over that window bound
// what those elements can give.
template <typename Lane>
struct GatherPlanOf {
  const Lane* source = nullptr;
  const Lane* quads = nullptr;
  const Lane* sixteens = nullptr;
  intptr_t rowLanes = 0;
  intptr_t originLanes = 0;
  int32_t width = 0;
  int32_t height = 0;
  const GatherRowSpec* rows = nullptr;
  int32_t rowCount = 0;
  const int32_t* offsets = nullptr;
  const Lane* mul = nullptr;
  GatherLowOf<Lane> low;
  // dst holds nothing to keep: results are stored, not raised.
  bool overwrite = false;
  int32_t reachLeft = 0;
  int32_t reachRight = -1;
  int32_t reachUp = 0;
  int32_t reachDown = -1;
};
using GatherPlan = GatherPlanOf<uint16_t>;

// The widest vector any instruction set uses, in lanes.
constexpr int32_t kMaxVectorLanes = simd::kMaxLanes;

// The scratch a gather of up to `rows` output rows needs for its bounds
// (none without low elements), in rows of lanes that span a chunk and its
// window: the prefix and the suffix maxima each band row's window uses,
// a running row, and two rows for the doubling across. The source must
// carry kMaxVectorLanes readable lanes after its last row.
struct GatherScratch {
  size_t rowLanes = 0;
  size_t lanes = 0;
};

template <typename Lane>
GatherScratch GatherScratchFor(const GatherPlanOf<Lane>& plan, int32_t rows) {
  if (plan.low.groupCount == 0) return GatherScratch{};
  const size_t span = static_cast<size_t>(plan.reachRight - plan.reachLeft + 1);
  size_t power = 1;
  while (2 * power <= span) power *= 2;
  // 4 lanes per pixel over a chunk and its window, rounded up to whole
  // vectors, then room for the doubling's farthest read.
  const size_t lanes = 4 * (kGatherChunkPixels + span - 1);
  const size_t rowLanes = (lanes + kMaxVectorLanes - 1) / kMaxVectorLanes * kMaxVectorLanes +
                          4 * power + kMaxVectorLanes;
  return GatherScratch{rowLanes, rowLanes * (2 * static_cast<size_t>(rows) + 3)};
}

// Zero taps around a spread kernel, and scratch pixels after a spread row.
constexpr int32_t kRowPad = 8;

// One source pixel spread with a prepared kernel into a plane: kernel row
// rows[r].j covers kernel columns [first, first + count), whose lane
// weights start at tap `tap` of mul/hi after kRowPad zero taps (and are
// followed by as many). The kernel's top-left element lands on pixel
// (left, top) of the plane; taps outside it are dropped. Kernel columns
// [flatBegin, flatEnd) all weigh exactly 32768 (an empty range if none), so
// whole vectors inside them take the value as it is.
struct ScatterRow {
  int32_t j;
  int32_t first;
  int32_t count;
  int32_t tap;
  int32_t flatBegin;
  int32_t flatEnd;
};

// The image a scatter raises: width x height 16-bit pixels, rows rowBytes
// apart from data, kRowPad scratch pixels after each.
struct ScatterPlane {
  char* data;
  intptr_t rowBytes;
  int32_t width;
  int32_t height;
};

struct ScatterSource {
  ScatterPlane plane;
  int32_t left;
  int32_t top;
  const ScatterRow* rows;
  int32_t rowCount;
  const uint16_t* weights;  // per tap, 4 lanes each (see ScatterRow::tap); 0 for none
  uint16_t value[4];
};

// A run of neighbouring sources along one row that share a kernel, spread
// at once: `length` sources, the first of whose kernels has its top-left
// element on pixel (left, top) of the plane. A flat span of the kernel is
// spread as the running maximum of the run's values over the span's width,
// each other element as the run's values times its weight, one shifted row
// of them. `lanes` holds levels + 1 rows of `stride` lanes, at least
// 4 * (3 * pad + length) each. Row 0, filled by the caller, carries pad
// pixels of zeros, the run's pixels (zero for a source that raises
// nothing) and pad pixels of zeros again, pad at least twice the kernel's
// width plus two vectors; row m, which the spread writes, the maximum over
// 2^m pixels from each, correct wherever a span reads it.
struct ScatterSpan {
  int32_t j;      // kernel row
  int32_t i;      // first kernel column; every weight in [i, i + count) is 32768
  int32_t count;  // at least 2
  int32_t level;  // the largest m with 2^m <= count, at most ScatterRun::levels
};

// Neighbouring taps of one kernel row spread together, the largest of
// their products raising the row once: taps [first, first + count) of
// ScatterRun::taps, at columns i + offset, offsets up to reach. heavy: some
// tap weighs 32768 or more.
struct ScatterTap {
  int32_t offset;
  uint16_t mul;  // the weight as Lanes.h encodes it
  uint16_t hi;
};

struct ScatterTapGroup {
  int32_t j;
  int32_t i;
  int32_t first;
  int32_t count;
  int32_t reach;
  bool heavy;
};

struct ScatterRun {
  ScatterPlane plane;
  int32_t left;
  int32_t top;
  int32_t length;
  const ScatterSpan* spans;
  int32_t spanCount;
  const ScatterTapGroup* groups;
  int32_t groupCount;
  const ScatterTap* taps;
  int32_t levels;
  uint16_t* lanes;
  intptr_t stride;  // a multiple of kMaxVectorLanes
  int32_t pad;
};

// The candidate lists of one block of consecutive cells (one cell per
// lane, blockCells of them) of the control-layer separable path, kept
// transposed so that a source is offered to every cell of the block at once.
// Slot e holds entry e of every cell as kListArrays vectors: first-pass
// weights, the four channels, second-pass kernel indices. counts[j] entries
// of cell j are used; unused entries are zero. `used` is the largest count.
constexpr int32_t kListArrays = 6;

struct BlockLists {
  uint16_t* slots;
  int32_t capacity;  // slots
  int32_t used;
  uint16_t* counts;  // blockCells lanes
  // Null, or, where every entry listed reaches every record still to come
  // (records keyed by second-pass kernel, offered largest kernel first), the
  // largest value listed in each cell: four arrays of blockCells lanes, by
  // channel, zero before the first offer. A channel is then dominated
  // exactly when that value is at least its own, and the first-pass weights
  // are not kept.
  uint16_t* best;
};

// One source offered to a block: lane j reads its record for cell j from
// the first-pass kernel's lane arrays (zero where the kernel does not reach
// or weighs <= 0): key the first-pass weights, unread where the lists keep
// their cells' largest values (see BlockLists::best). Values come from
// mul/hi with the source's channels, or, when the lanes cannot hold them
// exactly, ready-made from exact[c].
struct BlockSource {
  const uint16_t* key;
  const uint16_t* mul;
  const uint16_t* hi;
  const uint16_t* exact[4];
  uint16_t value[4];
  uint16_t kernel;
};

using EntrySpread = void (*)(void* context, uint16_t kernel, const uint16_t* values);

// A second-pass kernel as spreadCells reads it: `length` taps, each tap's
// mulhi/hi operands four lanes wide with kRowPad zero taps on both sides,
// the taps of weight 32768 and more in [hiBegin, hiEnd).
struct SpreadKernel {
  int32_t length;
  const uint16_t* mul;
  const uint16_t* hi;
  int32_t hiBegin;
  int32_t hiEnd;
};

// One block's cells for spreadCells: cell j's row of the plane lies at
// plane + j * rowBytes, its pixel p the line p; lines [0, lineCount).
struct SpreadCellsBlock {
  char* plane;
  intptr_t rowBytes;
  int32_t cells;
  int32_t line;
  int32_t lineCount;
  const SpreadKernel* kernels;  // by kernel index
};

// One instruction set's loops.
struct Kernels2D {
  // Raises output rows [y, y + rows) (width pixels each, the first at `out`,
  // rowBytes apart) to the gathered maximum.
  // scratch holds GatherScratchFor(plan, rows).lanes lanes.
  void (*gatherRows8)(const GatherPlan& plan, int32_t y, int32_t rows, PF_Pixel* out,
                      intptr_t rowBytes, uint16_t* scratch);
  void (*gatherRows16)(const GatherPlan& plan, int32_t y, int32_t rows, PF_Pixel16* out,
                       intptr_t rowBytes, uint16_t* scratch);
  void (*gatherRowsFloat)(const GatherPlanOf<float>& plan, int32_t y, int32_t rows,
                          PF_PixelFloat* out, intptr_t rowBytes, float* scratch);
  // Pass 2 of a block along the second pass: each cell's listed entries,
  // merged by kernel (a cell lists the entries of one kernel together, as
  // they were offered), each merge spread over the lines its kernel reaches
  // centred on `line`. Those lines rise to value * tap: a span of one
  // vector or less in one vector from its first line, a longer one in whole
  // vectors on a grid from line 0, so that long spans of different kernels
  // meet in whole vectors; each row has kRowPad pixels of scratch after its
  // end.
  void (*spreadCells)(const BlockLists& lists, const SpreadCellsBlock& block);
  // Raises pixels [cell, cell + cells) of the rows [begin, end) of a plane
  // (rowBytes apart from `plane`, row `first` meeting tap 0 of the kernel)
  // to values * tap: values hold blockCells pixels, zero where a cell takes
  // no part. mul/hi are a SpreadKernel's; cells pass the row's end by
  // less than a vector, within its padding.
  void (*spreadAcross)(char* plane, intptr_t rowBytes, int32_t cell, int32_t cells, int32_t first,
                       int32_t begin, int32_t end, const uint16_t* mul, const uint16_t* hi,
                       const uint16_t* values);
  // Whole vectors on a grid from each row's start, as spreadCells.
  void (*scatterSource)(const ScatterSource& source);
  // Whole vectors on the same grid.
  void (*scatterRun)(const ScatterRun& run);
  // Cells per block for offerBlock (the lanes of one vector, a power of two).
  int32_t blockCells;
  // Offers sources [first, count) in turn to every cell of the block: a
  // record's channel is kept unless an entry already listed has at least
  // its weight (see BlockLists::best) and at least its value there; a
  // record with a kept channel is appended. `valid` masks the lanes that
  // are cells of the line. Answers count, or the source that found the
  // slots full (grow them and call again from there).
  int32_t (*offerBlock)(BlockLists& lists, const BlockSource* sources, int32_t first, int32_t count,
                        const uint16_t* valid);
  // Merges the listed entries of a block by second-pass kernel and hands
  // each kernel's merge to `spread`: the largest of every channel over the
  // cell's entries of that kernel, four lanes to a cell (spreadAcross's
  // values; zero where a cell has none). A kernel may be handed over more
  // than once (a few kernels are merged at a time); any split of a cell's
  // entries spreads the same maximum.
  void (*spreadEntries)(const BlockLists& lists, EntrySpread spread, void* context);
};

template <typename Pixel>
struct DepthKernels;
template <>
struct DepthKernels<PF_Pixel> {
  static auto Gather(const Kernels2D& k) { return k.gatherRows8; }
};
template <>
struct DepthKernels<PF_Pixel16> {
  static auto Gather(const Kernels2D& k) { return k.gatherRows16; }
};
template <>
struct DepthKernels<PF_PixelFloat> {
  static auto Gather(const Kernels2D& k) { return k.gatherRowsFloat; }
};

}  // namespace fastpath
