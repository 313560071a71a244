// The two-dimensional shapes, fast. Uniform amount: the kernel becomes a
// list of elements by kernel row (weights of exactly 32768, which pass a
// value through, with runs of them read four pixels at a time from a copy of
// quad maxima; weights above 32768) and the elements below 32768 in groups
// of decreasing weight; the source a widened copy with zero margins, and
// each host iterate call gathers a band of output rows with vector lanes
// across x. Before each group the gather checks every lane against the
// maximum of the source over the window the kernel reads, weighted by the
// group's heaviest element, and stops when nothing left can raise it.
// Under a control layer: the scatter of the straightforward path into a
// 16-bit copy of dst, each ladder kernel prepared once as row spans of lane
// weights, spread over the host's iterate threads by strips of source
// columns, each strip's call raising its own copy; sources whose values the
// lanes cannot hold make the whole scatter take the straightforward loop in
// its own order.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "convolution/BCL.h"
#include "convolution/Convolve2D.h"
#include "convolution/EnginePlan.h"
#include "convolution/KernelInterpolator.h"
#include "convolution/Slots.h"
#include "convolution/fast2d/Common.h"
#include "convolution/fast2d/Fast2D.h"
#include "convolution/fast2d/Levels.h"
#include "convolution/simd/Kernels.h"
#include "convolution/simd/Lanes.h"
#include "image/AEException.h"
#include "image/Containers.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"

