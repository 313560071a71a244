// The separable passes under a control layer, fast and with the image of
// the record algorithm.
//
// What the record algorithm keeps of a cell's records, channel by channel,
// does not depend on the order they arrive in: a record's channel survives
// exactly when no other record has at least its control value, its first-pass
// weight and its value there (ties between identical keys aside, which never
// change the image). Of two such records with the same second-pass kernel
// the weaker one is redundant, since a kernel's output grows with the value.
// So the records of a line are offered source by source in decreasing order
// of second-pass kernel index (a non-decreasing function of the control
// value, checked below): a channel is then dominated exactly when an entry
// already listed has at least its weight and its value, lists only grow,
// and each cell ends with every channel that can decide the image. Those
// are merged per kernel index and spread with vector lanes.
//
// Pass 1 runs on blocks of consecutive cells, one cell per vector lane, so
// that a source is offered to a whole block at once. Each source's kernels
// are chosen first, on the host's iterate threads where no choice can fail
// (else in the straightforward order, so failures follow that path); then
// the lines run on the host's iterate threads. The second pass
// writes a 16-bit copy of dst (or a slot's private plane of its layout),
// laid out so that its spans are contiguous, or under a smooth layer so
// that its rows are the lines (see SpreadAcrossBlock), and puts it back once
// every line is done.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <tuple>
#include <type_traits>
#include <vector>

#include "convolution/EnginePlan.h"
#include "convolution/FastShared.h"
#include "convolution/Slots.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/controllayer/KernelInterpolator.h"
#include "convolution/controllayer/VariablePasses.h"
#include "convolution/gather2d/Fast2D.h"
#include "convolution/separable/LinePlan.h"
#include "convolution/simd/Kernels.h"
#include "convolution/simd/Lanes.h"
#include "convolution/simd/Levels.h"
#include "image/AEException.h"
#include "image/Containers.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"

namespace fastpath {
namespace {

// A 1D kernel along its axis: taps[i * stride], i < length.
struct Axis {
  const int32_t* taps;
  intptr_t stride;
  int32_t length;
};

Axis AlongAxis(const KernelView& k) {
  const int32_t* origin = k.weights + static_cast<intptr_t>(k.originY) * k.rowStride + k.originX;
  if (k.width == 1) return Axis{origin, k.rowStride, k.height};
  return Axis{origin, 1, k.width};
}

// The largest weight of all rungs of a first-pass ladder: the rungs share
// one store of rowStride columns, Count() bands apart (see
// KernelInterpolator). 0 when the store is not laid out that way or a rung
// could lie across the line (a store wider than one column for lines down
// the image, bands taller than one row for lines along it).
int32_t LadderPeak(const KernelInterpolator& ladder, bool alongRows) {
  const int32_t count = ladder.Count();
  const KernelView& first = ladder.Smallest();
  const KernelView& last = ladder.Largest();
  if (count < 2 || first.weights == nullptr || first.weights != last.weights ||
      first.originY != 0 || last.kernelIndex != count - 1 || last.originY % (count - 1) != 0 ||
      first.rowStride != last.rowStride) {
    return 0;
  }
  const int32_t bands = last.originY / (count - 1);
  if ((alongRows ? bands : last.rowStride) != 1) return 0;
  const int64_t cells = static_cast<int64_t>(bands) * count * last.rowStride;
  int32_t peak = 0;
  for (int64_t n = 0; n < cells; ++n) peak = std::max(peak, first.weights[n]);
  return peak;
}

// Second-pass kernels by record control value (every value a source can
// carry, as 16 bits).
struct SecondPass {
  std::vector<uint16_t> kernelOf;  // by control value
  // By kernel index: each kernel as both spreads read it (length 0 for an
  // index no control value gets), and the storage of its lane operands.
  std::vector<SpreadKernel> spreads;
  struct Operands {
    std::vector<uint16_t> mul;
    std::vector<uint16_t> hi;
  };
  std::vector<Operands> operands;
  int32_t peak = 0;
  // Every kernel reaches, tap by tap, at least as far as any smaller one
  // (see Covering).
  bool covering = false;
  // Control value 0 gets the single tap of 32768, and every kernel weighs at
  // least 32768 at its centre (see OwnCell).
  bool ownCellAtZero = false;
};

// Whether each kernel, centred, weighs at least as much as the one before it
// at every offset (weights <= 0 counting as 0). Then a record of larger
// control value and at least the value gives at least as much everywhere,
// so whatever the record merge drops was covered, and the image is the
// plain maximum over every record: records may then be merged by second-pass
// kernel alone, and a run of sources of one kernel pair taken as a whole.
bool Covering(const std::vector<KernelView>& views) {
  for (size_t k = 1; k < views.size(); ++k) {
    const Axis small = AlongAxis(views[k - 1]);
    const Axis large = AlongAxis(views[k]);
    const int32_t shift = large.length / 2 - small.length / 2;
    for (int32_t i = 0; i < small.length; ++i) {
      const int32_t w = small.taps[i * small.stride];
      const int32_t at = i + shift;
      const int32_t covering =
          at < 0 || at >= large.length ? 0 : std::max(large.taps[at * large.stride], 0);
      if (w > covering) return false;
    }
  }
  return true;
}

// Whether a view lies along the second pass's axis: one column when the
// pass runs down the image, one row when it runs across.
bool AlongSecondPass(const KernelView& k, bool down) {
  return k.width >= 1 && k.height >= 1 && (down ? k.width : k.height) == 1;
}

// The kernel index no ladder gives: the view is not along the second pass's
// axis, or its index does not fit a choice's 16 bits.
constexpr uint16_t kNotAlong = UINT16_MAX;

// The second-pass kernel index of every control value a source can carry,
// looked up on the host's threads (the lookups only read the ladder).
template <typename Pixel>
struct ControlLookups {
  const BCLHolder* holder;
  uint16_t* index;
  int32_t controls;
  bool down;
  int32_t calls;

