// Kernels drawn as a mask and area-sampled to size, and the five-pointed star.
//
// A masked maker keeps, beside the weights, one list per prepared kernel of
// the elements whose weight is above 0 (KernelPixel, kernel column x and row
// y, origin at the kernel's top-left), so that its convolution visits only
// those. Kernel k owns table entries k * pixelsPerKernel onward; a list ends
// at the first entry with x == -1 or at the end of its range. Weights are Q15
// (32768 = 1.0), row-major, centre (W/2, H/2) always 32768.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/AEWorld.h"
#include "image/Containers.h"
#include "image/PixelTraits.h"
#include "kernels/KernelMaker.h"
#include "kernels/KernelStorage.h"
#include "kernels/ScanConversion.h"

class MaskedKernelMaker : public KernelMaker {
 public:
  MaskedKernelMaker() = default;
  MaskedKernelMaker(const MaskedKernelMaker&) = delete;
  MaskedKernelMaker& operator=(const MaskedKernelMaker&) = delete;
  ~MaskedKernelMaker() override = default;

  void ReleaseKernel() override;
  // Room for kernelCount empty lists of W * H entries each.
  void PrepareShape(double hAmount, double vAmount, int32_t kernelCount) override;
  ShapeKind Kind() const override { return ShapeKind::Masked; }

  int32_t PixelsPerKernel() const { return pixelsPerKernel; }
  const Array1D<KernelPixel>& Table() const { return table; }

 protected:
  // Writes the list of kernel kernelIndex from its W x H weights: columns in
  // the outer loop, rows in the inner one.
  void RecordPositives(const int32_t* weights, int32_t width, int32_t height, int32_t kernelIndex);

 private:
  int32_t pixelsPerKernel = 0;
  Array1D<KernelPixel> table;
};

// The star points up; its outer radius is h across and v down in kernel
// pixels. The mask is drawn once per PrepareShape at twice the kernel size
// (at least 40 x 40), in StarMaskFormat.
class StarKernelMaker : public MaskedKernelMaker {
 public:
  StarKernelMaker(PF_InData* d, const HostFacts& h) : inData(d), host(h) {}

  void PrepareShape(double hAmount, double vAmount, int32_t kernelCount) override;
  void BuildKernel(int32_t* weights, double hAmount, double vAmount, int32_t kernelIndex) override;

  // The drawn mask, empty before the first PrepareShape.
  const AEWorld& Mask() const { return mask; }

 private:
  void DrawStar();

  PF_InData* inData;
  HostFacts host;
  AEWorld mask;
};

inline PixelFormat StarMaskFormat(const HostFacts& host) {
  return host.DeepStarMask() ? PixelFormat::Argb16 : PixelFormat::Argb8;
}

// The star's outline in an image of width x height pixels: 11 points from the
// top point round through the upper-left point and back to the top.
void MakeStarOutline(double width, double height, Array1D<Vec2d>& outline);

// Writes a filled outline into a world of the matching depth: inside pixels
// get colour, edge pixels opaque grey by the share of nine samples inside.
// The world is not owned.
template <typename Pixel>
class StarCallback : public GenericScanCallback {
 public:
  StarCallback(PF_EffectWorld* target, Pixel fill) : world(target), colour(fill) {}

  void Plot(int32_t x, int32_t y, int32_t coverage) override {
    if (x < 0 || y < 0 || x >= world->width || y >= world->height) return;
    Pixel* p = PixelAt<Pixel>(world, x, y);
    if (coverage == kCoverInside) {
      *p = colour;
    } else if (coverage == kCoverEdge) {
      int32_t count = 0;
      for (int32_t i = 0; i < 3; ++i) {
        for (int32_t j = 0; j < 3; ++j) {
          if (Inside(x + 1.0 / 6.0 + i / 3.0, y + 1.0 / 6.0 + j / 3.0)) ++count;
        }
      }
      constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
      using Channel = typename PixelTraits<Pixel>::Channel;
      const auto value =
          static_cast<Channel>(static_cast<int32_t>(count * (1.0 / 9.0) * kMax + 0.5));
      p->alpha = static_cast<Channel>(kMax);
      p->red = value;
      p->green = value;
      p->blue = value;
    }
  }

 private:
  PF_EffectWorld* world;
  Pixel colour;
};
