// The "View BCL" output: each output pixel becomes the grey of the control
// value that the blur would use there (0..255 at 8 bits, 0..32768 at 16
// bits; the output's pixel format), with full alpha. Coordinates are pixels of the input; only
// pixels inside both input and output are written. Worlds are not owned; bclWorld may be null.
#pragma once

#include "convolution/controllayer/BCL.h"
#include "hostapi/PluginApi.h"

void RenderBCLView(PF_InData* in_data, PF_EffectWorld* input, PF_EffectWorld* output,
                   PF_EffectWorld* bclWorld, const BCLSettings& bcl);
