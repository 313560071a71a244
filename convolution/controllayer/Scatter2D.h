// The fast scatter of the two-dimensional shapes under a control layer: the
// same image as the straightforward per-source scatter (every source spread
// with the ladder kernel of its control value, over every tap or, for a
// masked maker, its listed elements), on the host's iterate threads. dst is
// a floor of src's size and pixel type; a stopped render leaves it as it
// arrived. kernels are the level kernels of the chosen instruction set.
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
                     const MaskedKernelMaker* masked, const Kernels2D& kernels, SimdLevel simd);

}  // namespace fastpath
