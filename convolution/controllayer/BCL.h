// The Blur Control Layer: a layer whose pixels scale the blur amount pixel by
// pixel. BCLImage places the layer over the image being blurred and turns a
// pixel into a factor f in [0, 1] and a control value (0..255 for an 8-bit
// layer, 0..32768 for a 16-bit one; f = control / full scale). Coordinates
// are pixels of the image being blurred; offsetX/offsetY is where the scaled
// layer's top-left pixel lies in them. Outside the layer every pixel gets the
// full amount (or none when inverted), in the depth of the image being
// blurred. The source and control worlds are not owned; the scaled copy is.
//
// BCLHolder pairs a BCLImage with a KernelInterpolator built for one pair of
// amounts and answers which kernel applies at a pixel or for a control value.
// Its views point into the interpolator and live as long as the holder.
// KernelHolderFactory makes the holders of one render and carries its
// control layer (useBCL false: a uniform blur).
#pragma once

#include <cstdint>

#include "convolution/controllayer/KernelInterpolator.h"
#include "hostapi/PluginApi.h"
#include "image/AEWorld.h"
#include "image/Scale.h"
#include "kernels/KernelStorage.h"
#include "kernels/Settings.h"

class KernelMaker;

// The control-layer parameters as the render driver read them.
struct BCLSettings {
  int32_t edgeMode = 2;
  int32_t filter = 4;
  int32_t channel = 0;   // 0 Luminance, 1 Red, 2 Green, 3 Blue, other Alpha
  int32_t tileMode = 0;  // 0 No Tiling, 1 Center Image, 2 Stretch To Fit
  int32_t centerX = 0;   // pixels of the image being blurred
  int32_t centerY = 0;
  double scaleX = 1.0;  // factors, 1.0 = 100 %
  double scaleY = 1.0;
  bool invert = false;
  int32_t compoundShapes = 50;
  // How the layer is resampled: the fast engine shares it out on the host's
  // threads.
  ScaleRows resampleRows = ScaleRows::InOrder;
};

class BCLImage {
 public:
  BCLImage() = default;
  BCLImage(const BCLImage&) = delete;
  BCLImage& operator=(const BCLImage&) = delete;
  virtual ~BCLImage() = default;

  // A null control layer leaves the image empty: every pixel gets the default.
  void Init(PF_InData* data, PF_EffectWorld* source, PF_EffectWorld* control,
            const BCLSettings& bclSettings);
  void Place(PF_EffectWorld* control);

  // control may be null. The factor is not clamped.
  double SampleAmount(int32_t x, int32_t y, int32_t* control) const;
  // SampleAmount of pixels x0 .. x0 + count - 1 of row y, into f[i] and
  // control[i], with the pixel format and the row looked up once. Answers
  // which of them lie on the placed layer: there f is one function of the
  // control value for the whole render (the layer's depth and the inversion
  // are fixed), off it every pixel has the same outside pair.
  struct LayerSpan {
    int32_t first = 0;  // i in [first, end), empty when first >= end
    int32_t end = 0;
    bool Holds(int32_t i) const { return i >= first && i < end; }
  };
  LayerSpan SampleRow(int32_t x0, int32_t y, int32_t count, double* f, int32_t* control) const;
  // The largest control value SampleRow answers, as an index of 16 bits
  // (where an inverted channel above full scale answers a negative value,
  // such an index wraps it): any channel value of the placed layer's depth,
  // since a 16-bit channel may exceed full scale, or the image's own full
  // scale, which the pixels off the layer take.
  int32_t LargestControl() const { return largestControl; }
  // Gives the placed layer back to the host once every sample is taken, so
  // that the next frame-sized request can reuse its memory; a later sample
  // raises.
  void ReleasePlaced();

  PF_EffectWorld* SourceImage() const { return sourceImage; }
  const AEWorld& ControlImage() const { return controlImage; }
  const BCLSettings& Settings() const { return settings; }
  int32_t OffsetX() const { return offsetX; }
  int32_t OffsetY() const { return offsetY; }

 private:
  PF_InData* inData = nullptr;
  PF_EffectWorld* sourceImage = nullptr;
  AEWorld controlImage;
  BCLSettings settings{};
  int32_t offsetX = 0;
  int32_t offsetY = 0;
  int32_t largestControl = 0;
  bool released = false;
};

class BCLHolder {
 public:
  // Prepares the maker for settings.compoundShapes kernels and builds them.
  BCLHolder(PF_InData* data, PF_EffectWorld* source, PF_EffectWorld* control,
            const BCLSettings& bclSettings, double hAmount, double vAmount, KernelMaker* maker);
  BCLHolder(const BCLHolder&) = delete;
  BCLHolder& operator=(const BCLHolder&) = delete;
  virtual ~BCLHolder() = default;

  KernelView KernelAt(int32_t x, int32_t y, int32_t* control) const;
  // The control value is read against the full scale of the image being
  // blurred, whatever the depth of the layer it came from.
  KernelView KernelForControl(int32_t control) const;

  double HAmount() const { return horizontalAmount; }
  double VAmount() const { return verticalAmount; }
  const KernelInterpolator& Interpolator() const { return interpolator; }
  const BCLImage& Image() const { return image; }
  void ReleasePlacedLayer() { image.ReleasePlaced(); }

 private:
  KernelInterpolator interpolator;
  double horizontalAmount = 0.0;
  double verticalAmount = 0.0;
  BCLImage image;
};

class KernelHolderFactory {
 public:
  KernelHolderFactory() = default;
  virtual ~KernelHolderFactory() = default;

  // The caller owns the result.
  SimpleKernelHolder* MakeHolder(double hAmount, double vAmount, KernelMaker* maker);
  BCLHolder* MakeBCLHolder(double hAmount, double vAmount, KernelMaker* maker);
  // A holder asked only for kernels by control value (KernelForControl): the
  // layer is not placed, which saves a resampling of it.
  BCLHolder* MakeBCLLadder(double hAmount, double vAmount, KernelMaker* maker);

  bool useBCL = false;
  PF_InData* inData = nullptr;
  PF_EffectWorld* source = nullptr;
  PF_EffectWorld* bclWorld = nullptr;
  BCLSettings bcl{};
};
