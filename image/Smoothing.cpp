#include "image/Smoothing.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/EdgeMode.h"
#include "image/FixedMath.h"
#include "image/HostPoll.h"
#include "image/PixelTraits.h"

namespace {

// Hosts from this effect API major version on supply Gaussian kernels and
// a convolution that the effect may use.

const char kNoKernelArray[] = "could not allocate kernel array for blur";

int32_t HalfLength(float radius) {
  return TruncToInt32(std::ceil(static_cast<double>(radius)) + 0.5);
}

// Kernel weights as the host's "long" entries: 32 bits on every target.
int32_t* NewKernelArray(int32_t count) {
  int32_t* kernel = new int32_t[static_cast<size_t>(count)];
  if (kernel == nullptr) throw AEException(1, kNoKernelArray);
  return kernel;
}

void ComputeGaussianKernel(float radius, int32_t* kernel, int32_t capacity, int32_t* diameterOut,
                           bool normalise, int32_t total) {
  const double r = radius;
  const int32_t n = HalfLength(radius);
  const int32_t length = 2 * n + 1;
  if (n < 0 || length > capacity) throw std::out_of_range("Index out of Range");
  *diameterOut = length;
  const double scale = normalise ? total : 32768.0;
  if (n == 0) {
    // sigma would be 0 or negative; a single tap is the identity.
    kernel[0] = TruncToInt32(scale);
    return;
  }
  const double sigma = 2.0 * r * 0.2;
  const double peak = scale * (1.0 / (sigma * std::sqrt(2.0 * std::numbers::pi)));
  kernel[n] = TruncToInt32(peak);
  const double falloff = 1.0 / (2.0 * sigma * sigma);
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t value = TruncToInt32(peak * std::exp(-(i * i) * falloff));
    kernel[n - i] = value;
    kernel[n + i] = value;
  }
}

template <typename Pixel>
using ChannelOf = typename PixelTraits<Pixel>::Channel;

// Channels in the order of the flags: red, green, blue, alpha.
template <typename Pixel>
constexpr ChannelOf<Pixel> Pixel::*kChannels[4] = {&Pixel::red, &Pixel::green, &Pixel::blue,
                                                   &Pixel::alpha};

// One pass of the separable convolution, one column of output at a time so
// that the host can be pinged per column. Taps outside the image (EdgeNone)
// contribute nothing and the sum is not renormalised.
template <typename Pixel>
void ConvolvePass(PF_InData* inData, const PF_EffectWorld* src, PF_EffectWorld* dst,
                  const int32_t* kernel, int32_t half, int32_t edgeMode, const bool flags[4],
                  bool vertical, int32_t progressBase) {
  const int32_t width = src->width;
  const int32_t height = src->height;
  const int32_t taps = 2 * half + 1;
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      int64_t acc[4] = {0, 0, 0, 0};
      for (int32_t k = 0; k < taps; ++k) {
        int32_t sx = x, sy = y;
        if (vertical) {
          sy = MapEdgeIndex(edgeMode, height, y - half + k);
          if (sy < 0 || sy >= height) continue;
        } else {
          sx = MapEdgeIndex(edgeMode, width, x - half + k);
          if (sx < 0 || sx >= width) continue;
        }
        const Pixel& in = *PixelAt<Pixel>(src, sx, sy);
        for (int c = 0; c < 4; ++c) {
          if (flags[c]) acc[c] += static_cast<int64_t>(kernel[k]) * (in.*kChannels<Pixel>[c]);
        }
      }
      Pixel& out = *PixelAt<Pixel>(dst, x, y);
      for (int c = 0; c < 4; ++c) {
        if (flags[c])
          out.*kChannels<Pixel>[c] = static_cast<ChannelOf<Pixel>>(Wrap32(acc[c]) >> 15);
      }
    }
    UIPing(inData, progressBase + x, 2 * width);
  }
}

template <typename Pixel>
void SmoothWorldByEffect(PF_InData* inData, const HostFacts& host, PF_EffectWorld* world,
                         float radius, int32_t edgeMode, const bool flags[4]) {
  const int32_t n = HalfLength(radius);
  AEAutoPointer<int32_t> kernel(NewKernelArray(2 * n + 1));
  int32_t diameter = 0;
  MakeGaussianKernel(inData, host, radius, kernel.Get(), 2 * n + 1, &diameter, true, 32768);
  const int32_t half = diameter / 2;
  if (world->width < 1 || world->height < 1) return;

  AEWorld temp(inData, world->width, world->height, PixelTraits<Pixel>::kFormat);
  PF_EffectWorld* tempWorld = temp.World();
  ConvolvePass<Pixel>(inData, world, tempWorld, kernel.Get(), half, edgeMode, flags, false, 0);
  ConvolvePass<Pixel>(inData, tempWorld, world, kernel.Get(), half, edgeMode, flags, true,
                      world->width);
}

