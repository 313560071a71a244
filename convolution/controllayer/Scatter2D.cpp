// The two-dimensional shapes under a control layer, fast: the scatter of
// the straightforward path into a 16-bit copy of dst, each ladder kernel
// prepared once as row spans of lane weights and as the spans and taps of a
// run spread, spread over the host's iterate threads by blocks of sources,
// each call raising its slot's copy: runs of sources along a row that share
// a kernel at once, other sources one by one. Sources whose values the
// lanes cannot hold make the whole scatter take the straightforward loop in
// its own order. A maximum is the same in any order, so neither the blocks
// nor the runs change the image.
#include "convolution/controllayer/Scatter2D.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "convolution/EnginePlan.h"
#include "convolution/FastShared.h"
#include "convolution/Slots.h"
#include "convolution/Weighted.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/controllayer/KernelInterpolator.h"
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

// Source columns and rows per call of the parallel scatter: the longest
// run, and enough calls that a frame whose kernels grow across it still
// shares out evenly.
constexpr int32_t kStripColumns = 128;
constexpr int32_t kStripRows = 64;

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
  // The same elements for runs of sources (ScatterRun): flat spans of two
  // or more weights of 32768, every other element as a tap.
  std::vector<ScatterSpan> spans;
  std::vector<ScatterTapGroup> groups;
  std::vector<ScatterTap> taps;
  int32_t levels = 0;
  // Runs at least this long take the run spread; shorter ones go source by
  // source.
  int32_t shortestRun = std::numeric_limits<int32_t>::max();
};

// The work, in vector operations of `pixels` pixels, of spreading a run of
// `length` sources of kernel k source by source and as a run: a row's
// vectors from a source, the run's doubling over its padding, and per
// vector a group's loads and multiplies beside its one store and a span's
// two loads. Rough weights: they only pick the length from which runs win.
double SourceBySourceCost(const ScatterKernel& k, int32_t length, int32_t pixels) {
  double perSource = 0.0;
  for (const ScatterRow& row : k.rows) perSource += (row.count + pixels - 1) / pixels + 1;
  return perSource * length;
}

double RunCost(const ScatterKernel& k, int32_t length, int32_t pixels) {
  auto vectors = [&](int32_t span) {
    return static_cast<double>((span + pixels - 1) / pixels + 1);
  };
  double cost = (k.levels + 1) * vectors(4 * k.width + length);
  for (const ScatterTapGroup& g : k.groups)
    cost += (0.4 + 0.6 * g.count) * vectors(length + g.reach);
  for (const ScatterSpan& s : k.spans) cost += 1.5 * vectors(length + s.count - 1);
  return cost;
}

constexpr int32_t kTapGap = 4;
constexpr int32_t kGroupTaps = 8;

// The spans and taps of the sorted, distinct elements, and the run length
// from which their spread is the cheaper.
void PrepareRunSpread(const std::vector<Element>& elements, int32_t pixels, ScatterKernel& k) {
  for (size_t n = 0; n < elements.size();) {
    size_t end = n + 1;
    if (elements[n].weight == 32768) {
      while (end < elements.size() && elements[end].j == elements[n].j &&
             elements[end].i == elements[end - 1].i + 1 && elements[end].weight == 32768) {
        ++end;
      }
    }
    const auto count = static_cast<int32_t>(end - n);
    if (count >= 2) {
      int32_t level = 0;
      while ((2 << level) <= count) ++level;
      k.spans.push_back(ScatterSpan{elements[n].j, elements[n].i, count, level});
      k.levels = std::max(k.levels, level);
    } else {
      const Element& e = elements[n];
      ScatterTapGroup* g = k.groups.empty() ? nullptr : &k.groups.back();
      // Taps a few columns apart share their row's loads and stores; a wider
      // gap would spread both over the columns between.
      if (g == nullptr || g->j != e.j || e.i - (g->i + g->reach) > kTapGap ||
          g->count == kGroupTaps) {
        k.groups.push_back(
            ScatterTapGroup{e.j, e.i, static_cast<int32_t>(k.taps.size()), 0, 0, false});
        g = &k.groups.back();
      }
      g->reach = e.i - g->i;
      ++g->count;
      if (e.weight >= 32768) g->heavy = true;
      k.taps.push_back(ScatterTap{g->reach, simd::WeightMul(e.weight), simd::WeightHi(e.weight)});
    }
    n = end;
  }
  for (int32_t length = 2; length <= kStripColumns; ++length) {
    if (RunCost(k, length, pixels) < SourceBySourceCost(k, length, pixels)) {
      k.shortestRun = length;
      break;
    }
  }
}

