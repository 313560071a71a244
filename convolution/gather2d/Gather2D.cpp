// The two-dimensional shapes, fast, at a uniform amount: the kernel becomes
// a list of elements by kernel row (weights of exactly 32768, which pass a
// value through, with runs of them read four or sixteen pixels at a time
// from copies of quad and sixteen maxima; weights above 32768) and the
// elements below 32768 in groups of decreasing weight; the source a widened
// copy with zero margins, and each host iterate call gathers a band of
// output rows with vector lanes across x. Before each group the gather checks every lane against
// the maximum of the source over the window the kernel reads, weighted by the group's heaviest
// element, and stops when nothing left can raise it. Under a control layer the entries hand over to
// the scatter (Scatter2D.h).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "convolution/EnginePlan.h"
#include "convolution/FastShared.h"
#include "convolution/Slots.h"
#include "convolution/Weighted.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/controllayer/KernelInterpolator.h"
#include "convolution/controllayer/Scatter2D.h"
#include "convolution/gather2d/Convolve2D.h"
#include "convolution/gather2d/Fast2D.h"
#include "convolution/simd/Kernels.h"
#include "convolution/simd/Lanes.h"
#include "convolution/simd/Levels.h"
#include "image/AEException.h"
#include "image/Containers.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"

namespace fastpath {
namespace {

// ---- Uniform path ----------------------------------------------------------

// A weight's operand in lanes of type Lane: its mulhi operand, or its scale.
template <typename Lane>
Lane WeightOperand(int32_t w) {
  if constexpr (std::is_same_v<Lane, float>) {
    return WeightScale(w);
  } else {
    return simd::WeightMul(w);
  }
}

// The arrays a GatherPlan points into.
template <typename Lane>
struct GatherKernel {
  std::vector<GatherRowSpec> rows;
  std::vector<int32_t> offsets;
  std::vector<Lane> mul;
  std::vector<int32_t> lowDy;
  std::vector<int32_t> lowOffsets;
  std::vector<Lane> lowMul;
  std::vector<int32_t> groupEnd;
  std::vector<Lane> groupMul;
  // Reach of the elements below 32768 (see GatherPlan).
  int32_t reachLeft = 0;
  int32_t reachRight = -1;
  int32_t reachUp = 0;
  int32_t reachDown = -1;
  int32_t maxWeight = 0;
  bool usesQuads = false;
  bool usesSixteens = false;
};

// Elements below 32768 per group: enough that a group's reads outweigh the
// check before it, few enough groups that a settled gather stops soon.
constexpr size_t kLowGroupMin = 32;
constexpr size_t kLowGroups = 32;

// The elements below 32768, heaviest first, in groups (see GatherLow).
template <typename Lane>
void BuildLowGroups(std::vector<Element>& low, int32_t offX, int32_t offY, GatherKernel<Lane>& k) {
  std::sort(low.begin(), low.end(), [](const Element& a, const Element& b) {
    return a.weight != b.weight ? a.weight > b.weight : a.j != b.j ? a.j < b.j : a.i < b.i;
  });
  const size_t size = std::max(kLowGroupMin, (low.size() + kLowGroups - 1) / kLowGroups);
  for (size_t begin = 0; begin < low.size(); begin += size) {
    const size_t end = std::min(low.size(), begin + size);
    k.groupMul.push_back(WeightOperand<Lane>(low[begin].weight));
    std::sort(
        low.begin() + static_cast<intptr_t>(begin), low.begin() + static_cast<intptr_t>(end),
        [](const Element& a, const Element& b) { return a.j != b.j ? a.j < b.j : a.i < b.i; });
    for (size_t n = begin; n < end; ++n) {
      const Element& e = low[n];
      k.lowDy.push_back(offY - e.j);
      k.lowOffsets.push_back(4 * (offX - e.i));
      k.lowMul.push_back(WeightOperand<Lane>(e.weight));
    }
    k.groupEnd.push_back(static_cast<int32_t>(end));
  }
  if (low.empty()) return;
  auto [left, right] = std::minmax_element(
      low.begin(), low.end(), [](const Element& a, const Element& b) { return a.i > b.i; });
  auto [up, down] = std::minmax_element(
      low.begin(), low.end(), [](const Element& a, const Element& b) { return a.j > b.j; });
  k.reachLeft = offX - left->i;
  k.reachRight = offX - right->i;
  k.reachUp = offY - up->j;
  k.reachDown = offY - down->j;
}

// Gathering mirrors the kernel: output (x, y) reads source
// (x + offX - i, y + offY - j) with weight (i, j).
template <typename Lane>
void BuildGatherKernel(const KernelView& view, std::vector<Element>& elements,
                       GatherKernel<Lane>& k) {
  const int32_t offX = view.width - 1 - view.width / 2;
  const int32_t offY = view.height - 1 - view.height / 2;
  std::vector<Element> low;
  for (const Element& e : elements) {
    if (e.weight < 32768) low.push_back(e);
  }
  BuildLowGroups(low, offX, offY, k);
  std::erase_if(elements, [](const Element& e) { return e.weight < 32768; });
  std::sort(elements.begin(), elements.end(), [&](const Element& a, const Element& b) {
    if (a.j != b.j) return a.j < b.j;
    if ((a.weight == 32768) != (b.weight == 32768)) return a.weight == 32768;
    return a.i < b.i;
  });
  std::vector<int32_t> singles;
  std::vector<int32_t> quads;
  std::vector<int32_t> sixteens;
  for (size_t n = 0; n < elements.size();) {
    const int32_t j = elements[n].j;
    GatherRowSpec spec{offY - j, static_cast<int32_t>(k.offsets.size()), 0, 0, 0, 0};
    singles.clear();
    quads.clear();
    sixteens.clear();
    // Runs of flat elements: source pixels [lo, hi] relative to x.
    while (n < elements.size() && elements[n].j == j && elements[n].weight == 32768) {
      size_t end = n + 1;
      while (end < elements.size() && elements[end].j == j && elements[end].weight == 32768 &&
             elements[end].i == elements[end - 1].i + 1) {
        ++end;
      }
      const int32_t hi = offX - elements[n].i;
      const int32_t lo = hi - static_cast<int32_t>(end - n) + 1;
      const int32_t length = hi - lo + 1;
      if (length < 4) {
        for (int32_t p = lo; p <= hi; ++p) singles.push_back(p);
      } else {
        // The widest pieces that fit; the last ends with the run, overlapping
        // the one before, since a maximum may read a pixel twice.
        const int32_t piece = length < 16 ? 4 : 16;
        std::vector<int32_t>& pieces = piece == 4 ? quads : sixteens;
        for (int32_t p = lo;; p += piece) {
          pieces.push_back(std::min(p, hi - piece + 1));
          if (p + piece > hi) break;
        }
      }
      k.maxWeight = std::max(k.maxWeight, 32768);
      n = end;
    }
    for (const std::vector<int32_t>* pieces : {&singles, &quads, &sixteens}) {
      for (const int32_t p : *pieces) {
        k.offsets.push_back(4 * p);
        k.mul.push_back(Lane{0});
      }
    }
    spec.flat = static_cast<int32_t>(singles.size());
    spec.quads = static_cast<int32_t>(quads.size());
    spec.sixteens = static_cast<int32_t>(sixteens.size());
    k.usesQuads = k.usesQuads || spec.quads > 0;
    k.usesSixteens = k.usesSixteens || spec.sixteens > 0;
    for (; n < elements.size() && elements[n].j == j; ++n) {
      const Element& e = elements[n];
      spec.high += 1;
      k.offsets.push_back(4 * (offX - e.i));
      k.mul.push_back(WeightOperand<Lane>(e.weight));
      k.maxWeight = std::max(k.maxWeight, e.weight);
    }
    k.rows.push_back(spec);
  }
  for (const Element& e : low) k.maxWeight = std::max(k.maxWeight, e.weight);
}

// Channel maxima of each lane of a padded row and the three `step` lanes
// after it (zeros beyond the row): from the row with step 4 (a pixel), the
// quad maxima; from those with step 16, the sixteen maxima.
template <typename Lane>
void StepMaxima(const Lane* a, intptr_t rowLanes, intptr_t step, Lane* out) {
  intptr_t l = 0;
  for (; l + 3 * step < rowLanes; ++l) {
    out[l] = std::max(std::max(a[l], a[l + step]), std::max(a[l + 2 * step], a[l + 3 * step]));
  }
  for (; l < rowLanes; ++l) {
    Lane m = a[l];
    for (intptr_t q = l + step; q < rowLanes && q <= l + 3 * step; q += step) m = std::max(m, a[q]);
    out[l] = m;
  }
}

// Copies row y of src into four lanes per pixel between zero margins
// (padLeft pixels before the row, the rest of rowLanes after it), with the
// colour of transparent pixels as 0 when `mask`, float channels as FloatLane
// holds them; answers the row's largest channel value as copied (0 in float,
// whose lanes have no limit).
template <typename Pixel, typename Lane>
int32_t WidenRow(const PF_EffectWorld* src, int32_t y, bool mask, intptr_t padLeft,
                 intptr_t rowLanes, Lane* start) {
  int32_t largest = 0;
  const Pixel* row = PixelAt<Pixel>(src, 0, y);
  std::fill(start, start + 4 * padLeft, Lane{0});
  Lane* lanes = start + 4 * padLeft;
  for (int32_t x = 0; x < src->width; ++x, lanes += 4) {
    const Pixel p = CleanedIf(mask, row[x]);
    LoadPixel(p, lanes);
    if constexpr (!kIsFloatPixel<Pixel>) largest = std::max(largest, LargestChannel(p));
  }
  std::fill(lanes, start + rowLanes, Lane{0});
  return largest;
}

// The widened source and its quad maxima, a row per call on the host's
// threads.
template <typename Pixel>
struct WidenJob {
  using Lane = LaneOf<Pixel>;
  const PF_EffectWorld* src;
  bool mask;
  intptr_t padLeft;
  intptr_t rowLanes;
  Lane* widened;
  Lane* quads;     // null when no piece reads them or the sixteens
  Lane* sixteens;  // null when no piece reads them
  std::atomic<int32_t> largest{0};

