#include "image/AEWorld.h"
#include "image/PixelTraits.h"
#include "kernels/CrossKernel.h"
#include "kernels/KernelStorage.h"

namespace {

// Colour is the larger of the two arms; alpha stays the vertical arm's.
template <typename Pixel>
void MergeColour(const PF_EffectWorld* across, PF_EffectWorld* dst, int32_t width, int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    const Pixel* a = PixelAt<Pixel>(across, 0, y);
    Pixel* d = PixelAt<Pixel>(dst, 0, y);
    for (int32_t x = 0; x < width; ++x) {
      if (a[x].red > d[x].red) d[x].red = a[x].red;
      if (a[x].green > d[x].green) d[x].green = a[x].green;
      if (a[x].blue > d[x].blue) d[x].blue = a[x].blue;
    }
  }
}

}  // namespace

void CrossKernelMaker::ConvolveImage(PF_EffectWorld* src, PF_EffectWorld* dst,
                                     KernelSettings* settings, KernelHolderFactory* factory) {
  BoxKernelMaker box(inData);
  const bool deep = IsDeep(src);
  AEWorld across(inData, dst->width, dst->height, deep);
  across.Fill(
      deep ? WorldColor::Of16(PF_Pixel16{0, 0, 0, 0}) : WorldColor::Of8(PF_Pixel{0, 0, 0, 0}),
      nullptr);

  // Each arm is an ordinary box blur, uniform or under the control layer as
  // the factory says, with the thin side a sixth of the other axis' amount.
  KernelSettings arm = *settings;
  arm.hAmount = settings->hAmount;
  arm.vAmount = settings->vAmount * kBarThickness;
  arm.destination = DestinationState::Cleared;
  box.ConvolveImage(src, across.World(), &arm, factory);

  arm.hAmount = settings->hAmount * kBarThickness;
  arm.vAmount = settings->vAmount;
  arm.destination = settings->destination;
  box.ConvolveImage(src, dst, &arm, factory);

  if (deep) {
    MergeColour<PF_Pixel16>(across.World(), dst, src->width, src->height);
  } else {
    MergeColour<PF_Pixel>(across.World(), dst, src->width, src->height);
  }
}
