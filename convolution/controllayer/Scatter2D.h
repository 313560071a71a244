// The fast scatter of the two-dimensional shapes under a control layer: the
// same image as the straightforward per-source scatter (every source spread
// with the ladder kernel of its control value, over every tap or, for a
// masked maker, its listed elements), on the host's iterate threads. dst is
// of src's size and pixel type and holds what plan.destination says (a
// floor, zeros or anything); src may hold colour under transparent pixels
// where plan.maskTransparentSource says so. A stopped render leaves dst as
// it arrived. kernels are the level kernels of plan.simd.
#pragma once

#include "convolution/EnginePlan.h"
#include "convolution/controllayer/BCL.h"
#include "convolution/simd/Levels.h"
#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/Settings.h"
#include "kernels/StarKernel.h"

namespace fastpath {

template <typename Pixel>
void ScatterVariable(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                     KernelHolderFactory* factory, KernelMaker* maker,
                     const MaskedKernelMaker* masked, const Kernels2D& kernels,
                     const ConvolvePlan& plan);

}  // namespace fastpath
