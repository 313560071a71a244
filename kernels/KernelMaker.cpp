#include "kernels/KernelMaker.h"

#include <cmath>

#include "image/Containers.h"
#include "image/EdgeMode.h"
#include "image/Smoothing.h"

KernelMaker::~KernelMaker() = default;

void KernelMaker::ReleaseKernel() {}

void KernelMaker::PrepareShape(double, double, int32_t) {}

void KernelMaker::GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height) {
  *width = BaseKernelLength(hAmount);
  *height = BaseKernelLength(vAmount);
}

int32_t BaseKernelLength(double amount) {
  const int32_t k = TruncToInt32(std::ceil(amount) + 0.5);
  return 2 * k + 1;
}

int32_t PaddedBoxLength(double amount) {
  const int32_t n = BaseKernelLength(amount);
  // The box is smoothed afterwards with radius a/20: the margin leaves room
  // for the soft edge, and any non-zero box gets at least one element a side.
  int32_t m = TruncToInt32(amount * 0.05 + 0.5);
  if (m % 2 != 0) m = m + 1;
  if (m < 2 && amount != 0.0) m = 2;
  return n + m;
}

void PeakNormalise(int32_t* values, int32_t count) {
  int32_t max = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (values[i] > max) max = values[i];
  }
  // An all-zero profile has no peak to scale to; it stays as it is.
  if (max <= 0) return;
  const int32_t scale = TruncToInt32(32768.0 / max * 32768.0 + 0.5);
  for (int32_t i = 0; i < count; ++i) values[i] = MulQ15(values[i], scale);
}

void KernelMaker1D::GetProfileLength(double amount, int32_t* length, bool) {
  *length = BaseKernelLength(amount);
}

void KernelMaker1D::GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height) {
  GetProfileLength(hAmount, width, true);
  GetProfileLength(vAmount, height, false);
}

void KernelMaker1D::BuildKernel(int32_t* weights, double hAmount, double vAmount, int32_t) {
  // With one amount exactly zero the kernel is a single row or column, and
  // the profile goes in as it comes, without the second normalisation.
  if (hAmount == 0.0) {
    MakeProfile(weights, vAmount, false);
    return;
  }
  if (vAmount == 0.0) {
    MakeProfile(weights, hAmount, true);
    return;
  }
  int32_t width = 0;
  int32_t height = 0;
  GetKernelSize(hAmount, vAmount, &width, &height);
  Array1D<int32_t> row;
  Array1D<int32_t> column;
  row.Resize(width, 0);
  column.Resize(height, 0);
  MakeProfile(row.Data(), hAmount, true);
  MakeProfile(column.Data(), vAmount, false);
  PeakNormalise(row.Data(), width);
  PeakNormalise(column.Data(), height);
  for (int32_t j = 0; j < height; ++j) {
    for (int32_t i = 0; i < width; ++i) {
      weights[j * width + i] = MulQ15(row[i], column[j]);
    }
  }
}

namespace {

// A Gaussian of standard deviation 0.4 * amount sampled at -k..k, peak
// normalised to 32768.
void MakeGaussianProfile(PF_InData* inData, const HostFacts& host, int32_t* profile, double amount,
                         int32_t length) {
  if (length == 1) {
    profile[0] = 32768;
    return;
  }
  int32_t reportedLength = 0;
  MakeGaussianKernel(inData, host, static_cast<float>(amount), profile, length, &reportedLength,
                     false, 32768);
  PeakNormalise(profile, length);
}

// Linear (squared == false) or squared fall-off from 1 at the centre to 0 at
// distance `amount`; elements at or beyond it keep the caller's zeros.
void MakeTentProfile(int32_t* profile, double amount, int32_t length, bool squared) {
  if (length == 1) {
    profile[0] = 32768;
    return;
  }
  const double centre = length * 0.5;
  for (int32_t i = 0; i < length; ++i) {
    const double d = std::fabs(centre - (i + 0.5));
    const double t = (amount - d) * (1.0 / amount);
    if (squared) {
      if (t > 0.0) profile[i] = TruncToInt32(t * t * 32768 + 0.5);
    } else {
      const int32_t value = TruncToInt32(t * 32768 + 0.5);
      if (value > 0) profile[i] = value;
    }
  }
}

}  // namespace

void MakeSmoothedBoxProfile(PF_InData* inData, const HostFacts& host, int32_t* profile,
                            double amount, int32_t length) {
  const double centre = length * 0.5;
  const double lo = centre - amount;
  const double hi = centre + amount;
  for (int32_t i = 0; i < length; ++i) {
    // Coverage of element [i, i+1] by the box [lo, hi].
    double value;
    if (i + 1 < lo || i > hi) {
      value = 0.0;
    } else if (i >= lo && i + 1 <= hi) {
      value = 1.0;
    } else if (i < lo && i + 1 > hi) {
      value = hi - lo;
    } else if (i <= lo) {
      value = i + 1 - lo;
    } else {
      value = hi - i;
    }
    profile[i] = TruncToInt32(value * 32768 + 0.5);
  }
  Array2D<int32_t> row;
  row.View(profile, length, 1);
  SmoothArray(inData, host, &row, static_cast<float>(amount * 0.05), EdgeNone, true, false);
  // The smoothing takes a little off the centre; the box's peak is exact.
  profile[length / 2] = 32768;
}

void GaussianKernelMaker::MakeProfile(int32_t* profile, double amount, bool horizontal) {
  int32_t length = 0;
  GetProfileLength(amount, &length, horizontal);
  MakeGaussianProfile(inData, host, profile, amount, length);
}

void DiamondKernelMaker::MakeProfile(int32_t* profile, double amount, bool horizontal) {
  int32_t length = 0;
  GetProfileLength(amount, &length, horizontal);
  MakeTentProfile(profile, amount, length, false);
}

void SharpDiamondKernelMaker::MakeProfile(int32_t* profile, double amount, bool horizontal) {
  int32_t length = 0;
  GetProfileLength(amount, &length, horizontal);
  MakeTentProfile(profile, amount, length, true);
}

void BoxKernelMaker::GetProfileLength(double amount, int32_t* length, bool) {
  *length = PaddedBoxLength(amount);
}

void BoxKernelMaker::MakeProfile(int32_t* profile, double amount, bool horizontal) {
  int32_t length = 0;
  GetProfileLength(amount, &length, horizontal);
  MakeSmoothedBoxProfile(inData, host, profile, amount, length);
}

void CylinderKernelMaker::GetProfileLength(double amount, int32_t* length, bool horizontal) {
  *length = horizontal ? PaddedBoxLength(amount) : BaseKernelLength(amount);
}

void CylinderKernelMaker::MakeProfile(int32_t* profile, double amount, bool horizontal) {
  int32_t length = 0;
  GetProfileLength(amount, &length, horizontal);
  if (horizontal) {
    MakeSmoothedBoxProfile(inData, host, profile, amount, length);
  } else {
    MakeGaussianProfile(inData, host, profile, amount, length);
  }
}
