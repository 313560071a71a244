// The four-armed spiral. Weights are computed analytically at sample points
// of the box (0, 0)-(2a, 2b) with the centre at (a, b), y down; angles are
// degrees clockwise on screen from straight up. Small spirals (either amount
// below 40) are sampled on a grid of at least 81 x 81 and area-sampled down to
// the kernel; large ones are sampled once per kernel element. Weights are Q15
// (32768 = 1.0), row-major, centre (W/2, H/2) always 32768.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"

struct SpiralGeometry {
  double a;  // half-width, at least 0.5
  double b;  // half-height, at least 0.5
  double k;  // twist in degrees per pixel of distance from the centre
};

SpiralGeometry MakeSpiralGeometry(double hAmount, double vAmount);

// Weight of the sample at (sx, sy): 0 outside the ellipse, in the gaps
// between the arms and at the centre itself.
int32_t SpiralWeight(const SpiralGeometry& geometry, double sx, double sy);

// The spiral for (hAmount, vAmount) sampled width x height times over its box.
void DrawSpiral(int32_t* weights, double hAmount, double vAmount, int32_t width, int32_t height);

class SpiralKernelMaker : public KernelMaker {
 public:
  // Amounts from which the kernel grid itself is fine enough to sample.
  static constexpr double kDirectAmount = 40.0;

  explicit SpiralKernelMaker(PF_InData* d) : inData(d) {}

  void BuildKernel(int32_t* weights, double hAmount, double vAmount, int32_t kernelIndex) override;

 private:
  PF_InData* inData;
};