  static PF_Err Function(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    const auto& self = *static_cast<const ControlLookups*>(refcon);
    const RowShare share = ShareOfRow(y, self.calls, self.controls);
    for (int32_t c = share.first; c < share.end; ++c) {
      const KernelView k = self.holder->KernelForControl(c);
      const bool fits = k.kernelIndex >= 0 && k.kernelIndex < kNotAlong;
      self.index[c] =
          AlongSecondPass(k, self.down) && fits ? static_cast<uint16_t>(k.kernelIndex) : kNotAlong;
    }
    return PF_Err_NONE;
  }
};

// Two bytes per control value rather than a whole view (32), made on the
// calling thread before the lookups, so that its first touch is time no
// other thread shares.
template <typename Pixel>
void KernelsByControl(PF_InData* inData, PF_EffectWorld* src, PF_EffectWorld* dst,
                      const BCLHolder& holder, int32_t controls, bool down,
                      std::vector<uint16_t>& kernelOf) {
  kernelOf.assign(static_cast<size_t>(controls), kNotAlong);
  ControlLookups<Pixel> lookups{&holder, kernelOf.data(), controls, down,
                                std::min({dst->height, controls, 64})};
  RaiseIfHostFailed(IterateRows<Pixel>(inData, 0, lookups.calls, src, lookups.calls, &lookups,
                                       ControlLookups<Pixel>::Function, dst));
}

// False when some control value would get a kernel the lanes cannot stand
// in for: not along the second-pass axis, outside the ladder, or a smaller
// kernel than a smaller control value gets.
bool PrepareSecondPass(const BCLHolder& holder, SecondPass& pass) {
  std::vector<KernelView> views;
  const int32_t count = holder.Interpolator().Count();
  const auto controls = static_cast<int32_t>(pass.kernelOf.size());
  pass.spreads.assign(static_cast<size_t>(std::max(count, 0)), SpreadKernel{});
  pass.operands.assign(pass.spreads.size(), SecondPass::Operands{});
  int32_t previous = 0;
  int32_t lightestCentre = INT32_MAX;
  for (int32_t control = 0; control < controls; ++control) {
    const int32_t index = pass.kernelOf[static_cast<size_t>(control)];
    if (index == kNotAlong || index < previous || index >= count) return false;
    previous = index;
    SpreadKernel& kernel = pass.spreads[static_cast<size_t>(index)];
    if (kernel.length > 0) continue;
    SecondPass::Operands& operands = pass.operands[static_cast<size_t>(index)];
    // The view the lookup met first for this kernel.
    const KernelView k = holder.KernelForControl(control);
    views.push_back(k);
    const Axis axis = AlongAxis(k);
    operands.mul.assign(4 * (static_cast<size_t>(axis.length) + 2 * kRowPad), 0);
    operands.hi.assign(operands.mul.size(), 0);
    kernel = SpreadKernel{axis.length, operands.mul.data(), operands.hi.data(), axis.length, 0};
    lightestCentre = std::min(lightestCentre, axis.taps[axis.length / 2 * axis.stride]);
    for (int32_t i = 0; i < axis.length; ++i) {
      const int32_t w = axis.taps[i * axis.stride];
      pass.peak = std::max(pass.peak, w);
      std::fill_n(operands.mul.begin() + 4 * (i + kRowPad), 4, simd::WeightMul(w));
      std::fill_n(operands.hi.begin() + 4 * (i + kRowPad), 4, simd::WeightHi(w));
      if (simd::WeightHi(w) != 0) {
        kernel.hiBegin = std::min(kernel.hiBegin, i);
        kernel.hiEnd = i + 1;
      }
    }
  }
  pass.covering = Covering(views);
  const Axis atZero = AlongAxis(views.front());
  pass.ownCellAtZero = atZero.length == 1 && atZero.taps[0] == 32768 && lightestCentre >= 32768;
  return true;
}

// The candidate lists of one block of cells (see BlockLists), grown when
// a cell runs out of slots.
class BlockStore {
 public:
  explicit BlockStore(int32_t cells)
      : lanes(cells), counts(static_cast<size_t>(cells), 0), best(4 * counts.size(), 0) {
    slots.assign(static_cast<size_t>(kInitialSlots) * kListArrays * lanes, 0);
    lists = BlockLists{slots.data(), kInitialSlots, 0, counts.data(), nullptr};
  }

  BlockLists& Lists() { return lists; }

  // Whether the block's records meet by second-pass kernel alone, largest
  // first (see BlockLists::best); set before the first offer.
  void KeyByKernel(bool byKernel) { lists.best = byKernel ? best.data() : nullptr; }

  void Grow() {
    slots.resize(2 * slots.size(), 0);
    lists.slots = slots.data();
    lists.capacity *= 2;
  }

  void Clear() {
    std::fill_n(slots.begin(), static_cast<size_t>(lists.used) * kListArrays * lanes, 0);
    std::fill(counts.begin(), counts.end(), 0);
    if (lists.best != nullptr) std::fill(best.begin(), best.end(), 0);
    lists.used = 0;
  }

 private:
  static constexpr int32_t kInitialSlots = 16;
  int32_t lanes;
  std::vector<uint16_t> counts;
  std::vector<uint16_t> best;
  std::vector<uint16_t> slots;
  BlockLists lists{};
};

// The widest block of cells any instruction set offers at once: lane
// arrays carry this many zero lanes on each side.
constexpr int32_t kMaxBlock = 32;

// A first-pass kernel as lane arrays, one lane per tap, kMaxBlock zero
// lanes before and after: (uint16) weight (0 where the weight is <= 0), and
// its mulhi/hi operands.
struct FirstPassLanes {
  bool prepared = false;
  bool singleFullTap = false;  // the one tap of 32768
  int32_t length = 0;
  std::vector<uint16_t> key;
  std::vector<uint16_t> mul;
  std::vector<uint16_t> hi;
  std::vector<int32_t> weights;
};

// A first-pass rung as a line-kernel program for whole runs of sources
// (records from the lanes only): a line folded into kLineLanes / 4 pieces of
// `chunk` cells, one piece per group of four lanes, so that one job covers
// a whole line. Odd lengths only: the gather then reads the scatter's taps.
struct RunPlan {
  bool ok = false;
  LinePlan plan;
  int32_t taps = 0;
  int32_t chunk = 0;
};

constexpr int32_t kPieces = kLineLanes / 4;

struct LineSource {
  int32_t position;
  uint16_t kernel;
  int32_t rung;  // first-pass lanes
  const FirstPassLanes* lanes;
  uint16_t channel[4];  // alpha, red, green, blue, as a pixel of the run buffer holds them
};

// Under a ladder that does not cover, a run's merged records stand for its
// sources' only in cells that no other run class reaches (pure blocks, see
// MarkMixedBlocks); elsewhere the sources are offered one by one.
enum : uint8_t { kEveryBlock, kPureBlocks, kMixedBlocks };

// What pass 1 offers to the cells [from, to) of a line: one source's
// records, or (source null) the records of a run class taken as a whole,
// its channel values ready in a row of the worker's run buffer.
struct LineItem {
  int32_t from;
  int32_t to;
  uint16_t kernel;
  const LineSource* source;
  int32_t row;
  uint8_t blocks = kEveryBlock;  // which of the blocks it reaches take it
};

// What a line needs of one of its sources, worked out for the whole image
// before the lines run: its first-pass lanes (VariableRun::Lanes), or
// kBlackSource for a source that raises nothing, or kOwnCell; and its
// second-pass kernel. The channels stay in src: a frame's worth of choices
// is written once and read once, so every byte of it costs a page and a
// trip through memory: four bytes, since lane indices fit in 16 bits (a
// ladder has at most a slider's 1000 rungs, and LanesOf shares the lanes of
// equal views outside it).
struct SourceChoice {
  int16_t lanes;
  uint16_t kernel;
};

constexpr int32_t kBlackSource = -1;

// A source of control value 0 whose first pass is the single tap of 32768,
// when the second pass gives control 0 that tap too and weighs at least
// 32768 at the centre of every kernel: its one record (weight 32768, control
// 0, its own values v) dominates only records of control 0, which the
// second pass keeps to their own cell, at most v there; and a record that
// dominates it spreads at least v into its cell. So the record can go, and
// the source raises its own pixel instead: (32768 * ((32768 * v) >> 15)) >>
// 15 = v.
constexpr int32_t kOwnCell = -2;

template <typename Pixel>
class VariableRun;

// The scratch of one slot: the lines a call owns run here, into the slot's
// plane.
template <typename Pixel>
class LineWorker {
 public:
  explicit LineWorker(const VariableRun<Pixel>& owner)
      : run(owner),
        store(owner.kernels.blockCells),
        valid(static_cast<size_t>(owner.kernels.blockCells), 0) {}

