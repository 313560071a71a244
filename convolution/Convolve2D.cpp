#include "convolution/Convolve2D.h"

#include <algorithm>
#include <stdexcept>

#include "convolution/BCL.h"
#include "convolution/Engine.h"
#include "convolution/KernelInterpolator.h"
#include "convolution/Separable.h"
#include "convolution/fast2d/Fast2D.h"
#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/StarKernel.h"

namespace {

constexpr const char* kAbortMessage = "ConvolveImage: Error or user Abort.";

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
    RaiseTo(PixelAt<Pixel>(dst, tx, ty), s, k.Weight(e.x, e.y));
  }
}

void PingHost(PF_InData* inData, A_long current, A_long total) {
  PF_Err err = inData->inter.abort(inData->effect_ref);
  if (err != PF_Err_NONE) throw AEException(err, kAbortMessage);
  err = inData->inter.progress(inData->effect_ref, current, total);
  if (err != PF_Err_NONE) throw AEException(err, kAbortMessage);
}

// The per-pixel path: each source pixel, column by column, is spread with the
// ladder kernel of its control value.
template <typename Scatter>
void ScatterWithControlLayer(PF_EffectWorld* src, KernelSettings* settings,
                             KernelHolderFactory* factory, KernelMaker* maker, Scatter scatter) {
  const double h = settings->hAmount;
  const double v = settings->vAmount;
  AEObjectAutoPointer<BCLHolder> holder(factory->MakeBCLHolder(h, v, maker));
  const BCLImage& control = holder->Image();
  const KernelInterpolator& ladder = holder->Interpolator();
  const int32_t width = src->width;
  const int32_t height = src->height;
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      const double f = control.SampleAmount(x, y, nullptr);
      const KernelView k = ladder.KernelFor(f * h, f * v);
      scatter(k, x, y);
    }
    PingHost(settings->inData, x, width);
  }
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
    RaiseTo(out, *PixelAt<Pixel>(src, sx, sy), k.Weight(e.x, e.y));
  }
  return PF_Err_NONE;
}

template PF_Err MaskedGatherPixel<PF_Pixel>(void*, A_long, A_long, PF_Pixel*, PF_Pixel*);
template PF_Err MaskedGatherPixel<PF_Pixel16>(void*, A_long, A_long, PF_Pixel16*, PF_Pixel16*);

PF_Err MaskedGatherPixel8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  return MaskedGatherPixel<PF_Pixel>(refcon, x, y, in, out);
}

PF_Err MaskedGatherPixel16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out) {
  return MaskedGatherPixel<PF_Pixel16>(refcon, x, y, in, out);
}

template <typename Pixel>
void ScatterPixel(const KernelView* k, int32_t x, int32_t y, PF_EffectWorld* dst,
                  const PF_EffectWorld* src) {
  const Pixel s = *PixelAt<Pixel>(src, x, y);
  if (IsBlack(s)) return;
  const Footprint f = ClipFootprint(x, y, k->width, k->height, dst->width, dst->height);
  for (int32_t j = f.j0; j < f.jEnd; ++j) {
    Pixel* row = PixelAt<Pixel>(dst, f.x0, f.y0 + j - f.j0);
    for (int32_t i = f.i0; i < f.iEnd; ++i) {
      const int32_t w = k->Weight(i, j);
      if (w > 0) RaiseTo(row + (i - f.i0), s, w);
    }
  }
}

template void ScatterPixel<PF_Pixel>(const KernelView*, int32_t, int32_t, PF_EffectWorld*,
                                     const PF_EffectWorld*);
template void ScatterPixel<PF_Pixel16>(const KernelView*, int32_t, int32_t, PF_EffectWorld*,
                                       const PF_EffectWorld*);

void ScatterPixel8(const KernelView* k, int32_t x, int32_t y, PF_EffectWorld* dst,
                   const PF_EffectWorld* src) {
  ScatterPixel<PF_Pixel>(k, x, y, dst, src);
}

void ScatterPixel16(const KernelView* k, int32_t x, int32_t y, PF_EffectWorld* dst,
                    const PF_EffectWorld* src) {
  ScatterPixel<PF_Pixel16>(k, x, y, dst, src);
}

void KernelMaker::ConvolveImage(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                                KernelHolderFactory* factory) {
  if (ActiveEngine() == Engine::Fast &&
      fast2d::ConvolveWholeKernel(src, dst, settings, factory, this)) {
    return;
  }
  AEWorld clean(settings->inData);
  src = ForStraightforwardLoops(src, dst, *settings, clean);
  if (!factory->useBCL) {
    AEObjectAutoPointer<SimpleKernelHolder> holder(
        factory->MakeHolder(settings->hAmount, settings->vAmount, this));
    const KernelView view = holder->View();
    IterateMaxGather(settings->inData, view, src, dst, settings, IsDeep(src), 0, src->height);
    return;
  }
  const bool deep = IsDeep(src);
  ScatterWithControlLayer(src, settings, factory, this,
                          [=](const KernelView& k, int32_t x, int32_t y) {
                            if (deep) {
                              ScatterPixel16(&k, x, y, dst, src);
                            } else {
                              ScatterPixel8(&k, x, y, dst, src);
                            }
                          });
}

void MaskedKernelMaker::ConvolveImage(PF_EffectWorld* src, PF_EffectWorld* dst,
                                      KernelSettings* settings, KernelHolderFactory* factory) {
  if (ActiveEngine() == Engine::Fast && fast2d::ConvolveMasked(src, dst, settings, factory, this)) {
    return;
  }
  AEWorld clean(settings->inData);
  src = ForStraightforwardLoops(src, dst, *settings, clean);
  if (!factory->useBCL) {
    AEObjectAutoPointer<SimpleKernelHolder> holder(
        factory->MakeHolder(settings->hAmount, settings->vAmount, this));
    const KernelView view = holder->View();
    ListOfKernel(table, pixelsPerKernel, view.kernelIndex);
    MaskedPassRefcon refcon{&view, src, dst, settings, &table, pixelsPerKernel};
    PF_InData* inData = settings->inData;
    const PF_Err err = IsDeep(dst) ? inData->utils->iterate16(inData, 0, src->height, src, nullptr,
                                                              &refcon, MaskedGatherPixel16, dst)
                                   : inData->utils->iterate(inData, 0, src->height, src, nullptr,
                                                            &refcon, MaskedGatherPixel8, dst);
    if (err != PF_Err_NONE) throw AEException(err, kAbortMessage);
    return;
  }
  const bool deep = IsDeep(src);
  ScatterWithControlLayer(
      src, settings, factory, this, [&](const KernelView& k, int32_t x, int32_t y) {
        const KernelPixelList list = ListOfKernel(table, pixelsPerKernel, k.kernelIndex);
        if (deep) {
          ScatterListed<PF_Pixel16>(k, list, x, y, dst, src);
        } else {
          ScatterListed<PF_Pixel>(k, list, x, y, dst, src);
        }
      });
}