void PrepareScatterKernel(const KernelView& view, const KernelPixelList* list, int32_t channelMax,
                          int32_t pixels, ScatterKernel& k) {
  k.prepared = true;
  k.width = view.width;
  k.height = view.height;
  std::vector<Element> elements;
  if (!CollectElements(view, list, elements)) return;  // scalar only
  std::sort(elements.begin(), elements.end(),
            [](const Element& a, const Element& b) { return a.j != b.j ? a.j < b.j : a.i < b.i; });
  // A list may name an element twice; it raises the same value either way.
  elements.erase(
      std::unique(elements.begin(), elements.end(),
                  [](const Element& a, const Element& b) { return a.i == b.i && a.j == b.j; }),
      elements.end());
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
  PrepareRunSpread(elements, pixels, k);
}

// The straightforward weighted maximum of one channel, stored as a channel
// of the image's depth stores it (cut to `mask`).
inline void RaiseExactly(A_u_short& out, int32_t w, int32_t channel, int32_t mask) {
  const int32_t v = MulQ15(w, channel);
  if (v > out) out = static_cast<A_u_short>(v & mask);
}

// Source (x, y) as the straightforward loops read it from their cleaned copy.
template <typename Pixel>
Pixel SourceAt(const PF_EffectWorld* src, int32_t x, int32_t y, bool mask) {
  return CleanedIf(mask, *PixelAt<Pixel>(src, x, y));
}

