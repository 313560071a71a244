// Kernel makers turn a shape and a pair of blur amounts (half-sizes in
// pixels, h across and v down) into Q15 weight kernels (32768 = 1.0),
// row-major, odd width and height, centre at (width/2, height/2). Callers
// zero the buffer before BuildKernel. Calling order: ReleaseKernel,
// PrepareShape(h, v, kernelCount), GetKernelSize, BuildKernel for each index.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/FixedMath.h"
#include "kernels/Settings.h"

class KernelHolderFactory;

class KernelMaker {
 public:
  virtual ~KernelMaker();
  virtual void ReleaseKernel();
  virtual void PrepareShape(double hAmount, double vAmount, int32_t kernelCount);
  virtual void BuildKernel(int32_t* weights, double hAmount, double vAmount,
                           int32_t kernelIndex) = 0;
  virtual void GetKernelSize(double hAmount, double vAmount, int32_t* width, int32_t* height);
  // Weighted maximum of src into dst (same size and depth; dst is a floor).
  virtual void ConvolveImage(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                             KernelHolderFactory* factory);
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
  void ConvolveImage(PF_EffectWorld* src, PF_EffectWorld* dst, KernelSettings* settings,
                     KernelHolderFactory* factory) override;
  virtual void MakeProfile(int32_t* profile, double amount, bool horizontal) = 0;
  virtual void GetProfileLength(double amount, int32_t* length, bool horizontal);
};

class GaussianKernelMaker : public KernelMaker1D {
 public:
  explicit GaussianKernelMaker(PF_InData* d) : inData(d) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;

 private:
  PF_InData* inData;
};

class DiamondKernelMaker : public KernelMaker1D {
 public:
  explicit DiamondKernelMaker(PF_InData* d) : inData(d) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;

 private:
  [[maybe_unused]] PF_InData* inData;
};

class SharpDiamondKernelMaker : public KernelMaker1D {
 public:
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
};

class BoxKernelMaker : public KernelMaker1D {
 public:
  explicit BoxKernelMaker(PF_InData* d) : inData(d) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
  void GetProfileLength(double amount, int32_t* length, bool horizontal) override;

 private:
  PF_InData* inData;
};

class CylinderKernelMaker : public KernelMaker1D {
 public:
  explicit CylinderKernelMaker(PF_InData* d) : inData(d) {}
  void MakeProfile(int32_t* profile, double amount, bool horizontal) override;
  void GetProfileLength(double amount, int32_t* length, bool horizontal) override;

 private:
  PF_InData* inData;
};

// The Box profile: overlap of each element with [c - a, c + a], smoothed
// with radius a/20, centre forced to 32768.
void MakeSmoothedBoxProfile(PF_InData* inData, int32_t* profile, double amount, int32_t length);
