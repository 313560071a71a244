// The uniform weighted maximum through the host's iterate callbacks, shared by
// the separable shapes, the cross arms and the whole-kernel shapes.
//
// Weights are Q15 (32768 = 1.0) read through a KernelView; a weighted channel
// is (w * c) >> 15 (float: c * w / 32768) and only weights > 0 take part. The kernel is centred on
// element (width/2, height/2) and applied as a scatter: a source pixel s
// reaches s - centre + e with element e. Taps outside the source are dropped
// (the image is surrounded by transparent black). Every write into the
// destination is a running maximum with what it already holds. Nothing here
// owns a world or a kernel buffer.
#pragma once

#include <cstdint>

#include "convolution/EnginePlan.h"
#include "convolution/Weighted.h"
#include "hostapi/PluginApi.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "kernels/Settings.h"

class AEWorld;
class KernelHolderFactory;

// What the pixel functions read: the kernel, the world gathered from and the
// world written (both the same size).
struct PassRefcon {
  const KernelView* view;
  const PF_EffectWorld* src;
  PF_EffectWorld* dst;
};

// One host iterate over the whole of src, raising each destination pixel to
// the weighted maximum of the source pixels the kernel reaches it from (the
// host may visit pixels in any order and on several threads); a non-zero
// answer of the host raises AEException(code, kConvolveAbortMessage).
template <typename Pixel>
void IterateMaxGather(PF_InData* inData, const KernelView& view, PF_EffectWorld* src,
                      PF_EffectWorld* dst, A_long progressBase, A_long progressFinal);

// The render may hand a uniform convolution the host's input and output as
// they stand (see ConvolvePlan), which the fast engine reads as they are
// meant; the straightforward loops need them cleaned: dst cleared when it is
// to be overwritten, and the source's colour under transparent pixels 0, in
// a copy that `clean` holds. Answers the source to read.
PF_EffectWorld* ForStraightforwardLoops(PF_InData* inData, PF_EffectWorld* src, PF_EffectWorld* dst,
                                        const ConvolvePlan& plan, AEWorld& clean);

// The uniform two-pass path: a horizontal pass with the kernel of
// (hAmount, 0) from src into a copy of dst, then a vertical pass with the
// kernel of (0, vAmount) from that copy into dst. The progress runs 0-50 %
// and 50-100 %.
void ConvolveSeparableUniform(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                              KernelHolderFactory* factory, KernelMaker* maker, double hAmount,
                              double vAmount, const ConvolvePlan& plan);
