// The shape of one render as the kernel makers and convolutions read it,
// filled by the render driver from the parameters. Amounts are half-sizes in
// pixels, already scaled by the downsample factor. How the work is done (the
// engine, what the destination holds) travels separately, in the
// convolution's plan.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/HostFacts.h"
#include "kernels/BlurType.h"

struct KernelSettings {
  int32_t edgeMode = 2;  // always Repeat
  int32_t filter = 4;    // ScaleFilter: Mitchell at high quality, Nearest at low
  PF_InData* inData = nullptr;
  HostFacts host{};
  double hAmount = 0.0;
  double vAmount = 0.0;
  BlurType blurType = BlurType::Diamond;
  PF_EffectWorld* shapeWorld = nullptr;  // custom shape layer (smoothed copy when asked)
  int32_t shapeChannel = 0;              // 0 Luminance, 1 Red, 2 Green, 3 Blue, 4 Alpha
  bool shapeSmoothing = false;
  double shapeSmoothingRadius = 0.0;
};