  void Line(int32_t line, SlotPlanes& planes, int32_t slot) {
    SortLine(line, planes, slot);
    const int32_t blockCells = run.kernels.blockCells;
    const int32_t blocks = (run.lineLength + blockCells - 1) / blockCells;
    for (int32_t b = 0; b < blocks; ++b) {
      OfferBlock(b);
      if (run.acrossLines) {
        SpreadAcrossBlock(line, b, planes, slot);
      } else {
        SpreadBlock(line, b, planes, slot);
      }
      store.Clear();
    }
  }

 private:
  // A stretch of neighbouring sources of one kernel pair: positions
  // [from, to) of the line.
  struct Segment {
    int32_t from;
    int32_t to;
    int16_t lanes;
    uint16_t kernel;
  };

  // Every source of the line with its kernels, strongest second-pass kernel
  // first, and which of them reach each block.
  void SortLine(int32_t line, SlotPlanes& planes, int32_t slot) {
    const int32_t lineLength = run.lineLength;
    const SourceChoice* choice = run.choices.get() + static_cast<size_t>(line) * lineLength;
    // Source p of the line: a row's pixels lie side by side, a column's a
    // row apart.
    linePixels = reinterpret_cast<const char*>(run.src->data);
    lineStep = run.src->rowbytes;
    if (run.firstIsHorizontal) {
      linePixels += static_cast<intptr_t>(line) * run.src->rowbytes;
      lineStep = sizeof(Pixel);
    } else {
      linePixels += static_cast<intptr_t>(line) * static_cast<intptr_t>(sizeof(Pixel));
    }
    // The choices alone make the segments, so that a run's pixels are read
    // only where its records are made.
    segments.clear();
    for (int32_t p = 0; p < lineLength; ++p) {
      // Down a column every source lies on a page of its own, which the
      // processor's prefetchers do not follow.
      if (p + kPrefetchSources < lineLength) {
        __builtin_prefetch(linePixels + (p + kPrefetchSources) * lineStep);
      }
      const SourceChoice& c = choice[p];
      if (c.lanes == kBlackSource) continue;
      if (c.lanes == kOwnCell) {
        const Pixel s = LinePixel(p);
        PF_Pixel16& d = run.acrossLines ? planes.Row(slot, line)[p] : planes.Row(slot, p)[line];
        d.alpha = std::max<uint16_t>(d.alpha, s.alpha);
        d.red = std::max<uint16_t>(d.red, s.red);
        d.green = std::max<uint16_t>(d.green, s.green);
        d.blue = std::max<uint16_t>(d.blue, s.blue);
        continue;
      }
      if (!segments.empty()) {
        Segment& last = segments.back();
        if (last.to == p && last.lanes == c.lanes && last.kernel == c.kernel) {
          ++last.to;
          continue;
        }
      }
      segments.push_back(Segment{p, p + 1, c.lanes, c.kernel});
    }
    // Items point into `sources`, which must not move.
    sources.clear();
    sources.reserve(static_cast<size_t>(lineLength));
    items.clear();
    rows = 0;
    const int32_t blockCells = run.kernels.blockCells;
    const int32_t blocks = (lineLength + blockCells - 1) / blockCells;
    mixed.assign(static_cast<size_t>(blocks), 0);
    if (!run.exactRecords && (run.pass2.covering || !SeldomShared())) {
      TakeRuns();
      classesKnown = true;
    } else {
      classesKnown = false;
      for (const Segment& s : segments) {
        for (int32_t p = s.from; p < s.to; ++p) items.push_back(ItemOf(Listed(p, s)));
      }
    }
    bucketStart.assign(run.pass2.spreads.size() + 1, 0);
    for (const LineItem& item : items) ++bucketStart[item.kernel];
    int32_t start = 0;
    for (size_t k = bucketStart.size(); k-- > 0;) {
      const int32_t n = bucketStart[k];
      bucketStart[k] = start;
      start += n;
    }
    ordered.resize(items.size());
    for (const LineItem& item : items) {
      ordered[static_cast<size_t>(bucketStart[item.kernel]++)] = &item;
    }

    blockStart.assign(static_cast<size_t>(blocks) + 1, 0);
    for (const LineItem* item : ordered) {
      const BlockSpan span = BlocksOf(item->from, item->to);
      for (int32_t b = span.first; b <= span.last; ++b) {
        if (Takes(b, *item)) ++blockStart[static_cast<size_t>(b) + 1];
      }
    }
    for (size_t b = 1; b < blockStart.size(); ++b) blockStart[b] += blockStart[b - 1];
    blockItems.resize(static_cast<size_t>(blockStart.back()));
    blockFill.assign(blockStart.begin(), blockStart.end() - 1);
    for (const LineItem* item : ordered) {
      const BlockSpan span = BlocksOf(item->from, item->to);
      for (int32_t b = span.first; b <= span.last; ++b) {
        if (Takes(b, *item)) {
          blockItems[static_cast<size_t>(blockFill[static_cast<size_t>(b)]++)] = item;
        }
      }
    }
  }

  // The blocks [first, last] that cells [from, to) lie in; none when the
  // cells are none.
  struct BlockSpan {
    int32_t first;
    int32_t last;
  };
  BlockSpan BlocksOf(int32_t from, int32_t to) const {
    const int32_t first = from >> run.blockShift;
    return BlockSpan{first, to <= from ? first - 1 : (to - 1) >> run.blockShift};
  }

  // Mixed blocks among those that cells [from, to) lie in (after
  // MarkMixedBlocks).
  int32_t MixedBlocks(const BlockSpan& span) const {
    if (span.last < span.first) return 0;
    return mixedBefore[static_cast<size_t>(span.last) + 1] -
           mixedBefore[static_cast<size_t>(span.first)];
  }

  bool Takes(int32_t b, const LineItem& item) const {
    return item.blocks == kEveryBlock || (item.blocks == kMixedBlocks) == (mixed[b] != 0);
  }

  // Whether block b's records meet by second-pass kernel alone: under a
  // covering ladder everywhere; otherwise only where every cell hears from
  // one run class at most, so that all its records share a second-pass
  // kernel, and the strongest value of each channel is all that kernel can
  // spread. Then no first-pass weight need be compared, only each cell's
  // largest value so far.
  bool Keyed(int32_t b) const { return classesKnown && mixed[static_cast<size_t>(b)] == 0; }

  // Marks the blocks where the records of two run classes meet in a cell;
  // a class reaches the union of its sources' cells, which, its sources
  // sharing their taps and lying in order, closes up from left to right.
  void MarkMixedBlocks() {
    const int32_t lineLength = run.lineLength;
    cover.assign(static_cast<size_t>(lineLength) + 1, 0);
    auto close = [&](Class& k) {
      if (k.coverTo <= k.coverFrom) return;
      ++cover[static_cast<size_t>(k.coverFrom)];
      --cover[static_cast<size_t>(k.coverTo)];
    };
    for (size_t n = 0; n < segments.size(); ++n) {
      const Segment& s = segments[n];
      Class& k = classes[static_cast<size_t>(segmentClass[n])];
      const CellSpan reach = CellsOf(s.from, s.to, run.Lanes(s.lanes).length);
      if (reach.to <= reach.from) continue;
      if (reach.from > k.coverTo) {
        close(k);
        k.coverFrom = reach.from;
      }
      k.coverTo = std::max(k.coverTo, reach.to);
    }
    for (Class& k : classes) close(k);
    const int32_t blockCells = run.kernels.blockCells;
    int32_t classesHere = 0;
    for (int32_t cell = 0; cell < lineLength; ++cell) {
      classesHere += cover[static_cast<size_t>(cell)];
      if (classesHere > 1) mixed[static_cast<size_t>(cell / blockCells)] = 1;
    }
    mixedBefore.assign(mixed.size() + 1, 0);
    for (size_t b = 0; b < mixed.size(); ++b) mixedBefore[b + 1] = mixedBefore[b] + mixed[b];
  }

