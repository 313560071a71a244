// Separable Gaussian smoothing of host worlds and integer arrays, and the
// Gaussian kernels it uses (Q15 weights, 32768 = 1.0). Hosts that supply
// smoothing (HostFacts) give the kernel and, for EdgeNone, the convolution.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/Containers.h"
#include "image/HostFacts.h"

// Writes 2n+1 weights (n = (int)(ceil(radius)+0.5)) into kernel and the
// length into *diameterOut; normalised to sum about `total` when asked.
// capacity must hold the kernel (std::out_of_range otherwise). Radius in
// pixels; old hosts get the effect's own kernel, newer ones the host's.
void MakeGaussianKernel(PF_InData* inData, const HostFacts& host, float radius, int32_t* kernel,
                        int32_t capacity, int32_t* diameterOut, bool normalise, int32_t total);

// Smooths the flagged channels of world in place.
void SmoothWorld(PF_InData* inData, const HostFacts& host, PF_EffectWorld* world, float radius,
                 int32_t edgeMode, bool red, bool green, bool blue, bool alpha);

// Smooths array in place along the chosen directions.
void SmoothArray(PF_InData* inData, const HostFacts& host, Array2D<int32_t>* array, float radius,
                 int32_t edgeMode, bool horizontal, bool vertical);

// abort, then progress; a non-zero answer raises AEException(answer,
// "UI Ping: Error or user Abort.").
void UIPing(PF_InData* inData, int32_t current, int32_t total);