  static PF_Err RowFunction(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    auto& job = *static_cast<WidenJob*>(refcon);
    Lane* row = job.widened + y * job.rowLanes;
    const int32_t largest = WidenRow<Pixel>(job.src, y, job.mask, job.padLeft, job.rowLanes, row);
    if (job.quads != nullptr) {
      Lane* quads = job.quads + y * job.rowLanes;
      StepMaxima(row, job.rowLanes, 4, quads);
      if (job.sixteens != nullptr) {
        StepMaxima(quads, job.rowLanes, 16, job.sixteens + y * job.rowLanes);
      }
    }
    int32_t seen = job.largest.load();
    while (largest > seen && !job.largest.compare_exchange_weak(seen, largest)) {
    }
    return PF_Err_NONE;
  }
};

template <typename Pixel>
struct GatherJob {
  using Lane = LaneOf<Pixel>;
  GatherPlanOf<Lane> plan;
  PF_EffectWorld* dst;
  void (*rows)(const GatherPlanOf<Lane>&, int32_t, int32_t, Pixel*, intptr_t, Lane*);
  Slots* slots;
  Lane* scratch;
  size_t scratchLanes;  // per slot
};

// Output rows per call: enough that the rows share what they read of the
// source while it is in cache.
constexpr int32_t kGatherBand = 32;

// The iterate area is one pixel wide, so each call owns whole output rows:
// the call for a row that starts a band gathers the band, the others return.
template <typename Pixel>
PF_Err GatherBandFunction(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  if (y % kGatherBand != 0) return PF_Err_NONE;
  const GatherJob<Pixel>& job = *static_cast<const GatherJob<Pixel>*>(refcon);
  const int32_t rows = std::min(kGatherBand, job.plan.height - static_cast<int32_t>(y));
  SlotLease lease(*job.slots);
  job.rows(job.plan, y, rows, PixelAt<Pixel>(job.dst, 0, y), job.dst->rowbytes,
           job.scratch + job.scratchLanes * static_cast<size_t>(lease.Index()));
  return PF_Err_NONE;
}

template <typename Pixel>
bool GatherUniform(PF_EffectWorld* src, PF_EffectWorld* dst, const KernelSettings& settings,
                   const KernelView& view, const KernelPixelList* list, const Kernels2D& kernels,
                   const ConvolvePlan& plan) {
  using Lane = LaneOf<Pixel>;
  PF_InData* inData = settings.inData;
  const int32_t width = src->width;
  const int32_t height = src->height;
  if (height > kMaxIterateRows || width < 1 || height < 1) return false;
  if (plan.destination == DestinationState::Floor && !FloorSuitsLanes<Pixel>(dst)) return false;
  std::vector<Element> elements;
  if (!CollectElements(view, list, elements)) return false;
  GatherKernel<Lane> kernel;
  BuildGatherKernel(view, elements, kernel);

  const intptr_t offX = view.width - 1 - view.width / 2;
  const intptr_t padLeft = std::max<intptr_t>(0, view.width - 1 - offX);
  // Past the last output pixel a chunk reads kGatherChunkPixels ahead, and a
  // piece up to fifteen pixels further.
  const intptr_t padRight = std::max<intptr_t>(0, offX) + kGatherChunkPixels + 15;
  const intptr_t rowLanes = 4 * (padLeft + width + padRight);
  // Every lane is written before it is read, so neither copy is cleared.
  const auto lanes = static_cast<size_t>(rowLanes * height);
  // The bounds read whole vectors a little past the last row.
  std::unique_ptr<Lane[]> widened(new Lane[lanes + kMaxVectorLanes]);
  std::fill_n(widened.get() + lanes, kMaxVectorLanes, Lane{0});
  // The sixteen maxima are made from the quad maxima.
  const bool quadsMade = kernel.usesQuads || kernel.usesSixteens;
  std::unique_ptr<Lane[]> quads(quadsMade ? new Lane[lanes] : nullptr);
  std::unique_ptr<Lane[]> sixteens(kernel.usesSixteens ? new Lane[lanes] : nullptr);

  GatherJob<Pixel> job;
  job.plan.source = widened.get();
  job.plan.quads = quads.get();
  job.plan.sixteens = sixteens.get();
  job.plan.rowLanes = rowLanes;
  job.plan.originLanes = 4 * padLeft;
  job.plan.width = width;
  job.plan.height = height;
  job.plan.rows = kernel.rows.data();
  job.plan.rowCount = static_cast<int32_t>(kernel.rows.size());
  job.plan.offsets = kernel.offsets.data();
  job.plan.mul = kernel.mul.data();
  job.plan.low =
      GatherLowOf<Lane>{kernel.lowDy.data(),    kernel.lowOffsets.data(),
                        kernel.lowMul.data(),   kernel.groupEnd.data(),
                        kernel.groupMul.data(), static_cast<int32_t>(kernel.groupEnd.size())};
  job.plan.reachLeft = kernel.reachLeft;
  job.plan.reachRight = kernel.reachRight;
  job.plan.reachUp = kernel.reachUp;
  job.plan.reachDown = kernel.reachDown;
  job.plan.overwrite = plan.destination == DestinationState::Overwrite;
  job.dst = dst;
  job.rows = DepthKernels<Pixel>::Gather(kernels);
  Slots slots(Slots::ForThisMachine(33));
  job.slots = &slots;
  job.scratchLanes = GatherScratchFor(job.plan, kGatherBand).lanes;
  std::unique_ptr<Lane[]> scratch(
      new Lane[job.scratchLanes * static_cast<size_t>(slots.Count())]());
  job.scratch = scratch.get();

  WidenJob<Pixel> widen{
      src,           plan.maskTransparentSource, padLeft, rowLanes, widened.get(), quads.get(),
      sixteens.get()};
  PF_Err err = IterateRows<Pixel>(inData, 0, 2 * height, src, height, &widen,
                                  WidenJob<Pixel>::RowFunction, dst);
  RaiseIfHostFailed(err);
  if constexpr (!kIsFloatPixel<Pixel>) {
    if (widen.largest.load() > simd::ExactChannelLimit(kernel.maxWeight, kStorableMax<Pixel>)) {
      return false;
    }
  }

  err = IterateRows<Pixel>(inData, height, 2 * height, src, height, &job, GatherBandFunction<Pixel>,
                           dst);
  RaiseIfHostFailed(err);
  return true;
}

bool Convolve2D(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                KernelHolderFactory* factory, KernelMaker* maker, const MaskedKernelMaker* masked,
                const ConvolvePlan& plan) {
  const Kernels2D& kernels = simd::KernelsFor(plan.simd).twoD;
  return DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    if (!HoldsPixels<Pixel>(src)) return false;
    if (factory->useBCL) {
      // Float pixels under a control layer keep to the straightforward loops.
      if constexpr (kIsFloatPixel<Pixel>) {
        return false;
      } else {
        ScatterVariable<Pixel>(src, dst, settings, factory, maker, masked, kernels, plan);
        return true;
      }
    }
    AEObjectAutoPointer<SimpleKernelHolder> holder(
        factory->MakeHolder(settings->hAmount, settings->vAmount, maker));
    const KernelView view = holder->View();
    if (masked == nullptr)
      return GatherUniform<Pixel>(src, dst, *settings, view, nullptr, kernels, plan);
    const KernelPixelList list =
        ListOfKernel(masked->Table(), masked->PixelsPerKernel(), view.kernelIndex);
    return GatherUniform<Pixel>(src, dst, *settings, view, &list, kernels, plan);
  });
}

}  // namespace

bool ConvolveWholeKernel(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                         KernelHolderFactory* factory, KernelMaker* maker,
                         const ConvolvePlan& plan) {
  return Convolve2D(src, dst, settings, factory, maker, nullptr, plan);
}

bool ConvolveMasked(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                    KernelHolderFactory* factory, MaskedKernelMaker* maker,
                    const ConvolvePlan& plan) {
  return Convolve2D(src, dst, settings, factory, maker, maker, plan);
}

}  // namespace fastpath
