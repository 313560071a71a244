#include "convolution/controllayer/VariablePasses.h"

#include "convolution/Weighted.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/gather2d/Fast2D.h"
#include "convolution/separable/Separable.h"
#include "image/AEException.h"
#include "image/HostPoll.h"
#include "image/PixelTraits.h"

namespace {

template <typename Pixel>
typename PixelTraits<Pixel>::Channel Weighted(int32_t weight,
                                              typename PixelTraits<Pixel>::Channel channel) {
  return static_cast<typename PixelTraits<Pixel>::Channel>(Weigh<Pixel>(weight, channel));
}

// A channel that the other record matches or beats can never decide a
// destination pixel; ties go to the record that stays.
template <typename Pixel>
void ZeroCovered(Pixel& loser, const Pixel& winner) {
  if (loser.red <= winner.red) loser.red = 0;
  if (loser.green <= winner.green) loser.green = 0;
  if (loser.blue <= winner.blue) loser.blue = 0;
  if (loser.alpha <= winner.alpha) loser.alpha = 0;
}

template <typename Pixel>
void ConvolveVariableStraightforward(PF_EffectWorld* src, PF_EffectWorld* dst,
                                     KernelSettings* settings, KernelHolderFactory* factory,
                                     KernelMaker1D* maker) {
  using Record = SecondPassInfo<Pixel>;
  const int32_t width = src->width;
  const int32_t height = src->height;

  SPIMaker<Pixel> records;
  Array2D<Record*> grid;
  grid.Resize(width, height, nullptr);

  AEObjectAutoPointer<BCLHolder> first;
  AEObjectAutoPointer<BCLHolder> second;
  const bool firstIsHorizontal = MakePassHolders(*settings, factory, maker, first, second);
  const BCLImage& control1 = first->Image();
  const KernelInterpolator& ladder1 = first->Interpolator();

  // Records are many more than pixels; the second-pass kernel depends on the
  // control value alone, so it is looked up once per value. Control values
  // never exceed the 16-bit full scale.
  constexpr int32_t kCachedControls = PixelTraits<PF_Pixel16>::kMax + 1;
  Array1D<KernelView> secondKernels;
  secondKernels.Resize(kCachedControls, KernelView{});
  Array1D<bool> secondKnown;
  secondKnown.Resize(kCachedControls, false);

  const int32_t lineCount = firstIsHorizontal ? height : width;
  const int32_t lineLength = firstIsHorizontal ? width : height;
  for (int32_t line = 0; line < lineCount; ++line) {
    for (int32_t p = 0; p < lineLength; ++p) {
      const int32_t x = firstIsHorizontal ? p : line;
      const int32_t y = firstIsHorizontal ? line : p;
      int32_t control = 0;
      const double f = control1.SampleAmount(x, y, &control);
      const KernelView k1 = ladder1.KernelFor(f * first->HAmount(), f * first->VAmount());
      Require1D(k1);

      const Footprint fp = ClipFootprint(x, y, k1.width, k1.height, width, height);
      const Pixel source = *PixelAt<Pixel>(src, x, y);
      for (int32_t j = fp.j0; j < fp.jEnd; ++j) {
        for (int32_t i = fp.i0; i < fp.iEnd; ++i) {
          const int32_t w1 = k1.Weight(i, j);
          if (w1 <= 0) continue;
          Record* record = records.NewRecord();
          record->pixel.alpha = Weighted<Pixel>(w1, source.alpha);
          record->pixel.red = Weighted<Pixel>(w1, source.red);
          record->pixel.green = Weighted<Pixel>(w1, source.green);
          record->pixel.blue = Weighted<Pixel>(w1, source.blue);
          record->control = static_cast<uint16_t>(control);
          record->weight = static_cast<uint16_t>(w1);
          Record** cell = &grid.At(fp.x0 + i - fp.i0, fp.y0 + j - fp.j0);
          if (MergeRecord(record, cell, records)) {
            records.Recycle(record);
          } else {
            record->next = *cell;
            *cell = record;
          }
        }
      }
    }

    for (int32_t p = 0; p < lineLength; ++p) {
      const int32_t x = firstIsHorizontal ? p : line;
      const int32_t y = firstIsHorizontal ? line : p;
      Record*& cell = grid.At(x, y);
      for (const Record* record = cell; record != nullptr; record = record->next) {
        const int32_t control = record->control;
        KernelView k2;
        if (control < kCachedControls) {
          if (!secondKnown[control]) {
            secondKernels[control] = second->KernelForControl(control);
            secondKnown[control] = true;
          }
          k2 = secondKernels[control];
        } else {
          k2 = second->KernelForControl(control);
        }
        // A record whose channels are all 0 writes nothing; its kernel is
        // still checked.
        if (IsBlack(record->pixel)) {
          Require1D(k2);
          continue;
        }
        ScatterSecondPass(&k2, x, y, dst, record, record->pixel.red != 0, record->pixel.green != 0,
                          record->pixel.blue != 0, record->pixel.alpha != 0);
      }
      cell = nullptr;
    }
    records.Reset();
    PollHost(settings->inData, line, lineCount);
  }
}

}  // namespace

template <typename Pixel>
void SPIMaker<Pixel>::AddRecordPage() {
  pages.AddPage().Resize(kPageRecords, Record{});
}

