// The kernels of Kernels.h over the lane operations QB_SIMD_LANES and
// QB_SIMD_FLOAT_LANES, as the
// table kKernels. Included once by each per-instruction-set file, after
// KernelBodies.h and inside its target region (Target.h), so that everything
// defined here is compiled for that set; the anonymous namespaces keep each
// set's copies apart at link time.

namespace {
#include "convolution/separable/LineKernelImpl.h"
}  // namespace

namespace fastpath {
namespace {
using Ops = QB_SIMD_LANES;
using FloatOps = QB_SIMD_FLOAT_LANES;
static_assert(Ops::kLanes <= simd::kMaxLanes);
#include "convolution/simd/LevelKernels.inl"
}  // namespace
}  // namespace fastpath

namespace {
constexpr simd::Kernels kKernels = {&linekernel::RunLine<QB_SIMD_LANES>,
                                    &linekernel::RunLine<QB_SIMD_FLOAT_LANES>,
                                    fastpath::kKernels2D};
}  // namespace
