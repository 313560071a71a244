// The fast engine of the uniform separable weighted maximum: the same image,
// bit for bit, as a horizontal IterateMaxGather from src into a copy of dst
// followed by a vertical one from that copy into dst, much sooner.
//
// Work goes to the host's iterate callbacks over an area one pixel wide and
// as tall as the image, so the host may spread it over threads and polls
// abort as it would for the straightforward passes: in the horizontal pass
// the call for row y (y a multiple of 8) owns rows y..y+7, in the vertical
// pass each call owns some strips of 8 columns. Each call copies its rows or
// columns into a zero-padded line of 16-bit lanes taken from a pool of
// scratch slots allocated before the passes. The intermediate image is dst
// itself when dst holds no floor (cleared or to be overwritten), else a copy
// of dst as in the straightforward passes.
//
// Kernel views as in Separable.h (Q15, centre width/2 and height/2, applied
// as a scatter); the views and worlds are not owned.
#pragma once

#include "convolution/EnginePlan.h"
#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"

// False, having touched nothing, when these kernels or worlds are beyond the
// engine: src and dst not both of 8 or both of 16 bits, across not one row
// or down not one column, weights above 65535, or at
// 8 bits weights whose weighted 255 overflows the channel. A non-zero answer
// of the host raises AEException(code, "ConvolveImage: Error or user Abort.").
// maskSource reads red, green and blue of src as 0 wherever alpha is 0, so
// the host's input needs no cleaned copy. instructionSet picks the line
// kernel's vector code (not above CpuSimdLevel). `destination` says what dst
// holds (see KernelSettings): with Overwrite its contents are never read,
// every pixel is written, and a failure in the first pass leaves it cleared.
bool ConvolveSeparableFast(PF_InData* inData, const KernelView& across, const KernelView& down,
                           PF_EffectWorld* src, PF_EffectWorld* dst, SimdLevel instructionSet,
                           bool maskSource = false,
                           DestinationState destination = DestinationState::Floor);

// The cross: two separable blurs of src, the first arm (across1, down1)
// through `scratch` (src's size and depth, its contents never read), the
// second (across2, down2) into dst as above; dst's colour is the larger of
// the two arms', its alpha the second's. False, having touched nothing,
// where either arm is beyond the engine or dst holds a floor that is not
// all zeros.
bool ConvolveCrossFast(PF_InData* inData, const KernelView& across1, const KernelView& down1,
                       const KernelView& across2, const KernelView& down2, PF_EffectWorld* src,
                       PF_EffectWorld* scratch, PF_EffectWorld* dst, SimdLevel instructionSet,
                       bool maskSource, DestinationState destination);
