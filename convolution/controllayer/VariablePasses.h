// The separable weighted maximum under a Blur Control Layer: a per-pixel
// amount, first pass along the axis with the smaller amount, first-pass
// samples kept as SecondPassInfo records that carry their source's control
// value and are spread by the second-pass kernel of that value.
//
// Weights are Q15 (32768 = 1.0); a weighted channel is (w * c) >> 15. Kernels
// are centred on element (width/2, height/2). Records live in pages owned by
// an SPIMaker and are handed out and recycled per line; a grid cell (x, y)
// heads the list of records that landed on pixel (x, y) of the line being
// processed.
#pragma once

#include <cstdint>

#include "convolution/EnginePlan.h"
#include "hostapi/PluginApi.h"
#include "image/Containers.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"

class BCLHolder;
class KernelHolderFactory;

// dst is a floor (as the render hands it over, cleared) of src's size and
// pixel format.
void ConvolveVariable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                      KernelHolderFactory* factory, KernelMaker1D* maker, const ConvolvePlan& plan);

// Both passes need one-dimensional kernels; a ladder that gives anything else
// raises AEException("1D kernel expected, got a 2D kernel instead :(").
void Require1D(const KernelView& kernel);

// One first-pass sample on its way to the second pass. pixel holds the four
// weighted channels; control is the source pixel's control value; weight is
// the low 16 bits of the first-pass weight.
template <typename Pixel>
struct SecondPassInfo {
  Pixel pixel;
  uint16_t control;
  uint16_t weight;
  SecondPassInfo* next;
};

// Hands out records from pages of kPageRecords, reused line after line; a
// merged-away record goes back on the free list. Pages are freed only with
// the maker.
template <typename Pixel>
class SPIMaker {
 public:
  static constexpr int32_t kPageRecords = 50000;
  using Record = SecondPassInfo<Pixel>;

  SPIMaker() = default;
  SPIMaker(const SPIMaker&) = delete;
  SPIMaker& operator=(const SPIMaker&) = delete;

  Record* NewRecord();
  void Recycle(Record* record) {
    record->next = freeList;
    freeList = record;
  }
  // Forgets every record handed out; the pages stay for the next line.
  void Reset() {
    freeList = nullptr;
    slot = 0;
    page = 0;
  }
  int32_t PageCount() const { return pages.PageCount(); }

 private:
  void AddRecordPage();

  Record* freeList = nullptr;
  SafeStack<Array1D<Record>> pages;
  int32_t slot = 0;
  int32_t page = 0;
  bool initialised = false;
};

// Builds the holders of the two passes, first pass first (each prepares the
// maker). The first pass makes one record per tap, so it runs along the axis
// with the smaller amount, vertical on a tie; returns whether that is
// horizontal. The second holder is only asked for kernels by control value;
// the fast engine spares it placing (resampling) the layer.
enum class SecondPassLayer { Placed, Skipped };
bool MakePassHolders(const KernelSettings& settings, KernelHolderFactory* factory,
                     KernelMaker1D* maker, AEObjectAutoPointer<BCLHolder>& first,
                     AEObjectAutoPointer<BCLHolder>& second,
                     SecondPassLayer layer = SecondPassLayer::Placed);

// Drops what the new record cannot win against the cell's list (and what the
// list cannot win against it). True: the new record is spent and the caller
// recycles it; false: the caller links it in as the cell's new head.
template <typename Pixel>
bool MergeRecord(SecondPassInfo<Pixel>* record, SecondPassInfo<Pixel>** head,
                 SPIMaker<Pixel>& maker);

// Spreads one record from (x, y) with k2 into dst, channel by channel as a
// running maximum; taps outside dst are dropped.
template <typename Pixel>
void ScatterSecondPass(const KernelView* k2, int32_t x, int32_t y, PF_EffectWorld* dst,
                       const SecondPassInfo<Pixel>* record, bool red, bool green, bool blue,
                       bool alpha);

namespace fastpath {

// The fast record algorithm: the same image as ConvolveVariable's
// straightforward loops on the host's threads, or false, having written
// nothing, where it cannot guarantee that. With maskSource the colour of
// src's fully transparent pixels reads as 0. `destination` says what dst
// holds: where that is zeros or anything at all (Overwrite), dst is not read,
// and a finished render writes every pixel of it.
template <typename Pixel>
bool ConvolveVariableSeparable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                               KernelHolderFactory* factory, KernelMaker1D* maker, SimdLevel simd,
                               bool maskSource, DestinationState destination);

}  // namespace fastpath