  // Whether few sources share the kernel pair of the source before (a noisy
  // layer's line): under a ladder that does not cover, such a line has no
  // run worth its classes.
  bool SeldomShared() const {
    size_t same = 0;
    size_t count = 0;
    for (size_t n = 0; n < segments.size(); ++n) {
      const Segment& s = segments[n];
      const auto length = static_cast<size_t>(s.to - s.from);
      count += length;
      same += length - 1;
      if (n > 0) same += s.lanes == segments[n - 1].lanes && s.kernel == segments[n - 1].kernel;
    }
    return 4 * same < count;
  }

  // The cells that sources at positions [from, to) of the line reach with
  // first-pass lanes of `length` taps.
  struct CellSpan {
    int32_t from;
    int32_t to;
  };
  CellSpan CellsOf(int32_t from, int32_t to, int32_t length) const {
    return CellSpan{std::max(0, from - length / 2),
                    std::min(run.lineLength, to - 1 - length / 2 + length)};
  }

  LineItem ItemOf(const LineSource& s) const {
    const CellSpan cells = CellsOf(s.position, s.position + 1, s.lanes->length);
    return LineItem{cells.from, cells.to, s.kernel, &s, -1};
  }

  // Source p of the line, the masked pixel as the straightforward loops read
  // it.
  Pixel LinePixel(int32_t p) const {
    return run.Masked(*reinterpret_cast<const Pixel*>(linePixels + p * lineStep));
  }

  // Source p of segment s, listed to be offered on its own.
  const LineSource& Listed(int32_t p, const Segment& s) {
    const Pixel v = LinePixel(p);
    sources.push_back(
        LineSource{p, s.kernel, s.lanes, &run.Lanes(s.lanes), {v.alpha, v.red, v.green, v.blue}});
    return sources.back();
  }

  // Sources of one kernel pair that fill enough of the line go through the
  // line kernel together; the rest are offered one by one.
  void TakeRuns() {
    const auto kernelCount = static_cast<int32_t>(run.pass2.spreads.size());
    classes.clear();
    segmentClass.resize(segments.size());
    // A segment cut from the one before by a black source or an own cell
    // mostly shares its kernels, so the class of the segment before is tried
    // first.
    size_t lastKey = SIZE_MAX;
    int32_t cls = -1;
    for (size_t n = 0; n < segments.size(); ++n) {
      const Segment& s = segments[n];
      const size_t key = static_cast<size_t>(s.lanes) * kernelCount + s.kernel;
      if (key != lastKey) {
        if (key >= classOf.size()) classOf.resize(key + 1, -1);
        if (classOf[key] < 0) {
          classOf[key] = static_cast<int32_t>(classes.size());
          const auto index = static_cast<int32_t>(n);
          classes.push_back(Class{s.lanes, s.kernel, 0, s.from, s.from, index, index, -1, 0, 0});
        }
        cls = classOf[key];
        lastKey = key;
      }
      Class& k = classes[static_cast<size_t>(cls)];
      k.count += s.to - s.from;
      k.last = s.to - 1;
      k.lastIndex = static_cast<int32_t>(n);
      segmentClass[n] = cls;
    }
    const bool covering = run.pass2.covering;
    if (!covering) MarkMixedBlocks();
    rows = 0;
    for (size_t c = 0; c < classes.size(); ++c) {
      Class& k = classes[c];
      classOf[static_cast<size_t>(k.rung) * kernelCount + k.kernel] = -1;
      const RunPlan* plan = run.RunPlanOf(k.rung);
      // A run class costs a job of chunk + taps - 1 positions, a source about
      // its taps' records in a few blocks; and a line with a run offers all
      // its records by kernel, which costs more per record, so scattered
      // classes (a noisy layer's) stay records.
      if (plan == nullptr || k.count * kRunGain < plan->chunk + plan->taps ||
          2 * k.count < k.last - k.first + 1) {
        continue;
      }
      const int32_t half = plan->taps / 2;
      const int32_t from = std::max(0, k.first - half);
      const int32_t to = std::min(run.lineLength, k.last - half + plan->taps);
      if (!covering) {
        // A run that reaches only mixed blocks would be offered nowhere.
        const BlockSpan span = BlocksOf(from, to);
        if (MixedBlocks(span) == span.last - span.first + 1) continue;
      }
      k.row = TakeRun(*plan, k.first, k.last, [&](auto&& put) {
        for (auto n = static_cast<size_t>(k.firstIndex); n <= static_cast<size_t>(k.lastIndex);
             ++n) {
          if (segmentClass[n] != static_cast<int32_t>(c)) continue;
          for (int32_t p = segments[n].from; p < segments[n].to; ++p) put(p, LinePixel(p));
        }
      });
      if (k.row < 0) continue;
      items.push_back(
          LineItem{from, to, k.kernel, nullptr, k.row, covering ? kEveryBlock : kPureBlocks});
    }
    for (size_t n = 0; n < segments.size(); ++n) {
      const Segment& s = segments[n];
      if (classes[static_cast<size_t>(segmentClass[n])].row < 0) {
        for (int32_t p = s.from; p < s.to; ++p) items.push_back(ItemOf(Listed(p, s)));
      } else if (!covering && mixedBefore.back() > 0) {
        // Of a run's sources, those that reach a mixed block are offered
        // there on their own.
        const int32_t length = run.Lanes(s.lanes).length;
        const CellSpan all = CellsOf(s.from, s.to, length);
        if (MixedBlocks(BlocksOf(all.from, all.to)) == 0) continue;
        for (int32_t p = s.from; p < s.to; ++p) {
          const CellSpan cells = CellsOf(p, p + 1, length);
          if (MixedBlocks(BlocksOf(cells.from, cells.to)) == 0) continue;
          LineItem item = ItemOf(Listed(p, s));
          item.blocks = kMixedBlocks;
          items.push_back(item);
        }
      }
    }
  }