// The straightforward scatter of one source pixel, for values the lanes
// cannot hold: each target takes one truncating store per source, in source
// order, as there.
template <typename Pixel>
void ScatterExactly(const KernelView& k, const KernelPixelList* list, int32_t x, int32_t y,
                    ShadowRows<Pixel>& shadow, const PF_EffectWorld* src, bool maskSource) {
  constexpr int32_t kMask = kStorableMax<Pixel>;
  const Pixel s = SourceAt<Pixel>(src, x, y, maskSource);
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
KernelView KernelOfSample(LadderMemo& memo, const MaskedKernelMaker* masked, int32_t controlValue,
                          double f, bool onLayer, KernelPixelList* list) {
  const KernelView k = memo.For(controlValue, f, onLayer);
  if (masked != nullptr) {
    *list = ListOfKernel(masked->Table(), masked->PixelsPerKernel(), k.kernelIndex);
  }
  return k;
}

KernelView SampledKernel(const BCLImage& control, LadderMemo& memo, const MaskedKernelMaker* masked,
                         int32_t x, int32_t y, KernelPixelList* list) {
  int32_t controlValue = 0;
  double f = 0.0;
  const bool onLayer = control.SampleRow(x, y, 1, &f, &controlValue).Holds(0);
  return KernelOfSample(memo, masked, controlValue, f, onLayer, list);
}

// How the lanes treat a source with kernel k, preparing the kernel when it
// first appears: kNoKernel when the source raises nothing, kExactOnly when
// only the exact scalar loop stores what the straightforward one does, else
// the index of its prepared kernel.
// `prepare` prepares a kernel that has not been.
template <typename Pixel, typename Prepare>
int32_t ChooseKernel(const Pixel& s, const KernelView& k, const KernelPixelList* listed,
                     std::vector<ScatterKernel>& prepared, Prepare&& prepare) {
  if (IsBlack(s) || k.width < 1 || k.height < 1) return kNoKernel;
  if (k.kernelIndex < 0 || k.kernelIndex >= static_cast<int32_t>(prepared.size())) {
    return kExactOnly;
  }
  ScatterKernel& plan = prepared[static_cast<size_t>(k.kernelIndex)];
  prepare(plan, k, listed);
  if (LargestChannel(s) > plan.safeChannel || plan.width != k.width || plan.height != k.height) {
    return kExactOnly;
  }
  return k.kernelIndex;
}

template <typename Pixel>
struct PrepareInOrder {
  int32_t pixels;  // per vector of the instruction set
  void operator()(ScatterKernel& plan, const KernelView& k, const KernelPixelList* listed) const {
    if (!plan.prepared) PrepareScatterKernel(k, listed, kStorableMax<Pixel>, pixels, plan);
  }
};

ScatterSource ScatterTarget(char* data, intptr_t rowBytes, int32_t width, int32_t height) {
  return ScatterSource{{data, rowBytes, width, height}, 0, 0, nullptr, 0, nullptr, {0, 0, 0, 0}};
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
  LoadPixel(s, job.value);
  scatter(job);
}

template <typename Pixel>
struct ScatterPass {
  const PF_EffectWorld* src;
  bool maskSource;          // see SourceAt
  const int32_t* kernelOf;  // prepared kernel of each source, row by row, or kNoKernel
  const std::vector<ScatterKernel>* prepared;
  void (*scatter)(const ScatterSource&);
  void (*scatterRun)(const ScatterRun&);
  Slots* slots;
  SlotPlanes* planes;
  intptr_t rowBytes;
  int32_t pad;       // of a run's lanes (ScatterRun), in pixels
  int32_t levels;    // the most any prepared kernel's spans need
  int32_t strips;    // of kStripColumns source columns
  int32_t bandRows;  // of sources per call
  // A run's lanes by slot, row 0 all zeros between runs.
  std::vector<std::vector<uint16_t>>* runLanes;

  intptr_t Stride() const {
    const intptr_t lanes = 4 * (3 * static_cast<intptr_t>(pad) + kStripColumns);
    return (lanes + kMaxVectorLanes - 1) / kMaxVectorLanes * kMaxVectorLanes;
  }
};

// Call y's band of rows of its strip of columns, row by row: runs of one kernel
// (sources that raise nothing may lie within, as zeros) long enough for
// their kernel's run spread take it, the other sources go one by one.
template <typename Pixel>
PF_Err ScatterStrip(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  const ScatterPass<Pixel>& pass = *static_cast<const ScatterPass<Pixel>*>(refcon);
  const int32_t width = pass.src->width;
  const int32_t height = pass.src->height;
  const int32_t first = static_cast<int32_t>(y) % pass.strips * kStripColumns;
  const int32_t end = std::min(first + kStripColumns, width);
  const int32_t top = static_cast<int32_t>(y) / pass.strips * pass.bandRows;
  const int32_t bottom = std::min(top + pass.bandRows, height);
  SlotLease lease(*pass.slots);
  char* plane = pass.planes->Data(lease.Index());
  ScatterSource job = ScatterTarget(plane, pass.rowBytes, width, height);
  const intptr_t stride = pass.Stride();
  std::vector<uint16_t>& lanes = (*pass.runLanes)[static_cast<size_t>(lease.Index())];
  ScatterRun run{};
  run.plane = job.plane;
  run.lanes = lanes.data();
  run.stride = stride;
  run.pad = pass.pad;
  auto kernelAt = [&](int32_t x, int32_t sy) {
    return pass.kernelOf[static_cast<size_t>(sy) * width + x];
  };
  for (int32_t sy = top; sy < bottom; ++sy) {
    for (int32_t x = first; x < end;) {
      const int32_t index = kernelAt(x, sy);
      if (index == kNoKernel) {
        ++x;
        continue;
      }
      int32_t last = x;
      for (int32_t n = x + 1; n < end; ++n) {
        const int32_t other = kernelAt(n, sy);
        if (other == index) {
          last = n;
        } else if (other != kNoKernel) {
          break;
        }
      }
      const ScatterKernel& plan = (*pass.prepared)[static_cast<size_t>(index)];
      const int32_t length = last + 1 - x;
      if (length < plan.shortestRun) {
        for (int32_t n = x; n <= last; ++n) {
          if (kernelAt(n, sy) == index) {
            ScatterWith(job, plan, n, sy, SourceAt<Pixel>(pass.src, n, sy, pass.maskSource),
                        pass.scatter);
          }
        }
        x = last + 1;
        continue;
      }
      uint16_t* values = lanes.data() + 4 * static_cast<intptr_t>(pass.pad);
      const Pixel* row = PixelAt<Pixel>(pass.src, x, sy);
      for (int32_t n = 0; n < length; ++n) {
        if (kernelAt(x + n, sy) != index) continue;
        LoadPixel(CleanedIf(pass.maskSource, row[n]), values + 4 * static_cast<intptr_t>(n));
      }
      run.left = x - plan.width / 2;
      run.top = sy - plan.height / 2;
      run.length = length;
      run.spans = plan.spans.data();
      run.spanCount = static_cast<int32_t>(plan.spans.size());
      run.groups = plan.groups.data();
      run.groupCount = static_cast<int32_t>(plan.groups.size());
      run.taps = plan.taps.data();
      run.levels = plan.levels;
      pass.scatterRun(run);
      // The next run's padding must read zeros.
      std::fill_n(values, 4 * static_cast<size_t>(length), uint16_t{0});
      x = last + 1;
    }
  }
  return PF_Err_NONE;
}

// The straightforward order, source by source down each column, with one
// poll per column: for sources whose values the lanes cannot hold, whose
// truncating stores depend on that order.
template <typename Pixel>
void ScatterInOrder(PF_EffectWorld* src, bool maskSource, KernelSettings* settings,
                    const BCLImage& control, LadderMemo& memo, const MaskedKernelMaker* masked,
                    std::vector<ScatterKernel>& prepared, ShadowRows<Pixel>& shadow,
                    void (*scatter)(const ScatterSource&), int32_t pixels) {
  ScatterSource job = ScatterTarget(reinterpret_cast<char*>(shadow.Row(0)), shadow.RowBytes(),
                                    src->width, src->height);
  const int32_t width = src->width;
  const int32_t height = src->height;
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      KernelPixelList list{nullptr, 0};
      const KernelView k = SampledKernel(control, memo, masked, x, y, &list);
      const KernelPixelList* listed = masked != nullptr ? &list : nullptr;
      const Pixel s = SourceAt<Pixel>(src, x, y, maskSource);
      const int32_t index = ChooseKernel(s, k, listed, prepared, PrepareInOrder<Pixel>{pixels});
      if (index == kExactOnly) {
        ScatterExactly<Pixel>(k, listed, x, y, shadow, src, maskSource);
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
bool ChooseKernels(PF_EffectWorld* src, bool maskSource, const BCLImage& control, LadderMemo& memo,
                   const MaskedKernelMaker* masked, std::vector<ScatterKernel>& prepared,
                   std::vector<int32_t>& kernelOf, int32_t pixels) {
  const int32_t width = src->width;
  const int32_t height = src->height;
  kernelOf.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kNoKernel);
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      KernelPixelList list{nullptr, 0};
      const KernelView k = SampledKernel(control, memo, masked, x, y, &list);
      const int32_t index = ChooseKernel(SourceAt<Pixel>(src, x, y, maskSource), k,
                                         masked != nullptr ? &list : nullptr, prepared,
                                         PrepareInOrder<Pixel>{pixels});
      if (index == kExactOnly) return false;
      kernelOf[static_cast<size_t>(y) * width + x] = index;
    }
  }
  return true;
}

