#include "convolution/VariablePasses.h"

#include "image/AEException.h"

// Placeholder until the control-layer path lands.
void ConvolveVariable8(PF_EffectWorld*, PF_EffectWorld*, KernelSettings*, KernelHolderFactory*,
                       KernelMaker1D*) {
  throw AEException("ConvolveImage: Blur Control Layer path not yet available");
}
void ConvolveVariable16(PF_EffectWorld*, PF_EffectWorld*, KernelSettings*, KernelHolderFactory*,
                        KernelMaker1D*) {
  throw AEException("ConvolveImage: Blur Control Layer path not yet available");
}
