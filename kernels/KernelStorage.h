// How built kernels travel: KernelView describes one kernel inside an int
// weight buffer owned elsewhere (Q15, 32768 = 1.0; element (x, y) at
// weights[(originY + y) * rowStride + originX + x]; centre (width/2,
// height/2)). SimpleKernelHolder builds and owns one kernel; the factory
// makes holders and carries the Blur Control Layer fields of one render.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/Containers.h"
#include "kernels/Settings.h"

class KernelMaker;
class BCLHolder;

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

class KernelHolderFactory {
 public:
  KernelHolderFactory() = default;
  virtual ~KernelHolderFactory() = default;

  // The caller owns the result.
  SimpleKernelHolder* MakeHolder(double hAmount, double vAmount, KernelMaker* maker);
  BCLHolder* MakeBCLHolder(double hAmount, double vAmount, KernelMaker* maker);

  bool useBCL = false;
  PF_InData* inData = nullptr;
  PF_EffectWorld* source = nullptr;
  PF_EffectWorld* bclWorld = nullptr;
  BCLSettings bcl{};
};
