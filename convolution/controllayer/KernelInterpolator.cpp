#include "convolution/controllayer/KernelInterpolator.h"

#include <cmath>

#include "kernels/KernelMaker.h"

bool KernelInterpolator::AmountLess::operator()(double a, double b) const {
  return a < b && std::fabs(a - b) > kTolerance;
}

void KernelInterpolator::Build(double hAmount, double vAmount, KernelMaker* maker,
                               int32_t kernelCount) {
  count = kernelCount;
  // An equal pair keys on the horizontal amount.
  useVertical = hAmount < vAmount;
  axisAmount = useVertical ? vAmount : hAmount;

  int32_t fullWidth = 0;
  int32_t fullHeight = 0;
  maker->GetKernelSize(hAmount, vAmount, &fullWidth, &fullHeight);
  maxHeight = fullHeight;

  const int64_t storeRows = static_cast<int64_t>(count) * fullHeight;
  if (storeRows > INT32_MAX) throw std::bad_alloc();
  store.Resize(fullWidth, static_cast<int32_t>(storeRows), 0);
  scratch.Resize(fullWidth, fullHeight, 0);
  ladder.clear();
  largest = KernelView{};
  smallest = KernelView{};

  // Rungs grow by repeated addition; the drift against the f x A that the
  // convolution asks for is what the tolerant key comparison absorbs.
  const double hStep = hAmount / count;
  const double vStep = vAmount / count;
  double h = 0.0;
  double v = 0.0;
  Array1D<int32_t>& scratchCells = scratch.Cells();
  for (int32_t k = 0; k < count; ++k) {
    int32_t kw = 0;
    int32_t kh = 0;
    maker->GetKernelSize(h, v, &kw, &kh);
    for (int32_t i = 0; i < scratchCells.Size(); ++i) scratchCells[i] = 0;
    maker->BuildKernel(scratch.Data(), h, v, k);

    const int32_t row0 = static_cast<int32_t>(k * maxHeight);
    for (int32_t x = 0; x < kw; ++x) {
      for (int32_t y = 0; y < kh; ++y) store.At(x, row0 + y) = scratchCells[y * kw + x];
    }

    const KernelView view{k, kw, kh, 0, row0, fullWidth, store.Data()};
    ladder.emplace(useVertical ? v : h, view);
    if (k == 0) {
      smallest = view;
    } else if (k == count - 1) {
      largest = view;
    }
    h += hStep;
    v += vStep;
  }
}

KernelView KernelInterpolator::KernelFor(double hAmount, double vAmount) const {
  const double a = useVertical ? vAmount : hAmount;
  const auto found = ladder.lower_bound(a);
  if (found != ladder.end()) return found->second;
  return std::fabs(a - axisAmount) <= a ? largest : smallest;
}

std::vector<KernelView> KernelInterpolator::Views() const {
  std::vector<KernelView> views{largest, smallest};
  for (const auto& [amount, view] : ladder) views.push_back(view);
  return views;
}
