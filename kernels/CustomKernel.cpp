#include "kernels/CustomKernel.h"

#include "image/AEWorld.h"
#include "image/EdgeMode.h"
#include "image/FixedMath.h"
#include "image/PixelTraits.h"
#include "image/Scale.h"

namespace {

template <typename Pixel>
int32_t ChannelWeight(const Pixel& p, int32_t channel);

template <>
int32_t ChannelWeight<PF_Pixel16>(const PF_Pixel16& p, int32_t channel) {
  switch (channel) {
    case kShapeLuminance:
      return (p.red + p.green + p.blue) / 3;
    case kShapeRed:
      return p.red;
    case kShapeGreen:
      return p.green;
    case kShapeBlue:
      return p.blue;
    default:
      return p.alpha;
  }
}

template <>
int32_t ChannelWeight<PF_Pixel>(const PF_Pixel& p, int32_t channel) {
  constexpr double kOver255 = 0.00392156862745098;
  switch (channel) {
    case kShapeLuminance:
      return TruncToInt32((p.red + p.green + p.blue) * 0.00130718954248366 * 32768 + 0.5);
    case kShapeRed:
      return TruncToInt32(p.red * kOver255 * 32768 + 0.5);
    case kShapeGreen:
      return TruncToInt32(p.green * kOver255 * 32768 + 0.5);
    case kShapeBlue:
      return TruncToInt32(p.blue * kOver255 * 32768 + 0.5);
    default:
      return TruncToInt32(p.alpha * kOver255 * 32768 + 0.5);
  }
}

template <typename Pixel>
void ReadWeights(const PF_EffectWorld* image, int32_t channel, int32_t* weights, int32_t width,
                 int32_t height) {
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      weights[y * width + x] = ChannelWeight(*PixelAt<Pixel>(image, x, y), channel);
    }
  }
}

double BoxSide(double amount) { return amount > 1 ? amount : 1; }

}  // namespace

void CustomKernelMaker::GetKernelSize(double hAmount, double vAmount, int32_t* width,
                                      int32_t* height) {
  *width = BaseKernelLength(hAmount) + 2;
  *height = BaseKernelLength(vAmount) + 2;
}

void CustomKernelMaker::BuildKernel(int32_t* weights, double hAmount, double vAmount,
                                    int32_t /*kernelIndex*/) {
  int32_t width = 0;
  int32_t height = 0;
  GetKernelSize(hAmount, vAmount, &width, &height);
  PF_EffectWorld* shape = settings.shapeWorld;
  if (shape == nullptr) {
    for (int32_t i = 0; i < width * height; ++i) weights[i] = 0;
    return;
  }

  // A high-quality resize to just above kernel size first, so that the area
  // sampler works on a small image whatever the layer's size.
  AEWorld scaled(settings.inData);
  scaled.ScaleFrom(shape, width + 2, height + 2, ScaleMitchell, EdgeNone, nullptr);
  AEWorld kernelImage(settings.inData, width, height, FormatOf(shape));
  kernelImage.AreaSample(scaled.World(), BoxSide(2 * hAmount), BoxSide(2 * vAmount));

  PF_EffectWorld* image = kernelImage.World();
  DispatchControlPixel(FormatOf(image), [&]<typename Pixel>() {
    ReadWeights<Pixel>(image, settings.shapeChannel, weights, width, height);
  });
  weights[(height / 2) * width + width / 2] = 32768;
}
