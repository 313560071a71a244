// Turns the "Blur Type" choice into a kernel maker, and runs the blur of the
// Normal view over the part of the image that the host's extent hint asks
// for. Amounts in the settings are half-sizes in pixels; the extent hint is
// the host's 16-bit rectangle read with bottom and right inclusive. Worlds
// passed in are not owned; bclWorld may be null (no Blur Control Layer).
#pragma once

#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/Settings.h"

// The caller owns the result.
KernelMaker* MakeKernelMaker(PF_InData* in_data, A_long blurType, KernelSettings settings);

// Writes the blurred region into output, which must arrive cleared to
// transparent black (the render clears it first), and leaves the rest of
// output as it was; every failure is raised.
void RenderBlur8(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                 PF_EffectWorld* bclWorld, BCLSettings bcl, KernelSettings settings);
void RenderBlur16(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                  PF_EffectWorld* bclWorld, BCLSettings bcl, KernelSettings settings);
