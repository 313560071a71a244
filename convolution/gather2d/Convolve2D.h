// The single-pass weighted maximum of the two-dimensional shapes: every tap
// of a whole kernel, or only the listed positive elements of a masked one.
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
