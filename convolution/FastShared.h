// Pieces the fast paths share: the host poll of the straightforward loops,
// the largest value of each depth, and a memo of ladder lookups by control
// value. Weights are Q15 (32768 = 1.0); channel values are 0..255 or
// 0..32768 for valid images, but any 16-bit value is handled.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "convolution/EnginePlan.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/controllayer/KernelInterpolator.h"
#include "convolution/gather2d/Convolve2D.h"
#include "convolution/simd/Levels.h"
#include "hostapi/PluginApi.h"
#include "image/AEException.h"
#include "image/HostPoll.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"
#include "kernels/KernelStorage.h"

namespace fastpath {

// The factory as the control-layer paths here use it: the layer resampled
// on the host's threads, with the widest vectors the render's instruction
// sets reach (the same image as the ordered loops).
inline KernelHolderFactory ResamplingOnHostThreads(const KernelHolderFactory& factory,
                                                   SimdLevel simd) {
  KernelHolderFactory copy = factory;
  copy.bcl.resampleRows = simd >= SimdLevel::AVX512 ? ScaleRows::OnHostThreadsAvx512
                          : simd >= SimdLevel::AVX2 ? ScaleRows::OnHostThreadsAvx2
                                                    : ScaleRows::OnHostThreads;
  return copy;
}

template <typename Pixel>
inline int32_t LargestChannel(const Pixel& p) {
  return std::max<int32_t>(std::max<int32_t>(p.alpha, p.red), std::max<int32_t>(p.green, p.blue));
}

template <typename Pixel>
int32_t LargestChannelOf(const PF_EffectWorld* world) {
  int32_t largest = 0;
  for (int32_t y = 0; y < world->height; ++y) {
    const Pixel* row = PixelAt<Pixel>(world, 0, y);
    for (int32_t x = 0; x < world->width; ++x) largest = std::max(largest, LargestChannel(row[x]));
  }
  return largest;
}

// The iterate calls of a pass that chooses kernels by bands of image rows,
// so that a table kept column by column is written a cache line at a time.
inline int32_t ChoiceCalls(int32_t rows) {
  constexpr int32_t kBandRows = 8;
  return std::min((rows + kBandRows - 1) / kBandRows, kMaxIterateRows);
}

// Values kept by control value for the sources on the placed layer, where f
// follows from the control value, and in one more entry for the sources off
// it, which all share the outside pair (see BCLImage::SampleRow). Entries
// start as kUnknown; controls is the largest control value plus one, and
// values above full scale (no host sends them) have no entry.
template <typename T, T kUnknown>
class ControlMemo {
 public:
  ControlMemo() = default;
  explicit ControlMemo(int32_t controls) { Prepare(controls); }

  bool Prepared() const { return !entries.empty(); }
  void Prepare(int32_t controls) {
    constexpr int32_t kMostControls = PixelTraits<PF_Pixel16>::kControlMax + 1;
    entries.assign(static_cast<size_t>(std::min(controls, kMostControls)) + 1, kUnknown);
  }

  // A source's entry; null where its control value lies beyond the table.
  T* Entry(int32_t control, bool onLayer) {
    const auto outside = static_cast<int32_t>(entries.size()) - 1;
    if (!onLayer) return &entries[static_cast<size_t>(outside)];
    return control >= 0 && control < outside ? &entries[static_cast<size_t>(control)] : nullptr;
  }

 private:
  std::vector<T> entries;
};

// KernelFor(f * h, f * v) depends on f alone, and f takes few values: the
// memo keeps each control value's view as a two-byte slot among the views
// met so far, where a rung of the ladder takes one slot however many values
// reach it, so that the table stays in the caches' reach.
class LadderMemo {
 public:
  LadderMemo(const KernelInterpolator& ladder, double hAmount, double vAmount, int32_t controls)
      : interpolator(ladder),
        h(hAmount),
        v(vAmount),
        slotOf(controls),
        rungSlots(static_cast<size_t>(std::max(ladder.Count(), 0)), kNoSlot) {}

  KernelView For(int32_t control, double f, bool onLayer) {
    int16_t* slot = slotOf.Entry(control, onLayer);
    if (slot != nullptr && *slot != kNoSlot) return views[static_cast<size_t>(*slot)];
    const KernelView k = interpolator.KernelFor(f * h, f * v);
    if (slot != nullptr) *slot = SlotFor(k);
    return k;
  }

