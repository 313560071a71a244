// The blur of the Normal view over the part of the image that the host's
// extent hint asks for. Amounts in the settings are half-sizes in pixels;
// the extent hint is the host's 16-bit rectangle read with bottom and right
// inclusive. Worlds passed in are not owned; bclWorld may be null (no Blur
// Control Layer).
#pragma once

#include "convolution/EnginePlan.h"
#include "convolution/controllayer/BCL.h"
#include "hostapi/PluginApi.h"
#include "kernels/Settings.h"

// Writes the blurred region into output, transparent black elsewhere;
// every failure is raised. `plan` says which engine runs and what output
// holds: Cleared (transparent black already) or Overwrite (anything; it is
// cleared here, except where the blur writes every pixel itself).
void RenderBlur(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                PF_EffectWorld* bclWorld, const BCLSettings& bcl, const KernelSettings& settings,
                const ConvolvePlan& plan);
