// The plus-shaped kernel: a horizontal bar of the horizontal amount across
// and a sixth of the vertical amount down, and a vertical bar the other way
// round, both smoothed boxes. BuildKernel gives the combined kernel that the
// kernel view shows; the convolution runs the two bars as separate separable
// passes. Weights are Q15 (32768 = 1.0), row-major, both bars centred on
// element (W/2, H/2).
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"

class CrossKernelMaker : public KernelMaker {
 public:
  // A bar is this share of the other axis' amount thick.
  static constexpr double kBarThickness = 0.16666666666666666;

  CrossKernelMaker(PF_InData* d, const HostFacts& h) : inData(d), host(h) {}

  void BuildKernel(int32_t* weights, double hAmount, double vAmount, int32_t kernelIndex) override;
  // The Box's padded lengths of the two amounts.
  void GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height) override;
  // Convolved as two arms: colour from the larger arm, alpha from the
  // vertical one.
  ShapeKind Kind() const override { return ShapeKind::Cross; }
  // Each bar is a smoothed box of its own pair of amounts.
  BoxKernelMaker ArmMaker() const { return BoxKernelMaker(inData, host); }

 private:
  PF_InData* inData;
  HostFacts host;
};