namespace fast2d {
namespace {

// A kernel element with weight > 0: column i, row j, origin top-left.
struct Element {
  int32_t i;
  int32_t j;
  int32_t weight;
};

// Every positive element of a full kernel, or of the listed elements of a
// masked one. False when a listed element lies outside the kernel, which
// the straightforward path would read from beyond it.
bool CollectElements(const KernelView& view, const KernelPixelList* list,
                     std::vector<Element>& elements) {
  elements.clear();
  if (list == nullptr) {
    for (int32_t j = 0; j < view.height; ++j) {
      for (int32_t i = 0; i < view.width; ++i) {
        const int32_t w = view.Weight(i, j);
        if (w > 0) elements.push_back(Element{i, j, w});
      }
    }
    return true;
  }
  for (int32_t n = 0; n < list->capacity; ++n) {
    const KernelPixel e = list->entries[n];
    if (e.x == -1) break;
    if (e.x < 0 || e.y < 0 || e.x >= view.width || e.y >= view.height) return false;
    // Listed elements of weight <= 0 never raise anything.
    const int32_t w = view.Weight(e.x, e.y);
    if (w > 0) elements.push_back(Element{e.x, e.y, w});
  }
  return true;
}

// ---- Uniform path ----------------------------------------------------------

// The arrays a GatherPlan points into.
struct GatherKernel {
  std::vector<GatherRowSpec> rows;
  std::vector<int32_t> offsets;
  std::vector<uint16_t> mul;
  std::vector<int32_t> lowDy;
  std::vector<int32_t> lowOffsets;
  std::vector<uint16_t> lowMul;
  std::vector<int32_t> groupEnd;
  std::vector<uint16_t> groupMul;
  // Reach of the elements below 32768 (see GatherPlan).
  int32_t reachLeft = 0;
  int32_t reachRight = -1;
  int32_t reachUp = 0;
  int32_t reachDown = -1;
  int32_t maxWeight = 0;
  bool usesQuads = false;
};

// Elements below 32768 per group: enough that a group's reads outweigh the
// check before it, few enough groups that a settled gather stops soon.
constexpr size_t kLowGroupMin = 32;
constexpr size_t kLowGroups = 32;

// The elements below 32768, heaviest first, in groups (see GatherLow).
void BuildLowGroups(std::vector<Element>& low, int32_t offX, int32_t offY, GatherKernel& k) {
  std::sort(low.begin(), low.end(), [](const Element& a, const Element& b) {
    return a.weight != b.weight ? a.weight > b.weight : a.j != b.j ? a.j < b.j : a.i < b.i;
  });
  const size_t size = std::max(kLowGroupMin, (low.size() + kLowGroups - 1) / kLowGroups);
  for (size_t begin = 0; begin < low.size(); begin += size) {
    const size_t end = std::min(low.size(), begin + size);
    k.groupMul.push_back(simd::WeightMul(low[begin].weight));
    std::sort(
        low.begin() + static_cast<intptr_t>(begin), low.begin() + static_cast<intptr_t>(end),
        [](const Element& a, const Element& b) { return a.j != b.j ? a.j < b.j : a.i < b.i; });
    for (size_t n = begin; n < end; ++n) {
      const Element& e = low[n];
      k.lowDy.push_back(offY - e.j);
      k.lowOffsets.push_back(4 * (offX - e.i));
      k.lowMul.push_back(simd::WeightMul(e.weight));
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
void BuildGatherKernel(const KernelView& view, std::vector<Element>& elements, GatherKernel& k) {
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
  for (size_t n = 0; n < elements.size();) {
    const int32_t j = elements[n].j;
    GatherRowSpec spec{offY - j, static_cast<int32_t>(k.offsets.size()), 0, 0, 0};
    singles.clear();
    quads.clear();
    // Runs of flat elements: source pixels [lo, hi] relative to x.
    while (n < elements.size() && elements[n].j == j && elements[n].weight == 32768) {
      size_t end = n + 1;
      while (end < elements.size() && elements[end].j == j && elements[end].weight == 32768 &&
             elements[end].i == elements[end - 1].i + 1) {
        ++end;
      }
      const int32_t hi = offX - elements[n].i;
      const int32_t lo = hi - static_cast<int32_t>(end - n) + 1;
      if (hi - lo + 1 < 4) {
        for (int32_t p = lo; p <= hi; ++p) singles.push_back(p);
      } else {
        // The last piece ends with the run, overlapping the one before.
        for (int32_t p = lo;; p += 4) {
          quads.push_back(std::min(p, hi - 3));
          if (p + 4 > hi) break;
        }
      }
      k.maxWeight = std::max(k.maxWeight, 32768);
      n = end;
    }
    for (const std::vector<int32_t>* pieces : {&singles, &quads}) {
      for (const int32_t p : *pieces) {
        k.offsets.push_back(4 * p);
        k.mul.push_back(0);
      }
    }
    spec.flat = static_cast<int32_t>(singles.size());
    spec.quads = static_cast<int32_t>(quads.size());
    k.usesQuads = k.usesQuads || spec.quads > 0;
    for (; n < elements.size() && elements[n].j == j; ++n) {
      const Element& e = elements[n];
      spec.high += 1;
      k.offsets.push_back(4 * (offX - e.i));
      k.mul.push_back(simd::WeightMul(e.weight));
      k.maxWeight = std::max(k.maxWeight, e.weight);
    }
    k.rows.push_back(spec);
  }
  for (const Element& e : low) k.maxWeight = std::max(k.maxWeight, e.weight);
}

// Channel maxima of each pixel and the three after it (zeros beyond the
// row), in the same padded layout.
void QuadMaxima(const uint16_t* from, intptr_t rowLanes, int32_t rows, uint16_t* to) {
  for (int32_t y = 0; y < rows; ++y) {
    const uint16_t* a = from + y * rowLanes;
    uint16_t* out = to + y * rowLanes;
    intptr_t l = 0;
    for (; l + 12 < rowLanes; ++l) {
      out[l] = std::max(std::max(a[l], a[l + 4]), std::max(a[l + 8], a[l + 12]));
    }
    for (; l < rowLanes; ++l) {
      uint16_t m = a[l];
      for (intptr_t q = l + 4; q < rowLanes && q <= l + 12; q += 4) m = std::max(m, a[q]);
      out[l] = m;
    }
  }
}

// Copies row y of src into four 16-bit lanes per pixel between zero margins
// (padLeft pixels before the row, the rest of rowLanes after it), with the
// colour of transparent pixels as 0 when `mask`; answers the row's largest
// channel value as copied.
template <typename Pixel>
int32_t WidenRow(const PF_EffectWorld* src, int32_t y, bool mask, intptr_t padLeft,
                 intptr_t rowLanes, uint16_t* start) {
  int32_t largest = 0;
  const Pixel* row = PixelAt<Pixel>(src, 0, y);
  std::fill(start, start + 4 * padLeft, uint16_t{0});
  uint16_t* lanes = start + 4 * padLeft;
  for (int32_t x = 0; x < src->width; ++x, lanes += 4) {
    const Pixel p = mask ? WithoutHiddenColour(row[x]) : row[x];
    lanes[0] = p.alpha;
    lanes[1] = p.red;
    lanes[2] = p.green;
    lanes[3] = p.blue;
    largest = std::max(largest, LargestChannel(p));
  }
  std::fill(lanes, start + rowLanes, uint16_t{0});
  return largest;
}

// The widened source and its quad maxima, a row per call on the host's
// threads.
template <typename Pixel>
struct WidenJob {
  const PF_EffectWorld* src;
  bool mask;
  intptr_t padLeft;
  intptr_t rowLanes;
  uint16_t* widened;
  uint16_t* quads;  // null when no piece reads them
  std::atomic<int32_t> largest{0};

  static PF_Err RowFunction(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    auto& job = *static_cast<WidenJob*>(refcon);
    uint16_t* row = job.widened + y * job.rowLanes;
    const int32_t largest = WidenRow<Pixel>(job.src, y, job.mask, job.padLeft, job.rowLanes, row);
    if (job.quads != nullptr) QuadMaxima(row, job.rowLanes, 1, job.quads + y * job.rowLanes);
    int32_t seen = job.largest.load();
    while (largest > seen && !job.largest.compare_exchange_weak(seen, largest)) {
    }
    return PF_Err_NONE;
  }
};

template <typename Pixel>
struct GatherJob {
  GatherPlan plan;
  PF_EffectWorld* dst;
  void (*rows)(const GatherPlan&, int32_t, int32_t, Pixel*, intptr_t, uint16_t*);
  Slots* slots;
  uint16_t* scratch;
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
  PF_InData* inData = settings.inData;
  const int32_t width = src->width;
  const int32_t height = src->height;
  if (height > INT16_MAX || width < 1 || height < 1) return false;
  std::vector<Element> elements;
  if (!CollectElements(view, list, elements)) return false;
  GatherKernel kernel;
  BuildGatherKernel(view, elements, kernel);

  const intptr_t offX = view.width - 1 - view.width / 2;
  const intptr_t padLeft = std::max<intptr_t>(0, view.width - 1 - offX);
  // Past the last output pixel a chunk reads kGatherChunkPixels ahead, and a
  // quad piece three pixels further.
  const intptr_t padRight = std::max<intptr_t>(0, offX) + kGatherChunkPixels + 3;
  const intptr_t rowLanes = 4 * (padLeft + width + padRight);
  // Every lane is written before it is read, so neither copy is cleared.
  const auto lanes = static_cast<size_t>(rowLanes * height);
  // The bounds read whole vectors a little past the last row.
  std::unique_ptr<uint16_t[]> widened(new uint16_t[lanes + kMaxVectorLanes]);
  std::fill_n(widened.get() + lanes, kMaxVectorLanes, uint16_t{0});
  std::unique_ptr<uint16_t[]> quads(kernel.usesQuads ? new uint16_t[lanes] : nullptr);

  GatherJob<Pixel> job;
  job.plan.source = widened.get();
  job.plan.quads = quads.get();
  job.plan.rowLanes = rowLanes;
  job.plan.originLanes = 4 * padLeft;
  job.plan.width = width;
  job.plan.height = height;
  job.plan.rows = kernel.rows.data();
  job.plan.rowCount = static_cast<int32_t>(kernel.rows.size());
  job.plan.offsets = kernel.offsets.data();
  job.plan.mul = kernel.mul.data();
  job.plan.low = GatherLow{kernel.lowDy.data(),    kernel.lowOffsets.data(),
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
  std::unique_ptr<uint16_t[]> scratch(
      new uint16_t[job.scratchLanes * static_cast<size_t>(slots.Count())]());
  job.scratch = scratch.get();

  WidenJob<Pixel> widen{src,        plan.maskTransparentSource, padLeft, rowLanes, widened.get(),
                        quads.get()};
  PF_Err err = IterateRows<Pixel>(inData, 0, 2 * height, src, height, &widen,
                                  WidenJob<Pixel>::RowFunction, dst);
  RaiseIfHostFailed(err);
  if (widen.largest.load() > simd::ExactChannelLimit(kernel.maxWeight, kStorableMax<Pixel>)) {
    return false;
  }

  err = IterateRows<Pixel>(inData, height, 2 * height, src, height, &job, GatherBandFunction<Pixel>,
                           dst);
  RaiseIfHostFailed(err);
  return true;
}

// ---- Control-layer path ----------------------------------------------------

// One ladder kernel as rows of lane weights (see ScatterSource).
struct ScatterKernel {
  bool prepared = false;
  std::vector<ScatterRow> rows;
  // Lane weights (see WeighBy): half the table a mul/hi pair would be, which
  // every source reads afresh.
  std::vector<uint16_t> weights;
  // Sources whose channels are all at most this take the lanes; others the
  // exact scalar loop.
  int32_t safeChannel = -1;
  int32_t width = 0;  // of the kernel
  int32_t height = 0;
};

void PrepareScatterKernel(const KernelView& view, const KernelPixelList* list, int32_t channelMax,
                          ScatterKernel& k) {
  k.prepared = true;
  k.width = view.width;
  k.height = view.height;
  std::vector<Element> elements;
  if (!CollectElements(view, list, elements)) return;  // scalar only
  std::sort(elements.begin(), elements.end(),
            [](const Element& a, const Element& b) { return a.j != b.j ? a.j < b.j : a.i < b.i; });
  int32_t maxWeight = 0;
  for (size_t n = 0; n < elements.size();) {
    const int32_t j = elements[n].j;
    size_t end = n;
    while (end < elements.size() && elements[end].j == j) ++end;
    const int32_t first = elements[n].i;
    const int32_t count = elements[end - 1].i - first + 1;
    const int32_t tap = static_cast<int32_t>(k.weights.size() / 4);
    // The longest run of weights of exactly 32768 in the row.
    int32_t flatBegin = 0;
    int32_t flatEnd = 0;
    for (size_t m = n; m < end;) {
      size_t z = m;
      while (z + 1 < end && elements[z].weight == 32768 && elements[z + 1].weight == 32768 &&
             elements[z + 1].i == elements[z].i + 1) {
        ++z;
      }
      if (elements[m].weight == 32768 && elements[z].i + 1 - elements[m].i > flatEnd - flatBegin) {
        flatBegin = elements[m].i - first;
        flatEnd = elements[z].i + 1 - first;
      }
      m = z + 1;
    }
    k.rows.push_back(ScatterRow{j, first, count, tap, flatBegin, flatEnd});
    k.weights.resize(k.weights.size() + 4 * (static_cast<size_t>(count) + 2 * kRowPad), 0);
    for (; n < end; ++n) {
      const Element& e = elements[n];
      const size_t lane = 4 * static_cast<size_t>(tap + kRowPad + e.i - first);
      // Weights above 65535 leave every source to the exact loop (safeChannel).
      std::fill_n(k.weights.begin() + static_cast<intptr_t>(lane), 4,
                  static_cast<uint16_t>(std::min(e.weight, 65535)));
      maxWeight = std::max(maxWeight, e.weight);
    }
  }
  k.safeChannel = simd::ExactChannelLimit(maxWeight, channelMax);
}

// The straightforward weighted maximum of one channel, stored as a channel
// of the image's depth stores it (cut to `mask`).
inline void RaiseExactly(A_u_short& out, int32_t w, int32_t channel, int32_t mask) {
  const int32_t v = MulQ15(w, channel);
  if (v > out) out = static_cast<A_u_short>(v & mask);
}

// The straightforward scatter of one source pixel, for values the lanes
// cannot hold: each target takes one truncating store per source, in source
// order, as there.
template <typename Pixel>
void ScatterExactly(const KernelView& k, const KernelPixelList* list, int32_t x, int32_t y,
                    ShadowRows<Pixel>& shadow, const PF_EffectWorld* src) {
  constexpr int32_t kMask = kStorableMax<Pixel>;
  const Pixel s = *PixelAt<Pixel>(src, x, y);
  const int32_t left = x - k.width / 2;
  const int32_t top = y - k.height / 2;
  auto raise = [&](int32_t i, int32_t j) {
    const int32_t tx = left + i;
    const int32_t ty = top + j;
    if (tx < 0 || ty < 0 || tx >= src->width || ty >= src->height) return;
    const int32_t w = k.Weight(i, j);
    PF_Pixel16& out = shadow.Row(ty)[tx];
    RaiseExactly(out.alpha, w, s.alpha, kMask);
    RaiseExactly(out.red, w, s.red, kMask);
    RaiseExactly(out.green, w, s.green, kMask);
    RaiseExactly(out.blue, w, s.blue, kMask);
  };
  if (list != nullptr) {
    for (int32_t n = 0; n < list->capacity && list->entries[n].x != -1; ++n) {
      raise(list->entries[n].x, list->entries[n].y);
    }
    return;
  }
  for (int32_t j = 0; j < k.height; ++j) {
    for (int32_t i = 0; i < k.width; ++i) {
      if (k.Weight(i, j) > 0) raise(i, j);
    }
  }
}

constexpr int32_t kNoKernel = -1;
constexpr int32_t kExactOnly = -2;

// The ladder kernel of source (x, y), and for a masked maker its list of
// elements in *list (the straightforward scatter's own lookups, in its order).
KernelView SampledKernel(const BCLImage& control, LadderMemo& memo, const MaskedKernelMaker* masked,
                         int32_t x, int32_t y, KernelPixelList* list) {
  int32_t controlValue = 0;
  const double f = control.SampleAmount(x, y, &controlValue);
  const KernelView k = memo.For(controlValue, f);
  if (masked != nullptr) {
    *list = ListOfKernel(masked->Table(), masked->PixelsPerKernel(), k.kernelIndex);
  }
  return k;
}

// How the lanes treat a source with kernel k, preparing the kernel when it
// first appears: kNoKernel when the source raises nothing, kExactOnly when
// only the exact scalar loop stores what the straightforward one does, else
// the index of its prepared kernel.
template <typename Pixel>
int32_t ChooseKernel(const Pixel& s, const KernelView& k, const KernelPixelList* listed,
                     std::vector<ScatterKernel>& prepared) {
  if (IsBlack(s) || k.width < 1 || k.height < 1) return kNoKernel;
  if (k.kernelIndex < 0 || k.kernelIndex >= static_cast<int32_t>(prepared.size())) {
    return kExactOnly;
  }
  ScatterKernel& plan = prepared[static_cast<size_t>(k.kernelIndex)];
  if (!plan.prepared) PrepareScatterKernel(k, listed, kStorableMax<Pixel>, plan);
  if (LargestChannel(s) > plan.safeChannel || plan.width != k.width || plan.height != k.height) {
    return kExactOnly;
  }
  return k.kernelIndex;
}

ScatterSource ScatterTarget(char* data, intptr_t rowBytes, int32_t width, int32_t height) {
  return ScatterSource{data, rowBytes, width, height, 0, 0, nullptr, 0, nullptr, {0, 0, 0, 0}};
}

// Source (x, y) of value s through its prepared kernel into job's target.
template <typename Pixel>
void ScatterWith(ScatterSource& job, const ScatterKernel& plan, int32_t x, int32_t y,
                 const Pixel& s, void (*scatter)(const ScatterSource&)) {
  job.left = x - plan.width / 2;
  job.top = y - plan.height / 2;
  job.rows = plan.rows.data();
  job.rowCount = static_cast<int32_t>(plan.rows.size());
  job.weights = plan.weights.data();
  job.value[0] = s.alpha;
  job.value[1] = s.red;
  job.value[2] = s.green;
  job.value[3] = s.blue;
  scatter(job);
}

template <typename Pixel>
struct ScatterPass {
  const PF_EffectWorld* src;
  const int32_t* kernelOf;  // prepared kernel of each source, column by column, or kNoKernel
  const std::vector<ScatterKernel>* prepared;
  void (*scatter)(const ScatterSource&);
  Slots* slots;
  SlotPlanes* planes;
  intptr_t rowBytes;
};

// The iterate area is one pixel wide and as tall as the image; the call for
// row y scatters the sources of its share of the columns.
template <typename Pixel>
PF_Err ScatterColumns(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  const ScatterPass<Pixel>& pass = *static_cast<const ScatterPass<Pixel>*>(refcon);
  const int32_t width = pass.src->width;
  const int32_t height = pass.src->height;
  const RowShare columns = ShareOfRow(y, height, width);
  if (columns.first == columns.end) return PF_Err_NONE;
  SlotLease lease(*pass.slots);
  ScatterSource job = ScatterTarget(pass.planes->Data(lease.Index()), pass.rowBytes, width, height);
  for (int32_t x = columns.first; x < columns.end; ++x) {
    for (int32_t sy = 0; sy < height; ++sy) {
      const int32_t index = pass.kernelOf[static_cast<size_t>(x) * height + sy];
      if (index == kNoKernel) continue;
      ScatterWith(job, (*pass.prepared)[static_cast<size_t>(index)], x, sy,
                  *PixelAt<Pixel>(pass.src, x, sy), pass.scatter);
    }
  }
  return PF_Err_NONE;
}

// The straightforward order, source by source down each column, with one
// poll per column: for sources whose values the lanes cannot hold, whose
// truncating stores depend on that order.
template <typename Pixel>
void ScatterInOrder(PF_EffectWorld* src, KernelSettings* settings, const BCLImage& control,
                    LadderMemo& memo, const MaskedKernelMaker* masked,
                    std::vector<ScatterKernel>& prepared, ShadowRows<Pixel>& shadow,
                    void (*scatter)(const ScatterSource&)) {
  ScatterSource job = ScatterTarget(reinterpret_cast<char*>(shadow.Row(0)), shadow.RowBytes(),
                                    src->width, src->height);
  const int32_t width = src->width;
  const int32_t height = src->height;
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      KernelPixelList list{nullptr, 0};
      const KernelView k = SampledKernel(control, memo, masked, x, y, &list);
      const KernelPixelList* listed = masked != nullptr ? &list : nullptr;
      const Pixel s = *PixelAt<Pixel>(src, x, y);
      const int32_t index = ChooseKernel(s, k, listed, prepared);
      if (index == kExactOnly) {
        ScatterExactly<Pixel>(k, listed, x, y, shadow, src);
      } else if (index != kNoKernel) {
        ScatterWith(job, prepared[static_cast<size_t>(index)], x, y, s, scatter);
      }
    }
    PollHost(settings->inData, x, width);
  }
}

// Each source's kernel, in the straightforward order; false as soon as a
// source needs the exact scatter.
template <typename Pixel>
bool ChooseKernels(PF_EffectWorld* src, const BCLImage& control, LadderMemo& memo,
                   const MaskedKernelMaker* masked, std::vector<ScatterKernel>& prepared,
                   std::vector<int32_t>& kernelOf) {
  const int32_t width = src->width;
  const int32_t height = src->height;
  kernelOf.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kNoKernel);
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      KernelPixelList list{nullptr, 0};
      const KernelView k = SampledKernel(control, memo, masked, x, y, &list);
      const int32_t index = ChooseKernel(*PixelAt<Pixel>(src, x, y), k,
                                         masked != nullptr ? &list : nullptr, prepared);
      if (index == kExactOnly) return false;
      kernelOf[static_cast<size_t>(x) * height + y] = index;
    }
  }
  return true;
}

template <typename Pixel>
void ScatterVariable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                     KernelHolderFactory* factory, KernelMaker* maker,
                     const MaskedKernelMaker* masked, const Kernels2D& kernels) {
  const double h = settings->hAmount;
  const double v = settings->vAmount;
  KernelHolderFactory onHostThreads = ResamplingOnHostThreads(*factory);
  AEObjectAutoPointer<BCLHolder> holder(onHostThreads.MakeBCLHolder(h, v, maker));
  const BCLImage& control = holder->Image();
  const KernelInterpolator& ladder = holder->Interpolator();
  LadderMemo memo(ladder, h, v);
  std::vector<ScatterKernel> prepared(static_cast<size_t>(std::max(ladder.Count(), 0)));
  PF_InData* inData = settings->inData;
  const int32_t height = src->height;
  std::vector<int32_t> kernelOf;
  if (height > INT16_MAX || !ChooseKernels<Pixel>(src, control, memo, masked, prepared, kernelOf)) {
    ShadowRows<Pixel> shadow(dst, false);
    try {
      ScatterInOrder<Pixel>(src, settings, control, memo, masked, prepared, shadow,
                            kernels.scatterSource);
    } catch (...) {
      shadow.Finish();
      throw;
    }
    shadow.Finish();
    return;
  }

  // In parallel, by strips of columns. A stop leaves dst as it arrived: the
  // calls finish in no particular order, so no partial image would mean
  // anything.
  ShadowRows<Pixel> shadow(dst, false);
  Slots slots(Slots::ForThisMachine(4) - 1);
  SlotPlanes planes(shadow.Row(0), shadow.RowBytes(), height, slots.Count());
  ScatterPass<Pixel> pass{src,    kernelOf.data(), &prepared,        kernels.scatterSource,
                          &slots, &planes,         shadow.RowBytes()};
  const PF_Err err =
      IterateRows<Pixel>(inData, 0, height, src, height, &pass, ScatterColumns<Pixel>, dst);
  RaiseIfHostFailed(err);
  planes.RaiseShadow();
  shadow.Finish();
}

bool Convolve2D(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                KernelHolderFactory* factory, KernelMaker* maker, const MaskedKernelMaker* masked,
                const ConvolvePlan& plan) {
  const Kernels2D& kernels = simd::KernelsFor(plan.simd).twoD;
  return DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    if (!HoldsPixels<Pixel>(src)) return false;
    if (factory->useBCL) {
      ScatterVariable<Pixel>(src, dst, settings, factory, maker, masked, kernels);
      return true;
    }
    AEObjectAutoPointer<SimpleKernelHolder> holder(
        factory->MakeHolder(settings->hAmount, settings->vAmount, maker));
    const KernelView view = holder->View();
    if (masked == nullptr) return GatherUniform<Pixel>(src, dst, *settings, view, nullptr, kernels, plan);
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

}  // namespace fast2d