  // The first pass of the sources that `each` lists, all of one rung and in
  // order along the line, into a fresh row of the run buffer: channel c of
  // cell q at runValues[(row * 4 + c) * RowLanes() + q]. Answers the row, or
  // -1 when a value is too large for the line kernel.
  template <typename Each>
  int32_t TakeRun(const RunPlan& plan, int32_t first, int32_t last, Each&& each) {
    const int32_t half = plan.taps / 2;
    const int32_t from = std::max(0, first - half);
    const int32_t to = std::min(run.lineLength, last - half + plan.taps);
    const int32_t chunk = plan.chunk;
    const int32_t inCount = plan.plan.InCount();
    lineScratch.resize(plan.plan.JobPositions() * kLineLanes);
    uint16_t* in = lineScratch.data();
    std::fill_n(in, static_cast<size_t>(inCount) * kLineLanes, uint16_t{0});
    // Piece k starts at cell from + k * chunk; its input position i is cell
    // from + k * chunk - half + i. `each` lists the sources along the line,
    // so the last piece that starts at or before a source only moves on; the
    // source lies in that piece and, where windows overlap, in the ones
    // before it.
    int32_t piece = 0;
    each([&](int32_t position, const Pixel& v) {
      const uint16_t channel[4] = {v.alpha, v.red, v.green, v.blue};
      const int32_t i0 = position - from + half;
      while (piece + 1 < kPieces && i0 >= (piece + 1) * chunk) ++piece;
      for (int32_t k = piece; k >= 0; --k) {
        const int32_t i = i0 - k * chunk;
        if (i >= inCount) break;
        uint16_t* at = in + static_cast<size_t>(i) * kLineLanes + 4 * k;
        std::copy_n(channel, 4, at);
      }
    });
    LineJob job{};
    job.program = plan.plan.Program();
    job.in = in;
    job.inCount = inCount;
    job.count = chunk;
    job.out = in + (plan.plan.JobPositions() - static_cast<size_t>(chunk)) * kLineLanes;
    job.valueLimit = plan.plan.ValueLimit();
    if (!run.lineFunction(job)) return -1;
    const size_t lanes = RowLanes();
    const int32_t row = rows++;
    runValues.resize(std::max(runValues.size(), static_cast<size_t>(rows) * 4 * lanes));
    uint16_t* values = runValues.data() + static_cast<size_t>(row) * 4 * lanes;
    std::fill_n(values, 4 * lanes, uint16_t{0});
    for (int32_t k = 0; k < kPieces; ++k) {
      for (int32_t x = 0; x < chunk; ++x) {
        const int32_t cell = from + k * chunk + x;
        if (cell >= to) break;
        const uint16_t* v = job.out + static_cast<size_t>(x) * kLineLanes + 4 * k;
        for (int32_t c = 0; c < 4; ++c) values[static_cast<size_t>(c) * lanes + cell] = v[c];
      }
    }
    return row;
  }

  // Cells of a run row, whole blocks and one more.
  size_t RowLanes() const {
    const int32_t blockCells = run.kernels.blockCells;
    return static_cast<size_t>((run.lineLength + blockCells - 1) / blockCells + 1) * blockCells;
  }

  static constexpr int32_t kRunGain = 4;
  static constexpr int32_t kPrefetchSources = 32;

  // Pass 1 for the cells of block b.
  void OfferBlock(int32_t b) {
    const int32_t blockCells = run.kernels.blockCells;
    const int32_t cell0 = b * blockCells;
    for (int32_t j = 0; j < blockCells; ++j) {
      valid[static_cast<size_t>(j)] = cell0 + j < run.lineLength ? uint16_t{0xFFFF} : uint16_t{0};
    }
    const int32_t from = blockStart[static_cast<size_t>(b)];
    const int32_t count = blockStart[static_cast<size_t>(b) + 1] - from;
    offered.resize(static_cast<size_t>(count));
    if (run.exactRecords) exact.resize(static_cast<size_t>(count) * 4 * blockCells);
    const bool keyed = Keyed(b);
    store.KeyByKernel(keyed);
    for (int32_t n = 0; n < count; ++n) {
      const LineItem& item = *blockItems[static_cast<size_t>(from + n)];
      BlockSource& o = offered[static_cast<size_t>(n)];
      if (keyed) {
        // Records meet by second-pass kernel alone (see Covering), offered
        // largest kernel first.
        OfferByKernel(item, cell0, o);
        continue;
      }
      const LineSource& s = *item.source;
      const FirstPassLanes& l = *s.lanes;
      // Lane j is cell cell0 + j, tap cell0 + j - firstCell.
      const size_t lane0 = static_cast<size_t>(cell0 - (s.position - l.length / 2) + kMaxBlock);
      o.key = l.key.data() + lane0;
      o.mul = l.mul.data() + lane0;
      o.hi = l.hi.data() + lane0;
      std::copy_n(s.channel, 4, o.value);
      o.kernel = s.kernel;
      if (run.exactRecords) {
        // Values cut to the channel, as the records hold them.
        o.mul = nullptr;
        o.hi = nullptr;
        constexpr int32_t kMask = kStorableMax<Pixel>;
        for (int32_t c = 0; c < 4; ++c) {
          uint16_t* lanes = exact.data() + (static_cast<size_t>(n) * 4 + c) * blockCells;
          for (int32_t j = 0; j < blockCells; ++j) {
            const int32_t w = l.weights[lane0 + static_cast<size_t>(j)];
            lanes[j] =
                w <= 0 ? uint16_t{0} : static_cast<uint16_t>(MulQ15(w, s.channel[c]) & kMask);
          }
          o.exact[c] = lanes;
        }
      }
    }
    for (int32_t n = 0; n < count;) {
      n = run.kernels.offerBlock(store.Lists(), offered.data(), n, count, valid.data());
      if (n < count) store.Grow();
    }
  }

  void OfferByKernel(const LineItem& item, int32_t cell0, BlockSource& o) {
    o.key = nullptr;
    o.mul = nullptr;
    o.hi = nullptr;
    o.kernel = item.kernel;
    if (item.source == nullptr) {
      const size_t lanes = RowLanes();
      const uint16_t* values = runValues.data() + static_cast<size_t>(item.row) * 4 * lanes + cell0;
      for (int32_t c = 0; c < 4; ++c) o.exact[c] = values + static_cast<size_t>(c) * lanes;
      return;
    }
    const LineSource& s = *item.source;
    const FirstPassLanes& l = *s.lanes;
    const size_t lane0 = static_cast<size_t>(cell0 - (s.position - l.length / 2) + kMaxBlock);
    // Covering needs the records as the lanes make them, and the lanes weigh
    // them from these operands (zero where a weight is <= 0).
    o.mul = l.mul.data() + lane0;
    o.hi = l.hi.data() + lane0;
    std::copy_n(s.channel, 4, o.value);
  }

  // Pass 2: each cell's entries, merged per kernel index, spread across the
  // lines from this one.
  void SpreadBlock(int32_t line, int32_t b, SlotPlanes& planes, int32_t slot) {
    const int32_t cell0 = b * run.kernels.blockCells;
    const SpreadCellsBlock block{reinterpret_cast<char*>(planes.Row(slot, cell0)),
                                 planes.RowBytes(),
                                 std::min(run.kernels.blockCells, run.lineLength - cell0),
                                 line,
                                 run.lineCount,
                                 run.pass2.spreads.data()};
    run.kernels.spreadCells(store.Lists(), block);
  }

  // Pass 2 on a plane of lines: the block's entries, merged per kernel index
  // across its cells, spread down the lines a vector of cells at a time.
  void SpreadAcrossBlock(int32_t line, int32_t b, SlotPlanes& planes, int32_t slot) {
    const int32_t cell0 = b * run.kernels.blockCells;
    AcrossBlock block{
        this, line, cell0, std::min(run.kernels.blockCells, run.lineLength - cell0), &planes, slot};
    run.kernels.spreadEntries(store.Lists(), &AcrossBlock::Spread, &block);
  }

  struct AcrossBlock {
    const LineWorker* worker;
    int32_t line;
    int32_t cell0;
    int32_t cells;
    SlotPlanes* planes;
    int32_t slot;

