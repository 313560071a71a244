#include "kernels/StarKernel.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "image/AEException.h"
#include "image/EdgeMode.h"
#include "image/FixedMath.h"

namespace {

constexpr int32_t kMinMaskSide = 40;
constexpr double kDegreesToRadians = 0.017453292519943295;
constexpr double kMaskSmoothingRadius = 2.5;

// Entry where kernel kernelIndex's list starts; raises like the table's own
// checked access when the index lies beyond the prepared kernels.
int32_t ListStart(int32_t kernelIndex, int32_t pixelsPerKernel) {
  const int64_t start = static_cast<int64_t>(kernelIndex) * pixelsPerKernel;
  if (start < 0 || start > INT32_MAX) throw std::out_of_range("Index out of Range");
  return static_cast<int32_t>(start);
}

template <typename Pixel>
int32_t RedAsWeight(const Pixel& p);

template <>
int32_t RedAsWeight<PF_Pixel16>(const PF_Pixel16& p) {
  return p.red;
}

template <>
int32_t RedAsWeight<PF_Pixel>(const PF_Pixel& p) {
  return TruncToInt32(p.red * (1.0 / 255) * 32768 + 0.5);
}

template <typename Pixel>
void WeightsFromRed(const PF_EffectWorld* image, int32_t* weights, int32_t width, int32_t height) {
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      weights[y * width + x] = RedAsWeight(*PixelAt<Pixel>(image, x, y));
    }
  }
}

}  // namespace

void MaskedKernelMaker::ReleaseKernel() {
  pixelsPerKernel = 0;
  table.Resize(0, KernelPixel{});
}

void MaskedKernelMaker::PrepareShape(double hAmount, double vAmount, int32_t kernelCount) {
  int32_t width = 0;
  int32_t height = 0;
  GetKernelSize(hAmount, vAmount, &width, &height);
  pixelsPerKernel = width * height;
  const int64_t entries = static_cast<int64_t>(pixelsPerKernel) * kernelCount;
  table.Resize(0, KernelPixel{});
  // Entries are 8 bytes: a table this large could not be addressed anyway.
  if (entries > INT32_MAX) throw std::bad_alloc();
  table.Resize(entries > 0 ? static_cast<int32_t>(entries) : 0, KernelPixel{});
}

void MaskedKernelMaker::RecordPositives(const int32_t* weights, int32_t width, int32_t height,
                                        int32_t kernelIndex) {
  int32_t entry = ListStart(kernelIndex, pixelsPerKernel);
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      if (weights[y * width + x] > 0) table[entry++] = KernelPixel{x, y};
    }
  }
}

void MakeStarOutline(double width, double height, Array1D<Vec2d>& outline) {
  const double cx = width * 0.5;
  const double cy = height * 0.5;
  const double theta = -72 * kDegreesToRadians;
  const double c = std::cos(theta);
  const double s = std::sin(theta);

  Vec2d outer[5];
  double ux = 0.0;
  double uy = -1.0;
  for (int32_t k = 0; k < 5; ++k) {
    outer[k] = Vec2d{cx + cx * ux, cy + cy * uy};
    const double nx = ux * c - uy * s;
    const double ny = ux * s + uy * c;
    ux = nx;
    uy = ny;
  }

  // The inner vertices are where the pentagram's chords cross; no two of
  // these chords are parallel.
  auto crossing = [&outer](int32_t a, int32_t b, int32_t c0, int32_t d) {
    Vec2d p;
    LineIntersection(outer[a].x, outer[a].y, outer[b].x, outer[b].y, outer[c0].x, outer[c0].y,
                     outer[d].x, outer[d].y, &p.x, &p.y, nullptr, nullptr);
    return p;
  };
  const Vec2d i12 = crossing(0, 2, 1, 3);
  const Vec2d i01 = crossing(0, 2, 4, 1);
  const Vec2d i23 = crossing(1, 3, 2, 4);
  const Vec2d i34 = crossing(0, 3, 2, 4);
  const Vec2d i40 = crossing(4, 1, 0, 3);

  const Vec2d sequence[11] = {outer[0], i01, outer[1], i12, outer[2], i23,
                              outer[3], i34, outer[4], i40, outer[0]};
  outline.Resize(11, Vec2d{});
  for (int32_t i = 0; i < 11; ++i) outline[i] = sequence[i];
}

void StarKernelMaker::PrepareShape(double hAmount, double vAmount, int32_t kernelCount) {
  int32_t width = 0;
  int32_t height = 0;
  GetKernelSize(hAmount, vAmount, &width, &height);
  mask.SetInData(inData);
  mask.NewWorld(std::max(2 * width, kMinMaskSide), std::max(2 * height, kMinMaskSide),
                StarMaskFormat(host));
  mask.Fill(WorldColor{}, nullptr);
  DrawStar();
  MaskedKernelMaker::PrepareShape(hAmount, vAmount, kernelCount);
}

void StarKernelMaker::DrawStar() {
  PF_EffectWorld* world = mask.World();
  AEObjectAutoPointer<GenericScanCallback> callback;
  DispatchControlPixel(FormatOf(world), [&]<typename Pixel>() {
    using Channel = typename PixelTraits<Pixel>::Channel;
    constexpr auto kFull = static_cast<Channel>(PixelTraits<Pixel>::kMax);
    callback.Reset(new StarCallback<Pixel>(world, Pixel{kFull, kFull, kFull, kFull}));
  });
  MakeStarOutline(world->width, world->height, callback->points);
  ScanPolygon(*callback);
  mask.Smooth(host, kMaskSmoothingRadius, EdgeNone, true, true, true, true);
}

void StarKernelMaker::BuildKernel(int32_t* weights, double hAmount, double vAmount,
                                  int32_t kernelIndex) {
  int32_t width = 0;
  int32_t height = 0;
  GetKernelSize(hAmount, vAmount, &width, &height);
  PF_EffectWorld* maskWorld = mask.World();

  AEWorld sampled(inData, width, height, FormatOf(maskWorld));
  const double boxWidth = 2 * hAmount > 1 ? 2 * hAmount : 1;
  const double boxHeight = 2 * vAmount > 1 ? 2 * vAmount : 1;
  sampled.AreaSample(maskWorld, boxWidth, boxHeight);

  PF_EffectWorld* image = sampled.World();
  DispatchControlPixel(FormatOf(image),
                [&]<typename Pixel>() { WeightsFromRed<Pixel>(image, weights, width, height); });
  weights[(height / 2) * width + width / 2] = 32768;
  RecordPositives(weights, width, height, kernelIndex);
}
