// One frame to render, as the entry point hands it down once it has read the
// parameters and checked out the layers: the worlds (none owned; the layers
// may be null for "none"), the view, and the shape and control-layer
// settings in pixels of the frame being rendered (amounts are half-sizes,
// already scaled by the downsample factor). The same request serves every
// host generation and render command.
#pragma once

#include <cstdint>

#include "convolution/controllayer/BCL.h"
#include "hostapi/PluginApi.h"
#include "kernels/Settings.h"

// The "Output View" popup, in its order.
enum class OutputView : int32_t { Normal = 0, Kernel = 1, ControlLayer = 2 };

struct RenderRequest {
  PF_InData* inData = nullptr;
  PF_EffectWorld* input = nullptr;
  PF_EffectWorld* output = nullptr;
  PF_EffectWorld* bclLayer = nullptr;
  OutputView view = OutputView::Normal;
  // The part of the output the host needs, in the input's pixels (the
  // legacy command's extent hint, whose bottom and right the host may give
  // inclusive); the Normal view computes it widened by half the kernel.
  PF_Rect extent{};
  // shapeWorld is the custom-shape layer as checked out; the render smooths
  // a copy of it when shapeSmoothing asks for that.
  KernelSettings kernel{};
  BCLSettings bcl{};
};
