// The single-pass weighted maximum of the two-dimensional shapes: every tap
// of a full kernel, or only the listed positive elements of a masked one.
//
// Weights are Q15 (32768 = 1.0) read through a KernelView; a weighted channel
// is (w * c) >> 15 and only weights > 0 take part. A kernel is centred on
// element (width/2, height/2) and applied as a scatter: source pixel s
// reaches s - centre + e with element e. Taps outside the image are dropped.
// Every write is a running maximum with what the destination holds. Nothing
// here owns a world, a kernel or a KernelPixel table.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/Containers.h"
#include "kernels/KernelStorage.h"
#include "kernels/Settings.h"

// What the masked gathering functions read. The list of the view's kernel
// starts at entry view->kernelIndex * pixelsPerKernel of table.
struct MaskedPassRefcon {
  const KernelView* view;
  PF_EffectWorld* src;
  PF_EffectWorld* dst;
  KernelSettings* settings;
  const Array1D<KernelPixel>* table;
  int32_t pixelsPerKernel;
};

// Host-iterate pixel functions: raise destination pixel (x, y) to the
// weighted maximum over the listed elements. Safe in any order and on several
// threads; `in` and `out` are not used. A list start outside the table
// answers PF_Err_BAD_CALLBACK_PARAM (the caller checks it before iterating).
template <typename Pixel>
PF_Err MaskedGatherPixel(void* refcon, A_long x, A_long y, Pixel* in, Pixel* out);
PF_Err MaskedGatherPixel8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err MaskedGatherPixel16(void* refcon, A_long x, A_long y, PF_Pixel16* in, PF_Pixel16* out);

// Spreads source pixel (x, y) into dst with kernel k; the footprint is cut to
// dst on every side.
template <typename Pixel>
void ScatterPixel(const KernelView* k, int32_t x, int32_t y, PF_EffectWorld* dst,
                  const PF_EffectWorld* src);
void ScatterPixel8(const KernelView* k, int32_t x, int32_t y, PF_EffectWorld* dst,
                   const PF_EffectWorld* src);
void ScatterPixel16(const KernelView* k, int32_t x, int32_t y, PF_EffectWorld* dst,
                    const PF_EffectWorld* src);

// The listed elements of kernel kernelIndex: at most pixelsPerKernel entries
// from its start, fewer when an entry with x == -1 ends the list first.
struct KernelPixelList {
  const KernelPixel* entries;
  int32_t capacity;
};
// Raises std::out_of_range("Index out of Range") when the list would start
// outside the table.
KernelPixelList ListOfKernel(const Array1D<KernelPixel>& table, int32_t pixelsPerKernel,
                             int32_t kernelIndex);