template <typename Pixel>
SecondPassInfo<Pixel>* SPIMaker<Pixel>::NewRecord() {
  if (freeList != nullptr) {
    Record* record = freeList;
    freeList = record->next;
    record->next = nullptr;
    return record;
  }
  if (!initialised) {
    AddRecordPage();
    initialised = true;
  }
  // The slot moves before it is used, so slot 0 of the first page stays idle.
  ++slot;
  if (slot >= pages.Page(page).Size()) {
    if (page == pages.PageCount() - 1) AddRecordPage();
    slot = 0;
    ++page;
  }
  Record& record = pages.Page(page)[slot];
  record.next = nullptr;
  return &record;
}

template <typename Pixel>
bool MergeRecord(SecondPassInfo<Pixel>* record, SecondPassInfo<Pixel>** head,
                 SPIMaker<Pixel>& maker) {
  SecondPassInfo<Pixel>** link = head;
  while (*link != nullptr) {
    SecondPassInfo<Pixel>* current = *link;
    if (record->control <= current->control && record->weight <= current->weight) {
      ZeroCovered(record->pixel, current->pixel);
      if (IsBlack(record->pixel)) return true;
    } else if (record->control >= current->control && record->weight >= current->weight) {
      ZeroCovered(current->pixel, record->pixel);
      if (IsBlack(current->pixel)) {
        *link = current->next;
        maker.Recycle(current);
        continue;
      }
    }
    link = &current->next;
  }
  return false;
}

template <typename Pixel>
void ScatterSecondPass(const KernelView* k2, int32_t x, int32_t y, PF_EffectWorld* dst,
                       const SecondPassInfo<Pixel>* record, bool red, bool green, bool blue,
                       bool alpha) {
  Require1D(*k2);
  // A 1D kernel is one run of taps, down a column or along a row.
  const bool vertical = k2->width == 1;
  const int32_t length = vertical ? k2->height : k2->width;
  const int32_t extent = vertical ? dst->height : dst->width;
  int32_t first = (vertical ? y : x) - length / 2;
  int32_t tap = 0;
  if (first < 0) {
    tap = -first;
    first = 0;
  }
  if (first >= extent) return;
  const int32_t* weights = k2->weights + k2->originY * k2->rowStride + k2->originX;
  const int32_t weightStep = vertical ? k2->rowStride : 1;
  char* out =
      reinterpret_cast<char*>(PixelAt<Pixel>(dst, vertical ? x : first, vertical ? first : y));
  const intptr_t outStep = vertical ? dst->rowbytes : static_cast<intptr_t>(sizeof(Pixel));

  const Pixel value = record->pixel;
  for (int32_t p = first; tap < length && p < extent; ++tap, ++p, out += outStep) {
    const int32_t w2 = weights[tap * weightStep];
    if (w2 <= 0) continue;
    Pixel* target = reinterpret_cast<Pixel*>(out);
    if (red) RaiseChannel<Pixel>(target->red, value.red, w2);
    if (green) RaiseChannel<Pixel>(target->green, value.green, w2);
    if (blue) RaiseChannel<Pixel>(target->blue, value.blue, w2);
    if (alpha) RaiseChannel<Pixel>(target->alpha, value.alpha, w2);
  }
}

#define QB_INSTANTIATE(Pixel)                                                                   \
  template class SPIMaker<Pixel>;                                                               \
  template bool MergeRecord(SecondPassInfo<Pixel>*, SecondPassInfo<Pixel>**, SPIMaker<Pixel>&); \
  template void ScatterSecondPass(const KernelView*, int32_t, int32_t, PF_EffectWorld*,         \
                                  const SecondPassInfo<Pixel>*, bool, bool, bool, bool);
QB_FOR_EACH_PIXEL(QB_INSTANTIATE)
#undef QB_INSTANTIATE

void Require1D(const KernelView& kernel) {
  if (kernel.width != 1 && kernel.height != 1) {
    throw AEException("1D kernel expected, got a 2D kernel instead :(");
  }
}

void ConvolveVariable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                      KernelHolderFactory* factory, KernelMaker1D* maker,
                      const ConvolvePlan& plan) {
  DispatchPixel(FormatOf(src), [&]<typename Pixel>() {
    // The record engine works in integer lanes; float takes the loops below.
    if constexpr (!kIsFloatPixel<Pixel>) {
      if (plan.Fast() && fastpath::ConvolveVariableSeparable<Pixel>(
                             src, dst, settings, factory, maker, plan.simd,
                             plan.maskTransparentSource, plan.destination)) {
        return;
      }
    }
    AEWorld clean(settings->inData);
    ConvolveVariableStraightforward<Pixel>(
        ForStraightforwardLoops(settings->inData, src, dst, plan, clean), dst, settings, factory,
        maker);
  });
}

bool MakePassHolders(const KernelSettings& settings, KernelHolderFactory* factory,
                     KernelMaker1D* maker, AEObjectAutoPointer<BCLHolder>& first,
                     AEObjectAutoPointer<BCLHolder>& second, SecondPassLayer layer) {
  const double h = settings.hAmount;
  const double v = settings.vAmount;
  const bool firstIsHorizontal = h < v;
  first.Reset(firstIsHorizontal ? factory->MakeBCLHolder(h, 0.0, maker)
                                : factory->MakeBCLHolder(0.0, v, maker));
  auto makeSecond = [&](double hAmount, double vAmount) {
    return layer == SecondPassLayer::Placed ? factory->MakeBCLHolder(hAmount, vAmount, maker)
                                            : factory->MakeBCLLadder(hAmount, vAmount, maker);
  };
  second.Reset(firstIsHorizontal ? makeSecond(0.0, v) : makeSecond(h, 0.0));
  return firstIsHorizontal;
}
