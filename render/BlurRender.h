// The blur of the Normal view over the part of the image that `hint` asks
// for. Amounts in the settings are half-sizes in pixels; the hint is a host
// rectangle of the generation (16-bit in 12.x, 32-bit in the current one) in
// the input's pixels, read with bottom and right inclusive. Worlds passed in
// are not owned; bclWorld may be null (no Blur Control Layer).
#pragma once

#include <cstdint>

#include "convolution/EnginePlan.h"
#include "convolution/controllayer/BCL.h"
#include "hostapi/PluginApi.h"
#include "kernels/Settings.h"

// How far the Normal view reads beyond the pixels it writes, in pixels per
// axis: half the kernel of the settings' amounts (what the region around the
// hint is widened by).
struct KernelReach {
  int32_t x = 0;
  int32_t y = 0;
};
KernelReach BlurReach(const KernelSettings& settings);

// Writes the blurred region into output, transparent black elsewhere;
// every failure is raised. `plan` says which engine runs and what output
// holds: Cleared (transparent black already) or Overwrite (anything; it is
// cleared here, except where the blur writes every pixel itself).
void RenderBlur(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                PF_EffectWorld* bclWorld, const BCLSettings& bcl, const KernelSettings& settings,
                const PF_Rect& hint, const ConvolvePlan& plan);
