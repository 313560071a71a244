// How built kernels travel: KernelView describes one kernel inside an int
// weight buffer owned elsewhere (Q15, 32768 = 1.0; element (x, y) at
// weights[(originY + y) * rowStride + originX + x]; centre (width/2,
// height/2)). SimpleKernelHolder builds and owns one kernel.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/Containers.h"
#include "kernels/Settings.h"

class KernelMaker;

struct KernelView {
  int32_t kernelIndex = -1;
  int32_t width = 0;
  int32_t height = 0;
  int32_t originX = 0;
  int32_t originY = 0;
  int32_t rowStride = 0;
  int32_t* weights = nullptr;

  int32_t Weight(int32_t x, int32_t y) const {
    return weights[(originY + y) * rowStride + originX + x];
  }
};

// The part of a kw x kh kernel centred on (x, y) that lands inside a
// width x height image: taps i in [i0, iEnd) and j in [j0, jEnd) land on
// (x0 + i - i0, y0 + j - j0). Taps beyond the image are dropped, never wrapped.
struct Footprint {
  int32_t x0, y0, i0, j0, iEnd, jEnd;
};

inline Footprint ClipFootprint(int32_t x, int32_t y, int32_t kw, int32_t kh, int32_t width,
                               int32_t height) {
  Footprint f{x - kw / 2, y - kh / 2, 0, 0, 0, 0};
  if (f.x0 < 0) {
    f.i0 = -f.x0;
    f.x0 = 0;
  }
  if (f.y0 < 0) {
    f.j0 = -f.y0;
    f.y0 = 0;
  }
  f.iEnd = kw < width - f.x0 + f.i0 ? kw : width - f.x0 + f.i0;
  f.jEnd = kh < height - f.y0 + f.j0 ? kh : height - f.y0 + f.j0;
  return f;
}

// A kernel element with weight > 0; (-1, -1) marks an empty entry.
struct KernelPixel {
  int32_t x = -1;
  int32_t y = -1;
};

class SimpleKernelHolder {
 public:
  SimpleKernelHolder(double hAmount, double vAmount, KernelMaker* maker);
  SimpleKernelHolder(const SimpleKernelHolder&) = delete;
  SimpleKernelHolder& operator=(const SimpleKernelHolder&) = delete;
  virtual ~SimpleKernelHolder();

  const KernelView& View() const { return view; }

 private:
  KernelView view;
  Array2D<int32_t> storage;
};
