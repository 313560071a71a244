// What KernelBodies.inl needs, for the per-instruction-set files to include
// before their target region: included there, the standard library's inline
// functions would be compiled for the wider set and could be linked into
// baseline code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>

#include "convolution/separable/LineKernel.h"
#include "convolution/simd/Kernels.h"
#include "convolution/simd/Lanes.h"
#include "convolution/simd/Levels.h"
#include "convolution/simd/Scalar.h"
#include "convolution/simd/Target.h"