// ChooseKernels on the host's threads, by bands of rows, where sampling the
// layer cannot fail: a memo per slot, each kernel prepared once, by the
// first call that meets it. exact: some source needs the exact scatter.
template <typename Pixel>
class ChoiceOnHostThreads {
 public:
  ChoiceOnHostThreads(PF_EffectWorld* source, bool maskedSource, const BCLHolder& holder,
                      const MaskedKernelMaker* maskedMaker, std::vector<ScatterKernel>& kernels,
                      std::vector<int32_t>& choices, int32_t vectorPixels)
      : src(source),
        maskSource(maskedSource),
        control(holder.Image()),
        masked(maskedMaker),
        prepared(kernels),
        kernelOf(choices),
        pixels(vectorPixels),
        ready(new std::atomic<bool>[kernels.size() + 1]),
        slots(Slots::ForThisMachine(4) - 1) {
    for (int32_t n = 0; n < slots.Count(); ++n) {
      memos.push_back(std::make_unique<LadderMemo>(holder.Interpolator(), holder.HAmount(),
                                                   holder.VAmount(),
                                                   holder.Image().LargestControl() + 1));
    }
    for (size_t n = 0; n <= kernels.size(); ++n) ready[n].store(false);
  }

  static bool Possible(const BCLImage& control) {
    const AEWorld& placed = control.ControlImage();
    return placed.RawWorld() == nullptr || placed.InData() != nullptr;
  }