    static void Spread(void* context, uint16_t kernel, const uint16_t* values) {
      const auto& self = *static_cast<const AcrossBlock*>(context);
      const VariableRun<Pixel>& run = self.worker->run;
      const SpreadKernel& k2 = run.pass2.spreads[kernel];
      const LinesReached at = self.worker->Reached(self.line, k2);
      if (at.begin >= at.end) return;
      run.kernels.spreadAcross(self.planes->Data(self.slot), self.planes->RowBytes(), self.cell0,
                               self.cells, at.tap0, at.begin, at.end, k2.mul, k2.hi, values);
    }
  };

  // The lines a second-pass kernel centred on `line` reaches, [begin, end),
  // and the line its tap 0 meets (possibly outside the image).
  struct LinesReached {
    int32_t tap0;
    int32_t begin;
    int32_t end;
  };
  LinesReached Reached(int32_t line, const SpreadKernel& k2) const {
    const int32_t tap0 = line - k2.length / 2;
    return LinesReached{tap0, std::max(0, tap0), std::min(run.lineCount, tap0 + k2.length)};
  }

  const VariableRun<Pixel>& run;
  BlockStore store;
  std::vector<uint16_t> valid;
  std::vector<Segment> segments;
  const char* linePixels = nullptr;  // source 0 of the line, lineStep bytes apart
  intptr_t lineStep = 0;
  std::vector<LineSource> sources;  // those offered on their own
  std::vector<LineItem> items;
  std::vector<const LineItem*> ordered;
  std::vector<int32_t> bucketStart;
  std::vector<int32_t> blockStart;
  std::vector<int32_t> blockFill;
  std::vector<const LineItem*> blockItems;
  std::vector<BlockSource> offered;
  std::vector<uint16_t> exact;
  // Run classes of the line.
  std::vector<int32_t> classOf;  // by rung and kernel, -1 when absent
  std::vector<int32_t> segmentClass;
  // Sources of one kernel pair on the line; row: where their run went, or -1.
  struct Class {
    int32_t rung;
    uint16_t kernel;
    int32_t count;
    int32_t first;  // positions of the first and last member
    int32_t last;
    int32_t firstIndex;  // and the indices of their segments
    int32_t lastIndex;
    int32_t row;
    int32_t coverFrom;  // the cells its sources reach so far (MarkMixedBlocks)
    int32_t coverTo;
  };
  std::vector<Class> classes;
  std::vector<uint16_t> lineScratch;
  std::vector<uint16_t> runValues;
  int32_t rows = 0;
  bool classesKnown = false;         // the line's run classes and mixed blocks (see Keyed)
  std::vector<uint8_t> mixed;        // by block
  std::vector<int32_t> mixedBefore;  // mixed blocks before each block
  std::vector<int32_t> cover;
};

template <typename Pixel>
class VariableRun {
 public:
  VariableRun(PF_EffectWorld* source, PF_EffectWorld* destination, KernelSettings* s,
              BCLHolder& firstHolder, const SecondPass& second, bool horizontal, bool recordLanes,
              bool maskedSource, bool destinationUnread, const Kernels2D& instructionSetKernels,
              LineFunction lineKernel)
      : src(source),
        dst(destination),
        settings(s),
        first(firstHolder),
        pass2(second),
        firstIsHorizontal(horizontal),
        exactRecords(!recordLanes),
        maskSource(maskedSource),
        dstUnread(destinationUnread),
        lineCount(horizontal ? source->height : source->width),
        lineLength(horizontal ? source->width : source->height),
        kernels(instructionSetKernels),
        blockShift(std::countr_zero(static_cast<uint32_t>(instructionSetKernels.blockCells))),
        lineFunction(lineKernel),
        lanes1(static_cast<size_t>(std::max(firstHolder.Interpolator().Count(), 0))),
        slots(Slots::ForThisMachine(4) - 1),
        memos(static_cast<size_t>(slots.Count())) {}

  // Lines run on the host's iterate threads, a share of them per call, each
  // call raising its slot's plane; a stop leaves dst as it arrived, since the
  // calls finish in no particular order.
  void Run() {
    ChooseSources();
    // The lines read only the choices: the placed layer's frame goes back
    // before the shadow is made, which then takes its memory instead of
    // fresh pages.
    first.ReleasePlacedLayer();
    acrossLines = SpreadsAcrossLines();
    // The shadow's rows run along the second pass, or along the lines.
    ShadowRows<Pixel> target(dst, acrossLines != firstIsHorizontal, dstUnread);
    const int32_t targetRows = acrossLines ? lineCount : lineLength;
    SlotPlanes slotPlanes(target.Row(0), target.RowBytes(), targetRows, slots.Count());
    planes = &slotPlanes;
    workers.reserve(static_cast<size_t>(slots.Count()));
    for (int32_t n = 0; n < slots.Count(); ++n) workers.emplace_back(*this);

    const PF_Err err = IterateRows<Pixel>(settings->inData, 0, IterateCalls(), src, IterateCalls(),
                                          this, LinesFunction, dst);
    if (outOfMemory.load()) throw std::bad_alloc();
    RaiseIfHostFailed(err);
    slotPlanes.RaiseShadow();
    target.Finish();
  }

 private:
  friend class LineWorker<Pixel>;

  // A slot's first-pass lanes by control value: two bytes an entry keep the
  // table in the first-level cache's reach and on few fresh pages.
  static constexpr int16_t kUnknownLanes = INT16_MIN;
  using Memo = ControlMemo<int16_t, kUnknownLanes>;
  int32_t MemoControls() const { return static_cast<int32_t>(pass2.kernelOf.size()); }

  // The iterate area is one pixel wide and as tall as dst, up to what a host
  // rectangle holds; the call for row y runs its share of the lines.
  int32_t IterateCalls() const { return std::min(dst->height, kMaxIterateRows); }

