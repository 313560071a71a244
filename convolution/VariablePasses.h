// The separable weighted maximum under a Blur Control Layer: a per-pixel
// amount, first pass along the axis with the smaller amount, first-pass
// samples kept as SecondPassInfo records that carry their source's control
// value and are spread by the second-pass kernel of that value.
#pragma once

#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"

void ConvolveVariable8(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                       KernelHolderFactory* factory, KernelMaker1D* maker);
void ConvolveVariable16(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                        KernelHolderFactory* factory, KernelMaker1D* maker);
