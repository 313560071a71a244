// The weighted maximum of src into dst with the kernels of a maker's shape:
// the convolution layer's one entry, which picks the algorithm for the
// maker's ShapeKind. src and dst are the same size and pixel format; what dst
// holds and which engine runs are the plan's. Under a control layer
// (factory->useBCL) every source pixel gets the kernel of its own amount.
// Every host failure or stop is raised as AEException.
#pragma once

#include "convolution/EnginePlan.h"
#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/Settings.h"

class KernelHolderFactory;
class CrossKernelMaker;
class MaskedKernelMaker;

void ConvolveImage(KernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                   KernelSettings* settings, KernelHolderFactory* factory,
                   const ConvolvePlan& plan);

// The bodies for each kind of shape.
void ConvolveSeparable(KernelMaker1D* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                       KernelSettings* settings, KernelHolderFactory* factory,
                       const ConvolvePlan& plan);
void ConvolveCross(CrossKernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                   KernelSettings* settings, KernelHolderFactory* factory,
                   const ConvolvePlan& plan);
void ConvolveWhole(KernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                   KernelSettings* settings, KernelHolderFactory* factory,
                   const ConvolvePlan& plan);
void ConvolveMasked(MaskedKernelMaker* maker, PF_EffectWorld* src, PF_EffectWorld* dst,
                    KernelSettings* settings, KernelHolderFactory* factory,
                    const ConvolvePlan& plan);
