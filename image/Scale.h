// Resamples a whole source image into a destination of another size:
// Bresenham nearest, or one of four filters through per-pixel contributor
// lists with Q15 weights (horizontal pass first).
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

enum ScaleFilter : int32_t {
  ScaleNearest = 0,
  ScaleTriangle = 1,
  ScaleBell = 2,
  ScaleLanczos3 = 3,
  ScaleMitchell = 4,
};

// How a filtered scale runs its rows: in order on the calling thread,
// polling the host's abort and progress after each row and column, or shared
// out on the host's iterate threads (which poll), there also with AVX2 or
// AVX-512 (F and BW) where the caller has asked the processor for it. The
// pixels are the same.
enum class ScaleRows { InOrder, OnHostThreads, OnHostThreadsAvx2, OnHostThreadsAvx512 };

// Writes every destination pixel. The overload must match the worlds' depth
// (both worlds share it). background, a pixel of that depth or null, fills
// the weight that EdgeNone drops at the borders. Filter supports are in
// source pixels (widened by the reduction factor when shrinking). Failures
// and a host abort raise AEException(code, "Scale: Scaling error").
void Scale(PF_InData* inData, PF_EffectWorld* source, PF_EffectWorld* destination, int32_t filter,
           int32_t edgeMode, const PF_Pixel* background, ScaleRows order = ScaleRows::InOrder);
void Scale(PF_InData* inData, PF_EffectWorld* source, PF_EffectWorld* destination, int32_t filter,
           int32_t edgeMode, const PF_Pixel16* background, ScaleRows order = ScaleRows::InOrder);

// The filter function f(t) of filters 1..4 and its support (for tests).
double ScaleFilterValue(int32_t filter, double t);
double ScaleFilterSupport(int32_t filter);
