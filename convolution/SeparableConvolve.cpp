#include <cstdint>

#include "convolution/Engine.h"
#include "convolution/Separable.h"
#include "convolution/VariablePasses.h"
#include "convolution/fast/SeparableFast.h"
#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/Drawing.h"
#include "image/PixelTraits.h"

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

template PF_Err MaxGatherPixel<PF_Pixel>(void*, A_long, A_long, PF_Pixel*, PF_Pixel*);
template PF_Err MaxGatherPixel<PF_Pixel16>(void*, A_long, A_long, PF_Pixel16*, PF_Pixel16*);

PF_Err MaxGatherPixel8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  return MaxGatherPixel<PF_Pixel>(refcon, x, y, in, out);
}

PF_Err MaxGatherPixel16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out) {
  return MaxGatherPixel<PF_Pixel16>(refcon, x, y, in, out);
}

void IterateMaxGather(PF_InData* inData, const KernelView& view, PF_EffectWorld* src,
                      PF_EffectWorld* dst, KernelSettings* settings, bool deep, A_long progressBase,
                      A_long progressFinal) {
  PassRefcon refcon{&view, src, dst, settings};
  const PF_Err err = deep ? inData->utils->iterate16(inData, progressBase, progressFinal, src,
                                                     nullptr, &refcon, MaxGatherPixel16, dst)
                          : inData->utils->iterate(inData, progressBase, progressFinal, src,
                                                   nullptr, &refcon, MaxGatherPixel8, dst);
  if (err != PF_Err_NONE) throw AEException(err, "ConvolveImage: Error or user Abort.");
}

PF_EffectWorld* ForStraightforwardLoops(PF_EffectWorld* src, PF_EffectWorld* dst,
                                        const KernelSettings& settings, AEWorld& clean) {
  if (settings.destination == DestinationState::Overwrite) ClearWorld(settings.inData, dst);
  if (!settings.maskTransparentSource) return src;
  clean.CopyFrom(src);
  ClearColourUnderTransparent(clean.World());
  return clean.World();
}

void ConvolveSeparableUniform(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                              KernelHolderFactory* factory, KernelMaker* maker, double hAmount,
                              double vAmount) {
  PF_InData* inData = settings->inData;
  AEObjectAutoPointer<SimpleKernelHolder> across(factory->MakeHolder(hAmount, 0.0, maker));
  AEObjectAutoPointer<SimpleKernelHolder> down(factory->MakeHolder(0.0, vAmount, maker));
  const KernelView acrossView = across->View();
  const KernelView downView = down->View();
  if (ActiveEngine() == Engine::Fast &&
      ConvolveSeparableFast(inData, acrossView, downView, src, dst, ActiveSimdLevel(),
                            settings->maskTransparentSource, settings->destination)) {
    return;
  }
  AEWorld clean(inData);
  src = ForStraightforwardLoops(src, dst, *settings, clean);
  const bool deep = IsDeep(dst);
  const A_long height = src->height;
  // dst's contents are the floor of the result, so the intermediate image
  // starts from them too.
  AEWorld temp(inData);
  temp.CopyFrom(dst);
  IterateMaxGather(inData, acrossView, src, temp.World(), settings, deep, 0, 2 * height);
  IterateMaxGather(inData, downView, temp.World(), dst, settings, deep, height, 2 * height);
}

void KernelMaker1D::ConvolveImage(PF_EffectWorld* src, PF_EffectWorld* dst,
                                  KernelSettings* settings, KernelHolderFactory* factory) {
  if (!factory->useBCL) {
    ConvolveSeparableUniform(src, dst, settings, factory, this, settings->hAmount,
                             settings->vAmount);
  } else if (IsDeep(src)) {
    ConvolveVariable16(src, dst, settings, factory, this);
  } else {
    ConvolveVariable8(src, dst, settings, factory, this);
  }
}
