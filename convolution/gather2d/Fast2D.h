// The fast engine of the two-dimensional shapes, uniform (the gather) or
// under a control layer (the scatter). Each entry gives exactly the image of the straightforward
// path it stands in for (same arguments, same kernels built in the same order, the same host
// failures) and answers false, having written nothing to dst, when it cannot guarantee that: a
// weight beyond the integer lanes, values that could overflow a channel, or kernels the
// straightforward path would treat unusually. The caller then runs the straightforward path.
//
// Weights are Q15 (32768 = 1.0); kernels are centred on element (width/2,
// height/2). Nothing here keeps state between calls. Everything runs on the
// host's iterate threads; a stopped control-layer path leaves dst as it
// arrived, since its calls finish in no particular order.
#pragma once

#include "convolution/EnginePlan.h"
#include "convolution/controllayer/BCL.h"
#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "kernels/Settings.h"
#include "kernels/StarKernel.h"

namespace fastpath {

// KernelMaker's own body (Spiral, Custom): every tap of a full kernel.
bool ConvolveWholeKernel(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                         KernelHolderFactory* factory, KernelMaker* maker,
                         const ConvolvePlan& plan);

// MaskedKernelMaker's body (Star): only the listed elements.
bool ConvolveMasked(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                    KernelHolderFactory* factory, MaskedKernelMaker* maker,
                    const ConvolvePlan& plan);

}  // namespace fastpath
