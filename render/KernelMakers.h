// The kernel maker of each "Blur Type" choice.
#pragma once

#include "kernels/KernelMaker.h"
#include "kernels/Settings.h"

// The maker of settings.blurType (any value that is no shape gives the
// Diamond); the caller owns the result.
KernelMaker* MakeKernelMaker(const KernelSettings& settings);
