// A ladder of N kernels for the evenly spaced fractions 0, A/N, ...,
// (N - 1)A/N of one full amount A, built once and handed out by amount.
// Amounts are half-sizes in pixels; weights are Q15 (32768 = 1.0). All N
// kernels live in one store of W columns by N * Hmax rows (W, Hmax: the size
// for the full amounts); kernel k occupies the band of rows starting at
// k * Hmax, left-aligned, so its view has originX 0, originY k * Hmax and
// rowStride W. Views stay valid while the interpolator lives. The maker is
// not owned.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "image/Containers.h"
#include "kernels/KernelStorage.h"

class KernelMaker;

class KernelInterpolator {
 public:
  // Two amounts closer than this are the same rung of the ladder.
  static constexpr double kTolerance = 1e-10;

  KernelInterpolator() = default;
  KernelInterpolator(const KernelInterpolator&) = delete;
  KernelInterpolator& operator=(const KernelInterpolator&) = delete;
  virtual ~KernelInterpolator() = default;

  // The maker must already be prepared for (hAmount, vAmount, count).
  void Build(double hAmount, double vAmount, KernelMaker* kernelMaker, int32_t count);

  // A request between two rungs gets the next larger one; a request above the
  // last rung gets the largest kernel.
  KernelView KernelFor(double hAmount, double vAmount) const;

  int32_t Count() const { return count; }
  int32_t RungCount() const { return static_cast<int32_t>(ladder.size()); }
  const KernelView& Largest() const { return largest; }
  const KernelView& Smallest() const { return smallest; }
  // Every view KernelFor can answer.
  std::vector<KernelView> Views() const;

 private:
  struct AmountLess {
    bool operator()(double a, double b) const;
  };

  int32_t count = 0;
  Array2D<int32_t> store;
  std::map<double, KernelView, AmountLess> ladder;
  KernelView largest;
  KernelView smallest;
  Array2D<int32_t> scratch;
  double maxHeight = 0.0;
  bool useVertical = false;
  double axisAmount = 0.0;
};