 private:
  static constexpr int16_t kNoSlot = -1;

  static bool Same(const KernelView& a, const KernelView& b) {
    return a.kernelIndex == b.kernelIndex && a.width == b.width && a.height == b.height &&
           a.originX == b.originX && a.originY == b.originY && a.rowStride == b.rowStride &&
           a.weights == b.weights;
  }

  // A view equal to its rung's first shares that slot; any other (never met
  // in practice) gets one of its own while 16 bits of slots last.
  int16_t SlotFor(const KernelView& k) {
    int16_t* rung = k.kernelIndex >= 0 && k.kernelIndex < static_cast<int32_t>(rungSlots.size())
                        ? &rungSlots[static_cast<size_t>(k.kernelIndex)]
                        : nullptr;
    if (rung != nullptr && *rung != kNoSlot && Same(views[static_cast<size_t>(*rung)], k)) {
      return *rung;
    }
    if (views.size() >= static_cast<size_t>(std::numeric_limits<int16_t>::max())) return kNoSlot;
    views.push_back(k);
    const auto slot = static_cast<int16_t>(views.size() - 1);
    if (rung != nullptr && *rung == kNoSlot) *rung = slot;
    return slot;
  }

  const KernelInterpolator& interpolator;
  double h;
  double v;
  ControlMemo<int16_t, kNoSlot> slotOf;
  std::vector<int16_t> rungSlots;  // by kernel index: the slot of its first view
  std::vector<KernelView> views;
};

// A 16-bit copy of dst that the fast scatters write instead of dst, rows
// at least kRowPad pixels longer (scratch for whole vectors) and starting on
// 64-byte boundaries, so that the vectors of the pixel grid never straddle
// cache lines; transposed when asked (row x = column x of dst). Values stay
// what a channel of dst's depth holds. Where dst holds only zeros, or nothing
// the render keeps, the copy starts from zeros without reading it. Finish
// puts the copy back, every pixel of dst (a caller may call it when a render
// stops early).
template <typename Pixel>
class ShadowRows {
 public:
  ShadowRows(PF_EffectWorld* destination, bool transpose, bool fromZeros = false)
      : dst(destination),
        transposed(transpose),
        stride(((transpose ? destination->height : destination->width) + kRowPad + 7) / 8 * 8),
        rows(transpose ? dst->width : dst->height),
        storage(new PF_Pixel16[static_cast<size_t>(stride) * rows + 8]) {
    const auto address = reinterpret_cast<uintptr_t>(storage.get());
    copy = storage.get() + (64 - address % 64) % 64 / sizeof(PF_Pixel16);
    const int32_t length = transpose ? dst->height : dst->width;
    if (fromZeros) {
      std::fill_n(copy, static_cast<size_t>(stride) * rows, PF_Pixel16{0, 0, 0, 0});
      return;
    }
    for (int32_t r = 0; r < rows; ++r) {
      std::fill(Row(r) + length, Row(r) + stride, PF_Pixel16{0, 0, 0, 0});
    }
    EachPixel([](Pixel& d, PF_Pixel16& c) { c = PF_Pixel16{d.alpha, d.red, d.green, d.blue}; });
  }

  void Finish() {
    using Channel = typename PixelTraits<Pixel>::Channel;
    EachPixel([](Pixel& d, PF_Pixel16& c) {
      d = Pixel{static_cast<Channel>(c.alpha), static_cast<Channel>(c.red),
                static_cast<Channel>(c.green), static_cast<Channel>(c.blue)};
    });
  }

  PF_Pixel16* Row(int32_t r) { return copy + static_cast<size_t>(r) * stride; }
  intptr_t RowBytes() const { return static_cast<intptr_t>(stride) * sizeof(PF_Pixel16); }