// The host's convolution, for EdgeNone on hosts that have one. Unflagged
// channels go through an identity kernel.
void BlurOperator(PF_InData* inData, const HostFacts& host, PF_EffectWorld* world, float radius,
                  const bool flags[4]) {
  const int32_t n = HalfLength(radius);
  const int32_t length = 2 * n + 1;
  AEAutoPointer<int32_t> gaussian(NewKernelArray(length));
  int32_t diameter = 0;
  MakeGaussianKernel(inData, host, radius, gaussian.Get(), length, &diameter, false, 32768);
  AEAutoPointer<int32_t> identity(NewKernelArray(length));
  for (int32_t i = 0; i < length; ++i) identity[static_cast<size_t>(i)] = 0;
  identity[static_cast<size_t>(n)] = 255;

  AEWorld temp(inData, world->width, world->height, FormatOf(world));
  int32_t* red = flags[0] ? gaussian.Get() : identity.Get();
  int32_t* green = flags[1] ? gaussian.Get() : identity.Get();
  int32_t* blue = flags[2] ? gaussian.Get() : identity.Get();
  int32_t* alpha = flags[3] ? gaussian.Get() : identity.Get();
  constexpr PF_KernelFlags kHorizontal =
      PF_KernelFlag_1D | PF_KernelFlag_NORMALIZED | PF_KernelFlag_NO_CLAMP;
  constexpr PF_KernelFlags kVertical = kHorizontal | PF_KernelFlag_VERTICAL;

  PF_Err err = inData->utils->convolve(inData->effect_ref, world, nullptr, kHorizontal, length,
                                       alpha, red, green, blue, temp.World());
  if (err != PF_Err_NONE) throw AEException(err, "Blur Operator: Convolve horizontal no worky");
  err = inData->utils->convolve(inData->effect_ref, temp.World(), nullptr, kVertical, length, alpha,
                                red, green, blue, world);
  if (err != PF_Err_NONE) throw AEException(err, "Blur Operator: Convolve vertical no worky");
}

int32_t SampleLine(const int32_t* kernel, int32_t half, int32_t x, int32_t y,
                   Array2D<int32_t>& array, bool horizontal, int32_t edgeMode) {
  int64_t sum = 0;
  for (int32_t k = 0; k <= 2 * half; ++k) {
    int32_t px = x, py = y;
    if (horizontal) {
      px = MapEdgeIndex(edgeMode, array.Width(), x - half + k);
      if (px < 0 || px >= array.Width()) continue;
    } else {
      py = MapEdgeIndex(edgeMode, array.Height(), y - half + k);
      if (py < 0 || py >= array.Height()) continue;
    }
    sum += static_cast<int64_t>(kernel[k]) * array.At(px, py);
  }
  return Wrap32(sum) >> 15;
}

void SamplePass(PF_InData* inData, const int32_t* kernel, int32_t half, Array2D<int32_t>& from,
                Array2D<int32_t>& to, bool horizontal, int32_t edgeMode, int32_t progressBase,
                int32_t progressTotal) {
  for (int32_t x = 0; x < from.Width(); ++x) {
    for (int32_t y = 0; y < from.Height(); ++y) {
      to.At(x, y) = SampleLine(kernel, half, x, y, from, horizontal, edgeMode);
    }
    UIPing(inData, progressBase + x, progressTotal);
  }
}

void CopyCells(Array2D<int32_t>& from, Array2D<int32_t>& to) {
  for (int32_t y = 0; y < from.Height(); ++y) {
    for (int32_t x = 0; x < from.Width(); ++x) to.At(x, y) = from.At(x, y);
  }
}

}  // namespace

void MakeGaussianKernel(PF_InData* inData, const HostFacts& host, float radius, int32_t* kernel,
                        int32_t capacity, int32_t* diameterOut, bool normalise, int32_t total) {
  if (host.SuppliesSmoothing()) {
    const PF_Err err = inData->utils->gaussian_kernel(inData->effect_ref, radius, PF_KernelFlag_1D,
                                                      1.0, diameterOut, kernel);
    if (err != PF_Err_NONE) throw AEException(err, "could not make gaussian kernel");
    if (*diameterOut < 1 || *diameterOut > capacity) throw std::out_of_range("Index out of Range");
  } else {
    ComputeGaussianKernel(radius, kernel, capacity, diameterOut, normalise, total);
  }
  if (!normalise) return;
  int32_t sum = 0;
  for (int32_t i = 0; i < *diameterOut; ++i) sum = Wrap32(static_cast<int64_t>(sum) + kernel[i]);
  for (int32_t i = 0; i < *diameterOut; ++i) {
    kernel[i] = TruncToInt32(static_cast<double>(kernel[i]) / sum * total + 0.5);
  }
}

void SmoothWorld(PF_InData* inData, const HostFacts& host, PF_EffectWorld* world, float radius,
                 int32_t edgeMode, bool red, bool green, bool blue, bool alpha) {
  const bool flags[4] = {red, green, blue, alpha};
  if (!red && !green && !blue && !alpha) return;
  if (edgeMode == EdgeNone && host.SuppliesSmoothing()) {
    BlurOperator(inData, host, world, radius, flags);
  } else {
    DispatchControlPixel(FormatOf(world), [&]<typename Pixel>() {
      SmoothWorldByEffect<Pixel>(inData, host, world, radius, edgeMode, flags);
    });
  }
}

void SmoothArray(PF_InData* inData, const HostFacts& host, Array2D<int32_t>* array, float radius,
                 int32_t edgeMode, bool horizontal, bool vertical) {
  const int32_t n = HalfLength(radius);
  AEAutoPointer<int32_t> kernel(NewKernelArray(2 * n + 1));
  int32_t diameter = 0;
  MakeGaussianKernel(inData, host, radius, kernel.Get(), 2 * n + 1, &diameter, true, 32768);
  const int32_t half = diameter / 2;

  Array2D<int32_t> temp;
  temp.Resize(array->Width(), array->Height(), 0);
  const int32_t width = array->Width();
  if (horizontal && vertical) {
    SamplePass(inData, kernel.Get(), half, *array, temp, true, edgeMode, 0, 2 * width);
    SamplePass(inData, kernel.Get(), half, temp, *array, false, edgeMode, width, 2 * width);
  } else if (horizontal || vertical) {
    SamplePass(inData, kernel.Get(), half, *array, temp, horizontal, edgeMode, 0, width);
    CopyCells(temp, *array);
  }
}

void UIPing(PF_InData* inData, int32_t current, int32_t total) {
  PollHost(inData, current, total, kUIPingAbortMessage);
}
