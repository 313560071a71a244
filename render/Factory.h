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

// Writes the blurred region into output, transparent black elsewhere;
// every failure is raised. outputCleared says output already holds
// transparent black; otherwise it is cleared here, except where the blur
// writes every pixel itself.
void RenderBlur8(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                 PF_EffectWorld* bclWorld, BCLSettings bcl, KernelSettings settings,
                 bool outputCleared);
void RenderBlur16(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                  PF_EffectWorld* bclWorld, BCLSettings bcl, KernelSettings settings,
                  bool outputCleared);