 private:
  // Visits every pixel of dst with its pixel of the copy. A transposed copy
  // goes in bands of eight rows of dst: its rows start on 64-byte lines, so
  // the eight pixels a band takes from one of them fill one line, read once
  // and whole instead of once per row of dst.
  template <typename Visit>
  void EachPixel(Visit&& visit) {
    if (!transposed) {
      for (int32_t y = 0; y < dst->height; ++y) {
        Pixel* row = PixelAt<Pixel>(dst, 0, y);
        PF_Pixel16* from = Row(y);
        for (int32_t x = 0; x < dst->width; ++x) visit(row[x], from[x]);
      }
      return;
    }
    constexpr int32_t kBand = 64 / sizeof(PF_Pixel16);
    // Lines of the copy lie a whole row apart, beyond what the processor's
    // prefetchers follow.
    constexpr int32_t kAhead = 8;
    for (int32_t y0 = 0; y0 < dst->height; y0 += kBand) {
      const int32_t y1 = std::min(dst->height, y0 + kBand);
      char* band = reinterpret_cast<char*>(PixelAt<Pixel>(dst, 0, y0));
      for (int32_t x = 0; x < dst->width; ++x) {
        PF_Pixel16* from = Row(x) + y0;
        if (x + kAhead < dst->width) __builtin_prefetch(Row(x + kAhead) + y0);
        char* to = band + static_cast<intptr_t>(x) * static_cast<intptr_t>(sizeof(Pixel));
        for (int32_t y = y0; y < y1; ++y, to += dst->rowbytes) {
          visit(*reinterpret_cast<Pixel*>(to), from[y - y0]);
        }
      }
    }
  }

  PF_EffectWorld* dst;
  bool transposed;
  int32_t stride;
  int32_t rows;
  std::unique_ptr<PF_Pixel16[]> storage;  // every pixel written before it is read
  PF_Pixel16* copy = nullptr;
};

// Where the parallel calls of a path that raises a ShadowRows write: slot 0
// into the shadow itself, the others into private zeroed planes of the same
// layout, raised into the shadow once every call is done (a maximum does not
// depend on the order its values arrive in). Planes are allocated up front,
// so that the number of allocations does not depend on the host's threads;
// a plane is cleared by the first call that takes its slot (on that call's
// thread), and one no call took is left out of the raise.
class SlotPlanes {
 public:
  SlotPlanes(PF_Pixel16* shadow, intptr_t shadowRowBytes, int32_t rows, int32_t slots)
      : first(reinterpret_cast<char*>(shadow)),
        rowBytes(shadowRowBytes),
        bytes(static_cast<size_t>(shadowRowBytes) * static_cast<size_t>(rows)) {
    const auto count = static_cast<size_t>(std::max(slots - 1, 0));
    planes.reserve(count);
    for (size_t n = 0; n < count; ++n) {
      planes.emplace_back(new uint16_t[bytes / sizeof(uint16_t) + 32]);
    }
    cleared.assign(count, 0);
  }

  // Only the holder of the slot's lease.
  PF_Pixel16* Row(int32_t slot, int32_t r) {
    return reinterpret_cast<PF_Pixel16*>(Data(slot) + r * rowBytes);
  }

  intptr_t RowBytes() const { return rowBytes; }

  // Only the holder of the slot's lease.
  char* Data(int32_t slot) {
    if (slot == 0) return first;
    const auto n = static_cast<size_t>(slot - 1);
    char* plane = Aligned(n);
    if (cleared[n] == 0) {
      std::fill_n(plane, bytes, char{0});
      cleared[n] = 1;
    }
    return plane;
  }

  void RaiseShadow() {
    auto* shadow = reinterpret_cast<uint16_t*>(first);
    const size_t lanes = bytes / sizeof(uint16_t);
    for (size_t n = 0; n < planes.size(); ++n) {
      if (cleared[n] == 0) continue;
      const auto* plane = reinterpret_cast<const uint16_t*>(Aligned(n));
      for (size_t l = 0; l < lanes; ++l) shadow[l] = std::max(shadow[l], plane[l]);
    }
  }

 private:
  // Aligned as the shadow's rows are, so vectors fall on the same grid.
  char* Aligned(size_t n) const {
    const auto address = reinterpret_cast<uintptr_t>(planes[n].get());
    return reinterpret_cast<char*>(address + (64 - address % 64) % 64);
  }

  char* first;
  intptr_t rowBytes;
  size_t bytes;
  std::vector<std::unique_ptr<uint16_t[]>> planes;
  std::vector<char> cleared;  // by plane; each written by its slot's holders only
};

// A kernel element with weight > 0: column i, row j, origin top-left.
struct Element {
  int32_t i;
  int32_t j;
  int32_t weight;
};

// Every positive element of a full kernel, or of the listed elements of a
// masked one. False when a listed element lies outside the kernel, which
// the straightforward path would read from beyond it.
inline bool CollectElements(const KernelView& view, const KernelPixelList* list,
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

}  // namespace fastpath
