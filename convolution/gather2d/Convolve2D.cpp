#include "convolution/gather2d/Convolve2D.h"

#include <algorithm>
#include <stdexcept>

#include "convolution/Convolve.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/controllayer/KernelInterpolator.h"
#include "convolution/gather2d/Fast2D.h"
#include "convolution/separable/Separable.h"
#include "image/AEWorld.h"
#include "image/HostPoll.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/StarKernel.h"

namespace {

// What the masked gathering function reads.
struct MaskedPassRefcon {
  const KernelView* view;
  const PF_EffectWorld* src;
  PF_EffectWorld* dst;
  const Array1D<KernelPixel>* table;
  int32_t pixelsPerKernel;
};

// Raises destination pixel (x, y) to the weighted maximum over the listed
// elements; safe in any order and on several threads.
template <typename Pixel>
PF_Err MaskedGatherPixel(void* refcon, A_long x, A_long y, Pixel*, Pixel*) {
  const MaskedPassRefcon& pass = *static_cast<const MaskedPassRefcon*>(refcon);
  const KernelView k = *pass.view;
  const Array1D<KernelPixel>& table = *pass.table;
  const int64_t start = static_cast<int64_t>(k.kernelIndex) * pass.pixelsPerKernel;
  // Thrown exceptions must not cross the host's iterate.
  if (table.Data() == nullptr || start < 0 || start >= table.Size()) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const KernelPixel* entries = table.Data() + start;
  const int32_t capacity =
      std::min(pass.pixelsPerKernel, table.Size() - static_cast<int32_t>(start));

  const PF_EffectWorld* src = pass.src;
  Pixel* out = PixelAt<Pixel>(pass.dst, x, y);
  const int32_t left = x - k.width / 2 + k.width - 1;
  const int32_t top = y - k.height / 2 + k.height - 1;
  for (int32_t n = 0; n < capacity; ++n) {
    const KernelPixel e = entries[n];
    if (e.x == -1) break;
    // The mirrored position, so that gathering gives what scattering gives.
    const int32_t sx = left - e.x;
    const int32_t sy = top - e.y;
    if (sx < 0 || sy < 0 || sx >= src->width || sy >= src->height) continue;
    // Only weights above 0 take part: in float a weight below 0 times a
    // value below 0 would otherwise raise.
    const int32_t w = k.Weight(e.x, e.y);
    if (w <= 0) continue;
    RaiseTo(out, *PixelAt<Pixel>(src, sx, sy), w);
  }
  return PF_Err_NONE;
}

template <typename Pixel>
void ScatterListed(const KernelView& k, const KernelPixelList& list, int32_t x, int32_t y,
                   PF_EffectWorld* dst, const PF_EffectWorld* src) {
  const Pixel s = *PixelAt<Pixel>(src, x, y);
  // A black source pixel cannot raise anything.
  if (IsBlack(s)) return;
  const int32_t left = x - k.width / 2;
  const int32_t top = y - k.height / 2;
  for (int32_t n = 0; n < list.capacity; ++n) {
    const KernelPixel e = list.entries[n];
    if (e.x == -1) break;
    const int32_t tx = left + e.x;
    const int32_t ty = top + e.y;
    if (tx < 0 || ty < 0 || tx >= dst->width || ty >= dst->height) continue;
    const int32_t w = k.Weight(e.x, e.y);
    if (w > 0) RaiseTo(PixelAt<Pixel>(dst, tx, ty), s, w);
  }
}

// Spreads source pixel (x, y) into dst with kernel k; the footprint is cut to
// dst on every side.
template <typename Pixel>
void ScatterPixel(const KernelView& k, int32_t x, int32_t y, PF_EffectWorld* dst,
                  const PF_EffectWorld* src) {
  const Pixel s = *PixelAt<Pixel>(src, x, y);
  if (IsBlack(s)) return;
  const Footprint f = ClipFootprint(x, y, k.width, k.height, dst->width, dst->height);
  for (int32_t j = f.j0; j < f.jEnd; ++j) {
    Pixel* row = PixelAt<Pixel>(dst, f.x0, f.y0 + j - f.j0);
    for (int32_t i = f.i0; i < f.iEnd; ++i) {
      const int32_t w = k.Weight(i, j);
      if (w > 0) RaiseTo(row + (i - f.i0), s, w);
    }
  }
}

// The straightforward 2D paths, over every tap of the kernel or, for a
// masked maker, its listed elements (read once a holder has prepared them):
// a gather over the host's iterate for a uniform blur; under a control
// layer each source pixel, column by column, spread with the ladder kernel of
// its control value.
void Convolve2DStraightforward(KernelMaker* maker, const MaskedKernelMaker* masked,
                               PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                               KernelHolderFactory* factory, const ConvolvePlan& plan) {
  PF_InData* inData = settings->inData;
  AEWorld clean(inData);
  src = ForStraightforwardLoops(inData, src, dst, plan, clean);
  DispatchPixel(FormatOf(src), [&]<typename Pixel>() {
    const double h = settings->hAmount;
    const double v = settings->vAmount;
    if (!factory->useBCL) {
      AEObjectAutoPointer<SimpleKernelHolder> holder(factory->MakeHolder(h, v, maker));
      const KernelView view = holder->View();
      if (masked == nullptr) {
        IterateMaxGather<Pixel>(inData, view, src, dst, 0, src->height);
        return;
      }
      const Array1D<KernelPixel>& table = masked->Table();
      const int32_t pixelsPerKernel = masked->PixelsPerKernel();
      ListOfKernel(table, pixelsPerKernel, view.kernelIndex);
      MaskedPassRefcon refcon{&view, src, dst, &table, pixelsPerKernel};
      RaiseIfHostFailed(PixelTraits<Pixel>::Iterate(inData, 0, src->height, src, nullptr, &refcon,
                                                    MaskedGatherPixel<Pixel>, dst));
      return;
    }
    AEObjectAutoPointer<BCLHolder> holder(factory->MakeBCLHolder(h, v, maker));
    const BCLImage& control = holder->Image();
    const KernelInterpolator& ladder = holder->Interpolator();
    const int32_t width = src->width;
    const int32_t height = src->height;
    for (int32_t x = 0; x < width; ++x) {
      for (int32_t y = 0; y < height; ++y) {
        const double f = control.SampleAmount(x, y, nullptr);
        const KernelView k = ladder.KernelFor(f * h, f * v);
        if (masked == nullptr) {
          ScatterPixel<Pixel>(k, x, y, dst, src);
        } else {
          const KernelPixelList list =
              ListOfKernel(masked->Table(), masked->PixelsPerKernel(), k.kernelIndex);
          ScatterListed<Pixel>(k, list, x, y, dst, src);
        }
      }
      PollHost(inData, x, width);
    }
  });
}

}  // namespace

KernelPixelList ListOfKernel(const Array1D<KernelPixel>& table, int32_t pixelsPerKernel,
                             int32_t kernelIndex) {
  const int64_t start = static_cast<int64_t>(kernelIndex) * pixelsPerKernel;
  if (table.Data() == nullptr || start < 0 || start >= table.Size()) {
    throw std::out_of_range("Index out of Range");
  }
  const auto first = static_cast<int32_t>(start);
  return KernelPixelList{table.Data() + first, std::min(pixelsPerKernel, table.Size() - first)};
}

void ConvolveWhole(KernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                   KernelSettings* settings, KernelHolderFactory* factory,
                   const ConvolvePlan& plan) {
  if (plan.Fast() && fastpath::ConvolveWholeKernel(src, dst, settings, factory, maker, plan))
    return;
  Convolve2DStraightforward(maker, nullptr, src, dst, settings, factory, plan);
}

void ConvolveMasked(MaskedKernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                    KernelSettings* settings, KernelHolderFactory* factory,
                    const ConvolvePlan& plan) {
  if (plan.Fast() && fastpath::ConvolveMasked(src, dst, settings, factory, maker, plan)) return;
  Convolve2DStraightforward(maker, maker, src, dst, settings, factory, plan);
}
