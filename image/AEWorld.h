// The effect's one handle on a host image. An AEWorld owns a world the host
// allocated for it, holds a checked-out layer parameter, or wraps a world
// owned elsewhere; whatever it holds it gives back when disposed or
// destroyed, also while an exception unwinds. The pixel format is the
// world's (FormatOf). Scaling, smoothing and area sampling serve control
// images and take 8 or 16 bits only. Rectangles here are inclusive (whole world: 0, 0, h-1, w-1).
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/HostFacts.h"
#include "image/PixelFormat.h"
#include "image/Scale.h"

// A colour given in one pixel type and read in any; use16 says which form
// is meant. Conversions: 8->16 (c*32768+128)/255, 16->8 (c*255+16384)>>15,
// to float c/255 or c/32768.
struct WorldColor {
  PF_Pixel color8{};
  PF_Pixel16 color16{};
  bool use16 = false;

  static WorldColor Of(PF_Pixel c) { return WorldColor{c, PF_Pixel16{}, false}; }
  static WorldColor Of(PF_Pixel16 c) { return WorldColor{PF_Pixel{}, c, true}; }
  template <typename Pixel>
  Pixel As() const;
};
template <>
PF_Pixel WorldColor::As<PF_Pixel>() const;
template <>
PF_Pixel16 WorldColor::As<PF_Pixel16>() const;
template <>
PF_PixelFloat WorldColor::As<PF_PixelFloat>() const;

PF_Pixel16 Convert8To16(PF_Pixel c);
PF_Pixel Convert16To8(PF_Pixel16 c);

class AEWorld {
 public:
  AEWorld();
  explicit AEWorld(PF_InData* inData);
  AEWorld(PF_InData* inData, int32_t width, int32_t height, PixelFormat format);
  AEWorld(PF_InData* inData, PF_EffectWorld* world, bool own);
  AEWorld(const AEWorld&) = delete;
  AEWorld& operator=(const AEWorld&) = delete;
  virtual ~AEWorld();

  void Dispose(bool quiet);

  void NewWorld(int32_t width, int32_t height, PixelFormat format);
  void CheckoutLayer(int32_t index);
  void CopyFrom(PF_EffectWorld* src);
  void ScaleFrom(PF_EffectWorld* src, int32_t width, int32_t height, int32_t filter,
                 int32_t edgeMode, const WorldColor* color, ScaleRows order = ScaleRows::InOrder);
  void ScaleFromBy(PF_EffectWorld* src, double sx, double sy, int32_t filter, int32_t edgeMode,
                   const WorldColor* color, ScaleRows order = ScaleRows::InOrder);

  void Fill(WorldColor color, const PF_Rect* rect);
  void BlitFrom(PF_EffectWorld* src, int32_t x, int32_t y);
  void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const WorldColor& color);
  void Smooth(const HostFacts& host, double radius, int32_t edgeMode, bool red, bool green,
              bool blue, bool alpha);
  void AreaSample(PF_EffectWorld* source, double boxWidth, double boxHeight);

  void CheckInit() const;
  // The held world; raises "AEWorld not initialized" when empty or without inData.
  PF_EffectWorld* World() const;
  // The held world or null, without the check (layer reads treat null as "none").
  PF_EffectWorld* RawWorld() const { return world; }
  PF_InData* InData() const { return inData; }
  void SetInData(PF_InData* d) { inData = d; }

 private:
  void NewFloatWorld(int32_t width, int32_t height);
  PF_Err DisposeOwnWorld();

  bool checkedOut = false;
  PF_ParamDef param{};
  PF_InData* inData = nullptr;
  PF_EffectWorld ownWorld{};
  PF_EffectWorld* world = nullptr;
  bool owns = false;
};

// Copies srcRect of src (null: all of it) to dst with its top-left at (x, y),
// clipped on both sides. Worlds of different formats raise.
void Blit(PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* srcRect, int32_t x, int32_t y);
