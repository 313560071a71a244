#include "convolution/controllayer/BCL.h"

#include <algorithm>
#include <stdexcept>

#include "image/AEException.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"

namespace {

template <typename Pixel>
int32_t ChannelValue(const Pixel& p, int32_t channel) {
  switch (channel) {
    case 0:
      // A plain mean: the control layer is read as the user painted it, not
      // as perceived brightness.
      return (static_cast<int32_t>(p.red) + p.green + p.blue) / 3;
    case 1:
      return p.red;
    case 2:
      return p.green;
    case 3:
      return p.blue;
    default:
      return p.alpha;
  }
}

}  // namespace

void BCLImage::Init(PF_InData* data, PF_EffectWorld* source, PF_EffectWorld* control,
                    const BCLSettings& bclSettings) {
  inData = data;
  sourceImage = source;
  settings = bclSettings;
  largestControl = ControlFullScale(FormatOf(source));
  Place(control);
}

void BCLImage::Place(PF_EffectWorld* control) {
  if (control == nullptr) return;
  switch (settings.tileMode) {
    case 1:
      settings.centerX = sourceImage->width / 2;
      settings.centerY = sourceImage->height / 2;
      break;
    case 2:
      settings.centerX = sourceImage->width / 2;
      settings.centerY = sourceImage->height / 2;
      settings.scaleX = static_cast<double>(sourceImage->width) / control->width;
      settings.scaleY = static_cast<double>(sourceImage->height) / control->height;
      break;
    default:
      break;
  }
  if (inData == nullptr) throw AEException("AEWorld not initialized");
  controlImage.SetInData(inData);
  controlImage.ScaleFromBy(control, settings.scaleX, settings.scaleY, settings.filter,
                           settings.edgeMode, nullptr, settings.resampleRows);
  const PF_EffectWorld* placed = controlImage.World();
  largestControl = std::max(
      largestControl,
      DispatchControlPixel(FormatOf(placed), []<typename P>() { return kStorableMax<P>; }));
  offsetX = settings.centerX - placed->width / 2;
  offsetY = settings.centerY - placed->height / 2;
}

double BCLImage::SampleAmount(int32_t x, int32_t y, int32_t* control) const {
  double f = 0.0;
  int32_t value = 0;
  SampleRow(x, y, 1, &f, &value);
  if (control != nullptr) *control = value;
  return f;
}

BCLImage::LayerSpan BCLImage::SampleRow(int32_t x0, int32_t y, int32_t count, double* f,
                                        int32_t* control) const {
  if (released) throw std::logic_error("control layer sampled after its release");
  const double outsideF = settings.invert ? 0.0 : 1.0;
  const int32_t outside = settings.invert ? 0 : ControlFullScale(FormatOf(sourceImage));
  std::fill_n(f, count, outsideF);
  std::fill_n(control, count, outside);
  const PF_EffectWorld* placed = controlImage.RawWorld();
  const int32_t v = y - offsetY;
  if (placed == nullptr || v < 0 || count <= 0) return {};
  // The pixels of the row that lie on the placed layer: u in [0, width).
  const int64_t u0 = static_cast<int64_t>(x0) - offsetX;
  const auto first = static_cast<int32_t>(std::clamp<int64_t>(-u0, 0, count));
  if (first >= count) return {};
  if (controlImage.InData() == nullptr) throw AEException("AEWorld not initialized");
  if (v >= placed->height) return {};
  const auto end = static_cast<int32_t>(std::clamp<int64_t>(placed->width - u0, 0, count));
  const int32_t channel = settings.channel;
  const bool invert = settings.invert;
  DispatchControlPixel(FormatOf(placed), [&]<typename Pixel>() {
    const Pixel* row = PixelAt<Pixel>(placed, 0, v);
    for (int32_t i = first; i < end; ++i) {
      int32_t value = ChannelValue(row[u0 + i], channel);
      double amount = value * PixelTraits<Pixel>::kInverseMax;
      if (invert) {
        amount = 1.0 - amount;
        value = PixelTraits<Pixel>::kMax - value;
      }
      f[i] = amount;
      control[i] = value;
    }
  });
  return {first, end};
}

void BCLImage::ReleasePlaced() {
  controlImage.Dispose(true);
  released = true;
}

BCLHolder::BCLHolder(PF_InData* data, PF_EffectWorld* source, PF_EffectWorld* control,
                     const BCLSettings& bclSettings, double hAmount, double vAmount,
                     KernelMaker* maker) {
  maker->ReleaseKernel();
  maker->PrepareShape(hAmount, vAmount, bclSettings.compoundShapes);
  horizontalAmount = hAmount;
  verticalAmount = vAmount;
  interpolator.Build(hAmount, vAmount, maker, bclSettings.compoundShapes);
  image.Init(data, source, control, bclSettings);
}

KernelView BCLHolder::KernelAt(int32_t x, int32_t y, int32_t* control) const {
  const double f = image.SampleAmount(x, y, control);
  return interpolator.KernelFor(f * horizontalAmount, f * verticalAmount);
}

KernelView BCLHolder::KernelForControl(int32_t control) const {
  const double fullScale = ControlFullScale(FormatOf(image.SourceImage()));
  const double f = static_cast<double>(control & 0xFFFF) / fullScale;
  return interpolator.KernelFor(f * horizontalAmount, f * verticalAmount);
}

SimpleKernelHolder* KernelHolderFactory::MakeHolder(double hAmount, double vAmount,
                                                    KernelMaker* maker) {
  return new SimpleKernelHolder(hAmount, vAmount, maker);
}

BCLHolder* KernelHolderFactory::MakeBCLHolder(double hAmount, double vAmount, KernelMaker* maker) {
  return new BCLHolder(inData, source, bclWorld, bcl, hAmount, vAmount, maker);
}

BCLHolder* KernelHolderFactory::MakeBCLLadder(double hAmount, double vAmount, KernelMaker* maker) {
  return new BCLHolder(inData, source, nullptr, bcl, hAmount, vAmount, maker);
}
