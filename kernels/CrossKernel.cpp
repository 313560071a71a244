#include "kernels/CrossKernel.h"

#include <algorithm>

#include "image/Containers.h"

void CrossKernelMaker::GetKernelSize(double hAmount, double vAmount, int32_t* width,
                                     int32_t* height) {
  *width = PaddedBoxLength(hAmount);
  *height = PaddedBoxLength(vAmount);
}

void CrossKernelMaker::BuildKernel(int32_t* weights, double hAmount, double vAmount,
                                   int32_t kernelIndex) {
  int32_t width = 0;
  int32_t height = 0;
  GetKernelSize(hAmount, vAmount, &width, &height);
  for (int32_t i = 0; i < width * height; ++i) weights[i] = 0;

  BoxKernelMaker box = ArmMaker();

  const double barDown = vAmount * kBarThickness;
  int32_t w1 = 0;
  int32_t h1 = 0;
  box.GetProfileLength(hAmount, &w1, true);
  box.GetProfileLength(barDown, &h1, false);
  Array2D<int32_t> across;
  across.Resize(w1, h1, 0);
  box.BuildKernel(across.Data(), hAmount, barDown, kernelIndex);

  const double barAcross = hAmount * kBarThickness;
  int32_t w2 = 0;
  int32_t h2 = 0;
  box.GetProfileLength(barAcross, &w2, true);
  box.GetProfileLength(vAmount, &h2, false);
  Array2D<int32_t> down;
  down.Resize(w2, h2, 0);
  box.BuildKernel(down.Data(), barAcross, vAmount, kernelIndex);

  const int32_t top = height / 2 - h1 / 2;
  for (int32_t x = 0; x < width; ++x) {
    for (int32_t y = 0; y < h1; ++y) weights[(y + top) * width + x] = across.At(x, y);
  }
  const int32_t left = width / 2 - w2 / 2;
  for (int32_t x = 0; x < w2; ++x) {
    for (int32_t y = 0; y < height; ++y) {
      int32_t& w = weights[y * width + x + left];
      w = std::max(w, down.At(x, y));
    }
  }
}