  static PF_Err LinesFunction(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    auto& self = *static_cast<VariableRun*>(refcon);
    const RowShare share = ShareOfRow(y, self.IterateCalls(), self.lineCount);
    if (share.first == share.end) return PF_Err_NONE;
    SlotLease lease(self.slots);
    try {
      for (int32_t line = share.first; line < share.end; ++line) {
        self.workers[static_cast<size_t>(lease.Index())].Line(line, *self.planes, lease.Index());
      }
    } catch (...) {
      // Only growing scratch can fail here; nothing may cross the host.
      self.outOfMemory = true;
      return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
  }

  // Each source's kernels, on the host's threads where no choice can fail
  // (every view the ladder answers is one-dimensional, and the layer can be
  // read), else in the straightforward order, which fails as it does.
  void ChooseSources() {
    // Left uninitialised: Choose writes every source's choice.
    choices.reset(
        new SourceChoice[static_cast<size_t>(lineCount) * static_cast<size_t>(lineLength)]);
    if (!PrepareEveryView()) {
      memos.front().Prepare(MemoControls());
      for (int32_t line = 0; line < lineCount; ++line) {
        for (int32_t p = 0; p < lineLength; ++p) {
          if (firstIsHorizontal) {
            Choose(p, line, memos.front());
          } else {
            Choose(line, p, memos.front());
          }
        }
      }
      return;
    }
    const auto rowSamples = static_cast<size_t>(slots.Count()) * static_cast<size_t>(src->width);
    sampledF.resize(rowSamples);
    sampledControl.resize(rowSamples);
    const PF_Err err = IterateRows<Pixel>(settings->inData, 0, ChoiceCalls(), src, ChoiceCalls(),
                                          this, ChoiceFunction, dst);
    if (outOfMemory.load()) throw std::bad_alloc();
    RaiseIfHostFailed(err);
  }

  // Whether the second pass raises a plane of lines, spreading a block's cells
  // of one kernel at once: that pays where neighbours share their kernels and
  // lists stay short (a covering ladder under a smooth layer), while a noisy
  // layer's blocks meet many kernels, each spread over every cell. Under a
  // ladder that does not cover, a block that two run classes reach lists its
  // records one by one, so nearly every block must be reached by one only.
  // Judged on every 16th line's sources.
  bool SpreadsAcrossLines() const {
    if (exactRecords) return false;
    constexpr int32_t kSampledLines = 16;
    constexpr int32_t kMostKernels = 2;  // per block, on average
    constexpr int32_t kMixedShare = 16;  // at most one block in this many
    const int32_t blockCells = kernels.blockCells;
    int32_t reach = 0;
    for (const FirstPassLanes& l : lanes1) reach = std::max(reach, l.length / 2);
    for (const FirstPassLanes& l : spare) reach = std::max(reach, l.length / 2);
    int64_t blocks = 0;
    int64_t kernelsMet = 0;
    int64_t mixedBlocks = 0;
    std::vector<int32_t> changes;  // sources of another kernel pair than the one before
    for (int32_t line = 0; line < lineCount; line += kSampledLines) {
      const SourceChoice* c = choices.get() + static_cast<size_t>(line) * lineLength;
      changes.clear();
      if (!pass2.covering) {
        const SourceChoice* before = nullptr;
        for (int32_t j = 0; j < lineLength; ++j) {
          if (c[j].lanes < 0) continue;
          if (before != nullptr && (c[j].lanes != before->lanes || c[j].kernel != before->kernel)) {
            changes.push_back(j);
          }
          before = &c[j];
        }
      }
      size_t next = 0;
      for (int32_t cell0 = 0; cell0 < lineLength; cell0 += blockCells) {
        const int32_t end = std::min(lineLength, cell0 + blockCells);
        uint16_t seen[kMostKernels + 1];
        int32_t n = 0;
        for (int32_t j = cell0; j < end && n <= kMostKernels; ++j) {
          if (c[j].lanes == kBlackSource) continue;
          if (std::find(seen, seen + n, c[j].kernel) == seen + n) seen[n++] = c[j].kernel;
        }
        ++blocks;
        kernelsMet += n;
        // Mixed, or close enough, when the kernel pair changes among the
        // sources that reach the block.
        while (next < changes.size() && changes[next] <= cell0 - reach) ++next;
        if (next < changes.size() && changes[next] < end + reach) ++mixedBlocks;
      }
    }
    return kernelsMet <= kMostKernels * blocks && mixedBlocks * kMixedShare <= blocks;
  }

  // Whether every view the ladder answers is one-dimensional and has its
  // lanes, prepared here, and the layer can be sampled without a failure.
  bool PrepareEveryView() {
    const AEWorld& placed = first.Image().ControlImage();
    if (placed.RawWorld() != nullptr && placed.InData() == nullptr) return false;
    const std::vector<KernelView> views = first.Interpolator().Views();
    for (const KernelView& k : views) {
      if ((k.width != 1 && k.height != 1) || k.kernelIndex < 0 ||
          k.kernelIndex >= static_cast<int32_t>(lanes1.size())) {
        return false;
      }
    }
    for (const KernelView& k : views) LanesOf(k);
    return true;
  }

  int32_t ChoiceCalls() const { return fastpath::ChoiceCalls(src->height); }

  static PF_Err ChoiceFunction(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    auto& self = *static_cast<VariableRun*>(refcon);
    const RowShare share = ShareOfRow(y, self.ChoiceCalls(), self.src->height);
    SlotLease lease(self.slots);
    Memo& memo = self.memos[static_cast<size_t>(lease.Index())];
    const int32_t width = self.src->width;
    const size_t at = static_cast<size_t>(lease.Index()) * static_cast<size_t>(width);
    double* f = self.sampledF.data() + at;
    int32_t* control = self.sampledControl.data() + at;
    try {
      // Each slot's memo is made by the first call that takes the slot, on
      // that call's thread: a host running fewer threads fills fewer.
      if (!memo.Prepared()) memo.Prepare(self.MemoControls());
      for (int32_t row = share.first; row < share.end; ++row) {
        const BCLImage::LayerSpan on = self.first.Image().SampleRow(0, row, width, f, control);
        for (int32_t x = 0; x < width; ++x) {
          self.Choose(x, row, f[x], control[x], on.Holds(x), memo);
        }
      }
    } catch (...) {
      // Only the memo's allocation can fail once every view is prepared.
      self.outOfMemory = true;
      return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
  }

  // The choice for the source at (x, y), its first-pass lanes memoised.
  void Choose(int32_t x, int32_t y, Memo& memo) {
    int32_t controlValue = 0;
    double f = 0.0;
    const BCLImage::LayerSpan on = first.Image().SampleRow(x, y, 1, &f, &controlValue);
    Choose(x, y, f, controlValue, on.Holds(0), memo);
  }

  void Choose(int32_t x, int32_t y, double f, int32_t controlValue, bool onLayer, Memo& memo) {
    int16_t* entry = memo.Entry(controlValue, onLayer);
    int32_t lanes = 0;
    if (entry != nullptr && *entry != kUnknownLanes) {
      lanes = *entry;
    } else {
      const KernelView k1 =
          first.Interpolator().KernelFor(f * first.HAmount(), f * first.VAmount());
      Require1D(k1);
      lanes = LanesOf(k1);
      if (entry != nullptr) *entry = static_cast<int16_t>(lanes);
    }
    const int32_t line = firstIsHorizontal ? y : x;
    const int32_t p = firstIsHorizontal ? x : y;
    SourceChoice& choice = choices[static_cast<size_t>(line) * lineLength + p];
    const Pixel s = SourceAt(x, y);
    if (IsBlack(s)) {
      choice = SourceChoice{kBlackSource, 0};
      return;
    }
    if (controlValue == 0 && pass2.ownCellAtZero && Lanes(lanes).singleFullTap) {
      lanes = kOwnCell;
    }
    choice = SourceChoice{static_cast<int16_t>(lanes),
                          pass2.kernelOf[static_cast<uint16_t>(controlValue)]};
  }

  // A source pixel as the straightforward loops read it from their cleaned
  // copy of src.
  Pixel Masked(const Pixel& p) const { return CleanedIf(maskSource, p); }
  Pixel SourceAt(int32_t x, int32_t y) const { return Masked(*PixelAt<Pixel>(src, x, y)); }

  const RunPlan* RunPlanOf(int32_t lanes) const {
    const auto n = static_cast<size_t>(lanes);
    return n < runPlans.size() && runPlans[n].ok ? &runPlans[n] : nullptr;
  }

  void PlanRun(int32_t index, const Axis& axis) {
    if (exactRecords || axis.length % 2 == 0) return;
    if (runPlans.size() <= static_cast<size_t>(index)) runPlans.resize(index + 1);
    RunPlan& r = runPlans[static_cast<size_t>(index)];
    r.taps = axis.length;
    r.chunk = (lineLength + kPieces - 1) / kPieces;
    std::vector<int32_t> gather(static_cast<size_t>(axis.length));
    for (int32_t t = 0; t < axis.length; ++t) {
      gather[static_cast<size_t>(t)] = axis.taps[(axis.length - 1 - t) * axis.stride];
    }
    r.ok = r.plan.Build(gather.data(), axis.length, r.chunk, PixelTraits<Pixel>::kFormat);
  }

  const FirstPassLanes& Lanes(int32_t index) const {
    const auto n = static_cast<size_t>(index);
    if (n < lanes1.size()) [[likely]] {
      return lanes1[n];
    }
    return spare[n - lanes1.size()];
  }

  int32_t LanesOf(const KernelView& k) {
    // Views outside the ladder (never in practice: every view the ladder
    // answers is one of its rungs) get lanes of their own, one set per
    // distinct view, so that indices stay within a choice's 16 bits.
    FirstPassLanes* l = nullptr;
    int32_t index = 0;
    if (k.kernelIndex >= 0 && k.kernelIndex < static_cast<int32_t>(lanes1.size())) {
      l = &lanes1[static_cast<size_t>(k.kernelIndex)];
      index = k.kernelIndex;
    } else {
      const SpareKey key{k.weights, k.width, k.height, k.originX, k.originY, k.rowStride};
      const auto [at, added] =
          spareOf.emplace(key, static_cast<int32_t>(lanes1.size() + spare.size()));
      if (added) spare.emplace_back();
      index = at->second;
      l = &spare[static_cast<size_t>(index) - lanes1.size()];
    }
    if (l->prepared) return index;
    l->prepared = true;
    const Axis axis = AlongAxis(k);
    l->length = axis.length;
    l->singleFullTap = axis.length == 1 && axis.taps[0] == 32768;
    const size_t padded = static_cast<size_t>(axis.length) + 2 * kMaxBlock;
    l->key.assign(padded, 0);
    l->mul.assign(padded, 0);
    l->hi.assign(padded, 0);
    l->weights.assign(padded, 0);
    for (int32_t i = 0; i < axis.length; ++i) {
      const int32_t w = axis.taps[i * axis.stride];
      const size_t lane = static_cast<size_t>(i) + kMaxBlock;
      l->weights[lane] = w;
      if (w <= 0) continue;
      l->key[lane] = static_cast<uint16_t>(w);
      l->mul[lane] = simd::WeightMul(w);
      l->hi[lane] = simd::WeightHi(w);
    }
    PlanRun(index, axis);
    return index;
  }

  PF_EffectWorld* src;
  PF_EffectWorld* dst;
  KernelSettings* settings;
  BCLHolder& first;
  const SecondPass& pass2;
  bool firstIsHorizontal;
  bool exactRecords;
  // src may hold colour under transparent pixels, read as 0 (see Masked).
  bool maskSource;
  // dst holds zeros or nothing to keep: the shadow starts from zeros.
  bool dstUnread;
  // The second pass raises a plane whose rows are the lines.
  bool acrossLines = false;
  int32_t lineCount;
  int32_t lineLength;
  const Kernels2D& kernels;
  // Blocks hold a power of two of cells (the lanes of a vector): the block
  // of every item's first and last cell is a shift, not a division.
  int32_t blockShift;
  LineFunction lineFunction;
  std::vector<FirstPassLanes> lanes1;
  std::vector<RunPlan> runPlans;     // by first-pass lanes, records from the lanes only
  std::deque<FirstPassLanes> spare;  // stable addresses
  using SpareKey = std::tuple<const int32_t*, int32_t, int32_t, int32_t, int32_t, int32_t>;
  std::map<SpareKey, int32_t> spareOf;      // index of a view's lanes
  std::unique_ptr<SourceChoice[]> choices;  // line by line
  Slots slots;
  std::vector<Memo> memos;  // one per slot
  // A row of samples per slot, for the choices on the host's threads.
  std::vector<double> sampledF;
  std::vector<int32_t> sampledControl;
  SlotPlanes* planes = nullptr;
  std::vector<LineWorker<Pixel>> workers;  // one per slot
  std::atomic<bool> outOfMemory{false};
};

}  // namespace

template <typename Pixel>
bool ConvolveVariableSeparable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                               KernelHolderFactory* factory, KernelMaker1D* maker, SimdLevel simd,
                               bool maskSource, DestinationState destination) {
  if (!HoldsPixels<Pixel>(dst) || !HoldsPixels<Pixel>(src)) return false;
  const Kernels2D& kernels = simd::KernelsFor(simd).twoD;
  if (!std::has_single_bit(static_cast<uint32_t>(kernels.blockCells))) return false;
  AEObjectAutoPointer<BCLHolder> first;
  AEObjectAutoPointer<BCLHolder> second;
  KernelHolderFactory onHostThreads = ResamplingOnHostThreads(*factory, simd);
  const bool firstIsHorizontal =
      MakePassHolders(*settings, &onHostThreads, maker, first, second, SecondPassLayer::Skipped);
  SecondPass pass2;
  const int32_t controls = first->Image().LargestControl() + 1;
  KernelsByControl<Pixel>(settings->inData, src, dst, *second, controls, firstIsHorizontal,
                          pass2.kernelOf);
  if (!PrepareSecondPass(*second, pass2)) return false;

  // Every first-pass record value is at most (peak1 * largest) >> 15 (or
  // anything a channel holds, when that wraps); every second-pass product
  // of it must stay exact in the lanes.
  constexpr int32_t kMax = kStorableMax<Pixel>;
  const int32_t peak1 = LadderPeak(first->Interpolator(), firstIsHorizontal);
  if (peak1 <= 0) return false;
  // First-pass values come from the lanes when none is cut to the channel.
  struct Bounds {
    bool exact;
    bool recordLanes;
  };
  auto boundsFor = [&](int32_t largest) {
    const int64_t product = static_cast<int64_t>(peak1) * largest;
    const int64_t recordMax = product <= INT32_MAX ? std::min<int64_t>(product >> 15, kMax) : kMax;
    return Bounds{recordMax <= simd::ExactChannelLimit(pass2.peak, kMax),
                  product <= INT32_MAX && (product >> 15) <= kMax && peak1 <= 65535};
  };
  // Both bounds only loosen as the largest channel falls, so where the
  // largest value a channel can hold passes them, the frame's own largest
  // would too, and the read of the whole input (a serial pass over a frame)
  // is skipped.
  Bounds bounds = boundsFor(kMax);
  if (!bounds.exact || !bounds.recordLanes) bounds = boundsFor(LargestChannelOf<Pixel>(src));
  if (!bounds.exact) return false;
  const bool recordLanes = bounds.recordLanes;
  // Covering ladders take the records of one second-pass kernel as one, which
  // needs them as the lanes make them.
  if (!recordLanes) pass2.covering = false;
  // A choice keeps its lanes' index in 16 bits, with room to spare for the
  // few views outside the ladder.
  if (first->Interpolator().Count() > INT16_MAX / 2) return false;
  VariableRun<Pixel> run(src, dst, settings, *first, pass2, firstIsHorizontal, recordLanes,
                         maskSource, destination != DestinationState::Floor, kernels,
                         simd::KernelsFor(simd).line);
  run.Run();
  return true;
}

#define QB_INSTANTIATE(Pixel)                                                                  \
  template bool ConvolveVariableSeparable<Pixel>(                                              \
      PF_EffectWorld*, PF_EffectWorld*, KernelSettings*, KernelHolderFactory*, KernelMaker1D*, \
      SimdLevel, bool, DestinationState);
QB_FOR_EACH_INTEGER_PIXEL(QB_INSTANTIATE)
#undef QB_INSTANTIATE

}  // namespace fastpath