  // False where some source needs the exact scatter.
  bool Run(PF_InData* inData, PF_EffectWorld* dst) {
    kernelOf.assign(static_cast<size_t>(src->width) * static_cast<size_t>(src->height), kNoKernel);
    const PF_Err err = IterateRows<Pixel>(inData, 0, Calls(), src, Calls(), this, Function, dst);
    if (failure) std::rethrow_exception(failure);
    RaiseIfHostFailed(err);
    return !exact.load();
  }

 private:
  int32_t Calls() const { return ChoiceCalls(src->height); }

  static PF_Err Function(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
    auto& self = *static_cast<ChoiceOnHostThreads*>(refcon);
    const RowShare share = ShareOfRow(y, self.Calls(), self.src->height);
    SlotLease lease(self.slots);
    LadderMemo& memo = *self.memos[static_cast<size_t>(lease.Index())];
    // Not std::call_once: an exception cannot pass through pthread_once.
    auto prepare = [&](ScatterKernel& plan, const KernelView& k, const KernelPixelList* listed) {
      std::atomic<bool>& done = self.ready[static_cast<size_t>(k.kernelIndex)];
      if (done.load(std::memory_order_acquire)) return;
      std::lock_guard<std::mutex> hold(self.prepareLock);
      if (done.load(std::memory_order_relaxed)) return;
      PrepareScatterKernel(k, listed, kStorableMax<Pixel>, self.pixels, plan);
      done.store(true, std::memory_order_release);
    };
    try {
      const int32_t width = self.src->width;
      std::vector<double> f(static_cast<size_t>(width));
      std::vector<int32_t> values(static_cast<size_t>(width));
      for (int32_t sy = share.first; sy < share.end && !self.exact.load(); ++sy) {
        const BCLImage::LayerSpan on =
            self.control.SampleRow(0, sy, width, f.data(), values.data());
        for (int32_t x = 0; x < width; ++x) {
          KernelPixelList list{nullptr, 0};
          const KernelView k = KernelOfSample(memo, self.masked, values[static_cast<size_t>(x)],
                                              f[static_cast<size_t>(x)], on.Holds(x), &list);
          const int32_t index =
              ChooseKernel(SourceAt<Pixel>(self.src, x, sy, self.maskSource), k,
                           self.masked != nullptr ? &list : nullptr, self.prepared, prepare);
          if (index == kExactOnly) {
            self.exact = true;
            break;
          }
          self.kernelOf[static_cast<size_t>(sy) * width + x] = index;
        }
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(self.failureLock);
      if (!self.failure) self.failure = std::current_exception();
      return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
  }

  PF_EffectWorld* src;
  bool maskSource;  // see SourceAt
  const BCLImage& control;
  const MaskedKernelMaker* masked;
  std::vector<ScatterKernel>& prepared;
  std::vector<int32_t>& kernelOf;
  int32_t pixels;
  std::unique_ptr<std::atomic<bool>[]> ready;  // by kernel index: prepared
  std::mutex prepareLock;
  Slots slots;
  std::vector<std::unique_ptr<LadderMemo>> memos;  // by slot
  std::atomic<bool> exact{false};
  std::mutex failureLock;
  std::exception_ptr failure;
};

}  // namespace

template <typename Pixel>
void ScatterVariable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                     KernelHolderFactory* factory, KernelMaker* maker,
                     const MaskedKernelMaker* masked, const Kernels2D& kernels,
                     const ConvolvePlan& plan) {
  const SimdLevel simd = plan.simd;
  const bool maskSource = plan.maskTransparentSource;
  // Finish writes every pixel of dst, so unless dst holds a floor the
  // shadow starts from zeros without reading it.
  const bool fromZeros = plan.destination != DestinationState::Floor;
  const double h = settings->hAmount;
  const double v = settings->vAmount;
  KernelHolderFactory onHostThreads = ResamplingOnHostThreads(*factory, simd);
  AEObjectAutoPointer<BCLHolder> holder(onHostThreads.MakeBCLHolder(h, v, maker));
  const BCLImage& control = holder->Image();
  const KernelInterpolator& ladder = holder->Interpolator();
  LadderMemo memo(ladder, h, v, control.LargestControl() + 1);
  std::vector<ScatterKernel> prepared(static_cast<size_t>(std::max(ladder.Count(), 0)));
  PF_InData* inData = settings->inData;
  const int32_t height = src->height;
  std::vector<int32_t> kernelOf;
  const int32_t pixels = kernels.blockCells / 4;
  bool lanes = height <= kMaxIterateRows;
  if (lanes && ChoiceOnHostThreads<Pixel>::Possible(control)) {
    ChoiceOnHostThreads<Pixel> choice(src, maskSource, *holder, masked, prepared, kernelOf, pixels);
    lanes = choice.Run(inData, dst);
  } else if (lanes) {
    lanes =
        ChooseKernels<Pixel>(src, maskSource, control, memo, masked, prepared, kernelOf, pixels);
  }
  if (!lanes) {
    ShadowRows<Pixel> shadow(dst, false, fromZeros);
    try {
      ScatterInOrder<Pixel>(src, maskSource, settings, control, memo, masked, prepared, shadow,
                            kernels.scatterSource, pixels);
    } catch (...) {
      shadow.Finish();
      throw;
    }
    shadow.Finish();
    return;
  }

  // In parallel, by blocks of sources. A stop leaves dst as it arrived: the
  // calls finish in no particular order, so no partial image would mean
  // anything.
  ShadowRows<Pixel> shadow(dst, false, fromZeros);
  Slots slots(Slots::ForThisMachine(4) - 1);
  SlotPlanes planes(shadow.Row(0), shadow.RowBytes(), height, slots.Count());
  int32_t widest = 0;
  int32_t levels = 0;
  for (const ScatterKernel& k : prepared) {
    widest = std::max(widest, k.width);
    levels = std::max(levels, k.levels);
  }
  std::vector<std::vector<uint16_t>> runLanes(static_cast<size_t>(slots.Count()));
  const int32_t strips = (src->width + kStripColumns - 1) / kStripColumns;
  // Taller bands where the host could not number so many calls.
  const int32_t bands =
      std::max(1, std::min((height + kStripRows - 1) / kStripRows, kMaxIterateRows / strips));
  const int32_t bandRows = (height + bands - 1) / bands;
  ScatterPass<Pixel> pass{src,
                          maskSource,
                          kernelOf.data(),
                          &prepared,
                          kernels.scatterSource,
                          kernels.scatterRun,
                          &slots,
                          &planes,
                          shadow.RowBytes(),
                          2 * widest + 2 * kMaxVectorLanes / 4,
                          levels,
                          strips,
                          bandRows,
                          &runLanes};
  for (std::vector<uint16_t>& slotLanes : runLanes) {
    slotLanes.assign(static_cast<size_t>(pass.Stride()) * static_cast<size_t>(levels + 1), 0);
  }
  const int32_t calls = strips * ((height + bandRows - 1) / bandRows);
  const PF_Err err =
      IterateRows<Pixel>(inData, 0, calls, src, calls, &pass, ScatterStrip<Pixel>, dst);
  RaiseIfHostFailed(err);
  planes.RaiseShadow();
  shadow.Finish();
}

#define QB_INSTANTIATE(Pixel)                                                                \
  template void ScatterVariable<Pixel>(                                                      \
      PF_EffectWorld*, PF_EffectWorld*, KernelSettings*, KernelHolderFactory*, KernelMaker*, \
      const MaskedKernelMaker*, const Kernels2D&, const ConvolvePlan&);
QB_FOR_EACH_INTEGER_PIXEL(QB_INSTANTIATE)
#undef QB_INSTANTIATE

}  // namespace fastpath
