#include "render/KernelMakers.h"

#include "kernels/CrossKernel.h"
#include "kernels/CustomKernel.h"
#include "kernels/SpiralKernel.h"
#include "kernels/StarKernel.h"

KernelMaker* MakeKernelMaker(const KernelSettings& settings) {
  PF_InData* in_data = settings.inData;
  const HostFacts& host = settings.host;
  switch (settings.blurType) {
    case BlurType::Gaussian:
      return new GaussianKernelMaker(in_data, host);
    case BlurType::SharpDiamond:
      return new SharpDiamondKernelMaker();
    case BlurType::Box:
      return new BoxKernelMaker(in_data, host);
    case BlurType::Star:
      return new StarKernelMaker(in_data, host);
    case BlurType::Spiral:
      return new SpiralKernelMaker(in_data);
    case BlurType::Cross:
      return new CrossKernelMaker(in_data, host);
    case BlurType::Custom:
      return new CustomKernelMaker(settings);
    case BlurType::Cylinder:
      return new CylinderKernelMaker(in_data, host);
    case BlurType::Diamond:
      break;
  }
  return new DiamondKernelMaker();
}
