// Resizes a whole source image into a box centred in the destination by the
// host's area sampler (mean colour over each destination pixel's footprint).
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

// Box sizes are in destination pixels; every destination pixel is written,
// transparent black where its footprint misses the source. The source's
// depth picks area_sample or area_sample16.
void AreaSample(PF_InData* inData, PF_EffectWorld* destination, PF_EffectWorld* source,
                double boxWidth, double boxHeight);

// Clamps value into [low, high] (high tested first); true when it changed.
bool ClampInto(int32_t& value, int32_t low, int32_t high);
