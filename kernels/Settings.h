// The two plain records the render driver fills from the parameters: one for
// the kernel makers and convolutions, one for the Blur Control Layer.
// Amounts are half-sizes in pixels, already scaled by the downsample factor.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

enum class DestinationState { Floor, Cleared, Overwrite };

struct KernelSettings {
  int32_t edgeMode = 2;  // always Repeat
  int32_t filter = 4;    // ScaleFilter: Mitchell at high quality, Nearest at low
  PF_InData* inData = nullptr;
  double hAmount = 0.0;
  double vAmount = 0.0;
  int32_t blurType = 1;                  // 0..8, order of the "Blur Type" popup
  PF_EffectWorld* shapeWorld = nullptr;  // custom shape layer (smoothed copy when asked)
  int32_t shapeChannel = 0;              // 0 Luminance, 1 Red, 2 Green, 3 Blue, 4 Alpha
  bool shapeSmoothing = false;
  double shapeSmoothingRadius = 0.0;
  // The source may still hold colour under fully transparent pixels, which
  // the convolution must read as 0. Set only where the render hands the
  // host's input straight to the fast engine instead of a cleaned copy, and
  // never with a control layer (nor is Overwrite below).
  bool maskTransparentSource = false;
  // What the destination holds when the convolution starts: a floor the
  // result keeps, only zeros (its caller just cleared it), or anything at
  // all, to be overwritten; the fast engine then stores its results without
  // reading it.
  DestinationState destination = DestinationState::Floor;
};

struct BCLSettings {
  int32_t edgeMode = 2;
  int32_t filter = 4;
  int32_t channel = 0;   // 0 Luminance, 1 Red, 2 Green, 3 Blue, other Alpha
  int32_t tileMode = 0;  // 0 No Tiling, 1 Center Image, 2 Stretch To Fit
  int32_t centerX = 0;   // pixels of the image being blurred
  int32_t centerY = 0;
  double scaleX = 1.0;  // factors, 1.0 = 100 %
  double scaleY = 1.0;
  bool invert = false;
  int32_t compoundShapes = 50;
  // The fast engine resamples the layer on the host's threads.
  bool resampleOnHostThreads = false;
};
