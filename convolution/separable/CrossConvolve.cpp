#include <algorithm>

#include "convolution/Convolve.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/separable/Separable.h"
#include "convolution/separable/SeparableFast.h"
#include "image/AEWorld.h"
#include "image/Drawing.h"
#include "image/HostPoll.h"
#include "image/IterateRows.h"
#include "image/PixelTraits.h"
#include "kernels/CrossKernel.h"
#include "kernels/KernelStorage.h"

namespace {

// Colour is the larger of the two arms; alpha stays the vertical arm's.
template <typename Pixel>
void MergeRows(const PF_EffectWorld* across, PF_EffectWorld* dst, int32_t first, int32_t last) {
  for (int32_t y = first; y < last; ++y) {
    const Pixel* a = PixelAt<Pixel>(across, 0, y);
    Pixel* d = PixelAt<Pixel>(dst, 0, y);
    for (int32_t x = 0; x < dst->width; ++x) {
      if (a[x].red > d[x].red) d[x].red = a[x].red;
      if (a[x].green > d[x].green) d[x].green = a[x].green;
      if (a[x].blue > d[x].blue) d[x].blue = a[x].blue;
    }
  }
}

struct MergeJob {
  const PF_EffectWorld* across;
  PF_EffectWorld* dst;
};

constexpr int32_t kMergeBand = 8;

// Over an area one pixel wide: the call for a row that starts a band merges
// the band.
template <typename Pixel>
PF_Err MergeBand(void* refcon, A_long, A_long y, Pixel*, Pixel*) {
  if (y % kMergeBand != 0) return PF_Err_NONE;
  const MergeJob& job = *static_cast<const MergeJob*>(refcon);
  MergeRows<Pixel>(job.across, job.dst, y, std::min<int32_t>(y + kMergeBand, job.dst->height));
  return PF_Err_NONE;
}

// The fast engine merges on the host's threads, the straightforward one in
// one loop.
template <typename Pixel>
void Merge(PF_InData* inData, const PF_EffectWorld* across, PF_EffectWorld* dst,
           bool onHostThreads) {
  if (!onHostThreads) {
    MergeRows<Pixel>(across, dst, 0, dst->height);
    return;
  }
  MergeJob job{across, dst};
  RaiseIfHostFailed(IterateRows<Pixel>(inData, 0, dst->height, nullptr, dst->height, &job,
                                       MergeBand<Pixel>, dst));
}

// The fast engine's cross in one go: both arms' first passes read each band
// of src once, and their second passes merge the arms as they store, which
// spares writing the first arm's result and the merge pass. False, having
// touched nothing, where the engine leaves it to the arms one by one.
bool ConvolveArmsTogether(PF_EffectWorld* src, PF_EffectWorld* scratch, PF_EffectWorld* dst,
                          KernelSettings* settings, KernelHolderFactory* factory,
                          BoxKernelMaker& box, const ConvolvePlan& plan) {
  const double thinH = settings->hAmount * CrossKernelMaker::kBarThickness;
  const double thinV = settings->vAmount * CrossKernelMaker::kBarThickness;
  AEObjectAutoPointer<SimpleKernelHolder> across1(
      factory->MakeHolder(settings->hAmount, 0.0, &box));
  AEObjectAutoPointer<SimpleKernelHolder> down1(factory->MakeHolder(0.0, thinV, &box));
  AEObjectAutoPointer<SimpleKernelHolder> across2(factory->MakeHolder(thinH, 0.0, &box));
  AEObjectAutoPointer<SimpleKernelHolder> down2(factory->MakeHolder(0.0, settings->vAmount, &box));
  return ConvolveCrossFast(settings->inData, across1->View(), down1->View(), across2->View(),
                           down2->View(), src, scratch, dst, plan.simd, plan.maskTransparentSource,
                           plan.destination);
}

}  // namespace

void ConvolveCross(CrossKernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                   KernelSettings* settings, KernelHolderFactory* factory,
                   const ConvolvePlan& plan) {
  PF_InData* inData = settings->inData;
  BoxKernelMaker box = maker->ArmMaker();
  // The fast engine's arm writes every pixel of its world, uniform or under
  // a control layer, so the world needs no clearing then (the arm clears it
  // itself where it falls back to the straightforward passes).
  const bool fast = plan.Fast();
  AEWorld across(inData, dst->width, dst->height, FormatOf(src));
  if (fast && !factory->useBCL &&
      ConvolveArmsTogether(src, across.World(), dst, settings, factory, box, plan)) {
    return;
  }
  if (!fast) ClearWorld(inData, across.World());

  // Each arm is an ordinary box blur, uniform or under the control layer as
  // the factory says, with the thin side a sixth of the other axis' amount.
  KernelSettings arm = *settings;
  arm.hAmount = settings->hAmount;
  arm.vAmount = settings->vAmount * CrossKernelMaker::kBarThickness;
  ConvolveSeparable(&box, src, across.World(), &arm, factory,
                    plan.Into(fast ? DestinationState::Overwrite : DestinationState::Cleared));

  arm.hAmount = settings->hAmount * CrossKernelMaker::kBarThickness;
  arm.vAmount = settings->vAmount;
  ConvolveSeparable(&box, src, dst, &arm, factory, plan);

  DispatchPixel(FormatOf(src),
                [&]<typename Pixel>() { Merge<Pixel>(inData, across.World(), dst, fast); });
}
