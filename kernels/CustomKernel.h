// The kernel drawn by the user: the chosen channel of a layer, resampled so
// that the layer's whole frame maps onto the 2h x 2v box at the kernel's
// centre. The layer (already smoothed when the user asked for it) belongs to
// the render driver and must outlive the maker. Weights are Q15
// (32768 = 1.0), row-major, centre (W/2, H/2) always 32768; without a layer
// the kernel is all zeros.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "kernels/KernelMaker.h"
#include "kernels/Settings.h"

// Which channel of the shape layer gives the weights; any other value reads
// alpha.
enum ShapeChannel : int32_t {
  kShapeLuminance = 0,
  kShapeRed = 1,
  kShapeGreen = 2,
  kShapeBlue = 3,
  kShapeAlpha = 4,
};

class CustomKernelMaker : public KernelMaker {
 public:
  explicit CustomKernelMaker(const KernelSettings& s) : settings(s) {}

  void BuildKernel(int32_t* weights, double hAmount, double vAmount, int32_t kernelIndex) override;
  // The base size plus one element on each side, so that the sampling box
  // keeps clear of the kernel's border.
  void GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height) override;

 private:
  KernelSettings settings;
};
