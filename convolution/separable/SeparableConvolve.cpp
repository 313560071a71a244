#include <cstdint>

#include "convolution/Convolve.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/controllayer/VariablePasses.h"
#include "convolution/separable/Separable.h"
#include "convolution/separable/SeparableFast.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/Drawing.h"
#include "image/HostPoll.h"
#include "image/PixelTraits.h"

namespace {

template <typename Pixel>
PF_Err MaxGatherPixel(void* refcon, A_long x, A_long y, Pixel*, Pixel*) {
  const PassRefcon& pass = *static_cast<const PassRefcon*>(refcon);
  const KernelView kernel = *pass.view;
  const PF_EffectWorld* src = pass.src;
  Pixel* out = PixelAt<Pixel>(pass.dst, x, y);
  const int32_t kw = kernel.width;
  const int32_t kh = kernel.height;
  for (int32_t j = 0; j < kh; ++j) {
    const int32_t sy = y - kh / 2 + j;
    if (sy < 0 || sy >= src->height) continue;
    for (int32_t i = 0; i < kw; ++i) {
      const int32_t sx = x - kw / 2 + i;
      if (sx < 0 || sx >= src->width) continue;
      // Mirrored, so that gathering gives what scattering the kernel gives.
      const int32_t w = kernel.Weight(kw - 1 - i, kh - 1 - j);
      if (w <= 0) continue;
      RaiseTo(out, *PixelAt<Pixel>(src, sx, sy), w);
    }
  }
  return PF_Err_NONE;
}

}  // namespace

template <typename Pixel>
void IterateMaxGather(PF_InData* inData, const KernelView& view, PF_EffectWorld* src,
                      PF_EffectWorld* dst, A_long progressBase, A_long progressFinal) {
  PassRefcon refcon{&view, src, dst};
  RaiseIfHostFailed(PixelTraits<Pixel>::Iterate(inData, progressBase, progressFinal, src, nullptr,
                                                &refcon, MaxGatherPixel<Pixel>, dst));
}

#define QB_INSTANTIATE(Pixel)                                                           \
  template void IterateMaxGather<Pixel>(PF_InData*, const KernelView&, PF_EffectWorld*, \
                                        PF_EffectWorld*, A_long, A_long);
QB_FOR_EACH_PIXEL(QB_INSTANTIATE)
#undef QB_INSTANTIATE

PF_EffectWorld* ForStraightforwardLoops(PF_InData* inData, PF_EffectWorld* src, PF_EffectWorld* dst,
                                        const ConvolvePlan& plan, AEWorld& clean) {
  if (plan.destination == DestinationState::Overwrite) ClearWorld(inData, dst);
  if (!plan.maskTransparentSource) return src;
  clean.CopyFrom(src);
  ClearColourUnderTransparent(clean.World());
  return clean.World();
}

void ConvolveSeparableUniform(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                              KernelHolderFactory* factory, KernelMaker* maker, double hAmount,
                              double vAmount, const ConvolvePlan& plan) {
  PF_InData* inData = settings->inData;
  AEObjectAutoPointer<SimpleKernelHolder> across(factory->MakeHolder(hAmount, 0.0, maker));
  AEObjectAutoPointer<SimpleKernelHolder> down(factory->MakeHolder(0.0, vAmount, maker));
  const KernelView acrossView = across->View();
  const KernelView downView = down->View();
  if (plan.Fast() && ConvolveSeparableFast(inData, acrossView, downView, src, dst, plan.simd,
                                           plan.maskTransparentSource, plan.destination)) {
    return;
  }
  AEWorld clean(inData);
  src = ForStraightforwardLoops(inData, src, dst, plan, clean);
  const A_long height = src->height;
  // dst's contents are the floor of the result, so the intermediate image
  // starts from them too.
  AEWorld temp(inData);
  temp.CopyFrom(dst);
  DispatchPixel(FormatOf(dst), [&]<typename Pixel>() {
    IterateMaxGather<Pixel>(inData, acrossView, src, temp.World(), 0, 2 * height);
    IterateMaxGather<Pixel>(inData, downView, temp.World(), dst, height, 2 * height);
  });
}

void ConvolveSeparable(KernelMaker1D* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                       KernelSettings* settings, KernelHolderFactory* factory,
                       const ConvolvePlan& plan) {
  if (!factory->useBCL) {
    ConvolveSeparableUniform(src, dst, settings, factory, maker, settings->hAmount,
                             settings->vAmount, plan);
  } else {
    ConvolveVariable(src, dst, settings, factory, maker, plan);
  }
}
