// Where float frames meet the fixed-point logic. Control images (the Blur
// Control Layer, a kernel's shape layer) are controls, not pictures: a float
// one is read as the 16-bit layer of the same picture would be, so it picks
// the kernels that layer picks. The diagnostic views are drawn at 16 bits
// and shown in float. Both worlds are the same size; rows may differ in
// padding.
#pragma once

#include "hostapi/PluginApi.h"

// Each float channel clamped to [0, 1] (NaN as 0) and rounded to the
// nearest of v * 32768.
void ControlFromFloat(const PF_EffectWorld* floatWorld, PF_EffectWorld* world16);

// Each 16-bit channel as v / 32768, exactly.
void FloatFrom16(const PF_EffectWorld* world16, PF_EffectWorld* floatWorld);
