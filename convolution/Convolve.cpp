#include "convolution/Convolve.h"

#include "kernels/CrossKernel.h"
#include "kernels/StarKernel.h"

void ConvolveImage(KernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                   KernelSettings* settings, KernelHolderFactory* factory,
                   const ConvolvePlan& plan) {
  switch (maker->Kind()) {
    case ShapeKind::Separable:
      ConvolveSeparable(static_cast<KernelMaker1D*>(maker), src, dst, settings, factory, plan);
      return;
    case ShapeKind::Cross:
      ConvolveCross(static_cast<CrossKernelMaker*>(maker), src, dst, settings, factory, plan);
      return;
    case ShapeKind::Masked:
      ConvolveMasked(static_cast<MaskedKernelMaker*>(maker), src, dst, settings, factory, plan);
      return;
    case ShapeKind::Whole:
      break;
  }
  ConvolveWhole(maker, src, dst, settings, factory, plan);
}
