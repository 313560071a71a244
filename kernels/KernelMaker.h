// Kernel makers turn a shape and a pair of blur amounts (half-sizes in
// pixels, h across and v down) into Q15 weight kernels (32768 = 1.0),
// row-major, odd width and height, centre at (width/2, height/2). Callers
// zero the buffer before BuildKernel. Calling order: ReleaseKernel,
// PrepareShape(h, v, kernelCount), GetKernelSize, BuildKernel for each index.
// Makers only describe shapes; the convolution layer picks the algorithm
// for a maker's ShapeKind.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/FixedMath.h"
#include "image/HostFacts.h"
#include "kernels/Settings.h"

// How a kernel is applied: as two one-dimensional passes (KernelMaker1D),
// as the two bars of the cross (CrossKernelMaker), every tap of a whole
// kernel, or only the listed taps of a masked one (MaskedKernelMaker).
enum class ShapeKind { Separable, Cross, Whole, Masked };

class KernelMaker {
 public:
  virtual ~KernelMaker();
  virtual void ReleaseKernel();
  virtual void PrepareShape(double hAmount, double vAmount, int32_t kernelCount);
  virtual void BuildKernel(int32_t* weights, double hAmount, double vAmount,
                           int32_t kernelIndex) = 0;
  virtual void GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height);
  virtual ShapeKind Kind() const { return ShapeKind::Whole; }
};

// A weighted value: 32-bit product (wrapping as the target does), then an
// arithmetic shift; never rounded.
inline int32_t MulQ15(int32_t weight, int32_t value) {
  return Wrap32(static_cast<int64_t>(weight) * value) >> 15;
}

// 2 * (int)(ceil(a) + 0.5) + 1.
int32_t BaseKernelLength(double amount);
// The Box's padded length: base length plus an even margin of about a/20.
int32_t PaddedBoxLength(double amount);
// 2^30 / max rounded, then every element (e * scale) >> 15.
void PeakNormalise(int32_t* values, int32_t count);

// Separable shapes: the kernel is the outer product of two profiles.
class KernelMaker1D : public KernelMaker {
 public:
  void BuildKernel(int32_t* weights, double hAmount, double vAmount, int32_t kernelIndex) override;
  void GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height) override;
  ShapeKind Kind() const override { return ShapeKind::Separable; }
  virtual void MakeProfile(int32_t* profile, double amount, bool horizontal) = 0;
  virtual void GetProfileLength(double amount, int32_t* length, bool horizontal);
};

class GaussianKernelMaker : public KernelMaker1D {
 public:
  GaussianKernelMaker(PF_InData* d, const HostFacts& h) : inData(d), host(h) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;

 private:
  PF_InData* inData;
  HostFacts host;
};

class DiamondKernelMaker : public KernelMaker1D {
 public:
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
};

class SharpDiamondKernelMaker : public KernelMaker1D {
 public:
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
};

class BoxKernelMaker : public KernelMaker1D {
 public:
  BoxKernelMaker(PF_InData* d, const HostFacts& h) : inData(d), host(h) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
  void GetProfileLength(double amount, int32_t* length, bool horizontal) override;

 private:
  PF_InData* inData;
  HostFacts host;
};

class CylinderKernelMaker : public KernelMaker1D {
 public:
  CylinderKernelMaker(PF_InData* d, const HostFacts& h) : inData(d), host(h) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
  void GetProfileLength(double amount, int32_t* length, bool horizontal) override;

 private:
  PF_InData* inData;
  HostFacts host;
};

// The Box profile: overlap of each element with [c - a, c + a], smoothed
// with radius a/20, centre forced to 32768.
void MakeSmoothedBoxProfile(PF_InData* inData, const HostFacts& host, int32_t* profile,
                            double amount, int32_t length);
