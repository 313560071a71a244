#include "image/AEWorld.h"

#include <algorithm>
#include <cstring>

#include "image/AEException.h"
#include "image/AreaSample.h"
#include "image/Drawing.h"
#include "image/FixedMath.h"
#include "image/HostSuite.h"
#include "image/PixelTraits.h"
#include "image/Scale.h"
#include "image/Smoothing.h"

namespace {

const char kNotInitialized[] = "AEWorld not initialized";

// Like std::clamp, but defined for an empty range (high < low gives high).
int32_t ClampTo(int32_t v, int32_t low, int32_t high) { return std::min(std::max(v, low), high); }

A_u_short Channel8To16(A_u_char c) { return static_cast<A_u_short>((c * 32768 + 128) / 255); }

// Unsigned channels keep the intermediate positive, so the shift rounds as a
// division toward zero would.
A_u_char Channel16To8(A_u_short c) { return static_cast<A_u_char>((c * 255 + 16384) >> 15); }

}  // namespace

PF_Pixel16 Convert8To16(PF_Pixel c) {
  return PF_Pixel16{Channel8To16(c.alpha), Channel8To16(c.red), Channel8To16(c.green),
                    Channel8To16(c.blue)};
}

PF_Pixel Convert16To8(PF_Pixel16 c) {
  return PF_Pixel{Channel16To8(c.alpha), Channel16To8(c.red), Channel16To8(c.green),
                  Channel16To8(c.blue)};
}

template <>
PF_Pixel WorldColor::As<PF_Pixel>() const {
  return use16 ? Convert16To8(color16) : color8;
}

template <>
PF_Pixel16 WorldColor::As<PF_Pixel16>() const {
  return use16 ? color16 : Convert8To16(color8);
}

template <>
PF_PixelFloat WorldColor::As<PF_PixelFloat>() const {
  if (use16) {
    constexpr float k = 1.0f / 32768;
    return PF_PixelFloat{color16.alpha * k, color16.red * k, color16.green * k, color16.blue * k};
  }
  constexpr float k = 1.0f / 255;
  return PF_PixelFloat{color8.alpha * k, color8.red * k, color8.green * k, color8.blue * k};
}

AEWorld::AEWorld() = default;

AEWorld::AEWorld(PF_InData* data) : inData(data) {}

AEWorld::AEWorld(PF_InData* data, int32_t width, int32_t height, PixelFormat format)
    : inData(data) {
  NewWorld(width, height, format);
}

AEWorld::AEWorld(PF_InData* data, PF_EffectWorld* wrapped, bool own) : inData(data) {
  if (own && (wrapped == nullptr || (wrapped->world_flags & PF_WorldFlag_WRITEABLE) == 0)) {
    throw AEException(1, "AEWorld: Can not own a read-only world");
  }
  world = wrapped;
  owns = own;
}

AEWorld::~AEWorld() { Dispose(true); }

void AEWorld::Dispose(bool quiet) {
  PF_Err err = PF_Err_NONE;
  // Without inData there is no host to give anything back to.
  if (inData != nullptr) {
    if (owns && world != nullptr) err = DisposeOwnWorld();
    if (checkedOut) err = inData->inter.checkin_param(inData->effect_ref, &param);
  }
  world = nullptr;
  owns = false;
  checkedOut = false;
  std::memset(&param, 0, sizeof(param));
  if (err != PF_Err_NONE && !quiet) throw AEException(err, "Could not dispose AEWorld");
}

void AEWorld::NewWorld(int32_t width, int32_t height, PixelFormat format) {
  Dispose(false);
  if (width < 1) throw AEException(1, "AEWorld: width for new world is 0!!! :(");
  if (height < 1) throw AEException(1, "AEWorld: height for new world is 0!!! :(");
  if (inData == nullptr) throw AEException(1, kNotInitialized);
  if (format == PixelFormat::ArgbFloat) {
    NewFloatWorld(width, height);
    return;
  }
  const PF_Err err = inData->utils->new_world(inData->effect_ref, width, height,
                                              NewWorldFlagsFor(format), &ownWorld);
  if (err != PF_Err_NONE) throw AEException(err, "Could not Allocate AEWorld");
  world = &ownWorld;
  owns = true;
}

void AEWorld::NewFloatWorld(int32_t width, int32_t height) {
  PF_Err err = PF_Err_BAD_CALLBACK_PARAM;
#ifdef QB_HOSTAPI_CURRENT
  const HostSuite held(inData, kPFWorldSuite, kPFWorldSuiteVersion2);
  const auto* suite = held.Get<PF_WorldSuite2>();
  if (suite != nullptr && suite->PF_NewWorld != nullptr) {
    err = suite->PF_NewWorld(inData->effect_ref, width, height, true, PF_PixelFormat_ARGB128,
                             &ownWorld);
  }
#else
  // Float worlds reach only the current generation's smart render.
  (void)width, (void)height;
#endif
  if (err != PF_Err_NONE) throw AEException(err, "Could not Allocate AEWorld");
  RecordFormat(ownWorld, PixelFormat::ArgbFloat);
  world = &ownWorld;
  owns = true;
}

PF_Err AEWorld::DisposeOwnWorld() {
  // Float worlds come from PF_WorldSuite2 and go back to it.
  if (FormatOf(world) != PixelFormat::ArgbFloat) {
    return inData->utils->dispose_world(inData->effect_ref, world);
  }
#ifdef QB_HOSTAPI_CURRENT
  const HostSuite held(inData, kPFWorldSuite, kPFWorldSuiteVersion2);
  const auto* suite = held.Get<PF_WorldSuite2>();
  if (suite != nullptr && suite->PF_DisposeWorld != nullptr) {
    return suite->PF_DisposeWorld(inData->effect_ref, world);
  }
#endif
  return PF_Err_BAD_CALLBACK_PARAM;
}

void AEWorld::CheckoutLayer(int32_t index) {
  Dispose(false);
  if (inData == nullptr) throw AEException(1, kNotInitialized);
  const PF_Err err = inData->inter.checkout_param(inData->effect_ref, index, inData->current_time,
                                                  inData->time_step, inData->time_scale, &param);
  if (err != PF_Err_NONE) {
    std::memset(&param, 0, sizeof(param));
    throw AEException(err, "AEWorld: Could not check out layer");
  }
  owns = false;
  checkedOut = true;
  world = &param.u.ld;
  // A layer parameter set to none checks out a world without pixels.
  if (world->data == nullptr) Dispose(false);
}

void AEWorld::CopyFrom(PF_EffectWorld* src) {
  NewWorld(src->width, src->height, FormatOf(src));
  Blit(src, world, nullptr, 0, 0);
}

void AEWorld::ScaleFrom(PF_EffectWorld* src, int32_t width, int32_t height, int32_t filter,
                        int32_t edgeMode, const WorldColor* color, ScaleRows order) {
  NewWorld(std::max(width, 1), std::max(height, 1), FormatOf(src));
  DispatchControlPixel(FormatOf(world), [&]<typename Pixel>() {
    const Pixel background = color != nullptr ? color->As<Pixel>() : Pixel{};
    ::Scale(inData, src, world, filter, edgeMode, color != nullptr ? &background : nullptr, order);
  });
}

void AEWorld::ScaleFromBy(PF_EffectWorld* src, double sx, double sy, int32_t filter,
                          int32_t edgeMode, const WorldColor* color, ScaleRows order) {
  const int32_t width = TruncToInt32(src->width * sx + 0.5);
  const int32_t height = TruncToInt32(src->height * sy + 0.5);
  ScaleFrom(src, width, height, filter, edgeMode, color, order);
}

void AEWorld::Fill(WorldColor color, const PF_Rect* rect) {
  CheckInit();
  DispatchPixel(FormatOf(world),
                [&]<typename Pixel>() { FillWorld(inData, color.As<Pixel>(), rect, world); });
}

void AEWorld::BlitFrom(PF_EffectWorld* src, int32_t x, int32_t y) {
  CheckInit();
  Blit(src, world, nullptr, x, y);
}

void AEWorld::DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const WorldColor& color) {
  CheckInit();
  DispatchPixel(FormatOf(world),
                [&]<typename Pixel>() { ::DrawLine(x0, y0, x1, y1, world, color.As<Pixel>()); });
}

void AEWorld::Smooth(const HostFacts& host, double radius, int32_t edgeMode, bool red, bool green,
                     bool blue, bool alpha) {
  CheckInit();
  SmoothWorld(inData, host, world, static_cast<float>(radius), edgeMode, red, green, blue, alpha);
}

void AEWorld::AreaSample(PF_EffectWorld* source, double boxWidth, double boxHeight) {
  CheckInit();
  ::AreaSample(inData, world, source, boxWidth, boxHeight);
}

void AEWorld::CheckInit() const {
  if (world == nullptr || inData == nullptr) throw AEException(1, kNotInitialized);
}

PF_EffectWorld* AEWorld::World() const {
  CheckInit();
  return world;
}

void Blit(PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* srcRect, int32_t x, int32_t y) {
  if (FormatOf(src) != FormatOf(dst)) {
    throw AEException(1, "Blit Error: Worlds have different bitdepths");
  }

  int32_t top = 0, left = 0, bottom = src->height - 1, right = src->width - 1;
  if (srcRect != nullptr) {
    top = srcRect->top;
    left = srcRect->left;
    bottom = srcRect->bottom;
    right = srcRect->right;
  }
  auto clampSource = [&] {
    left = ClampTo(left, 0, src->width - 1);
    right = ClampTo(right, 0, src->width - 1);
    top = ClampTo(top, 0, src->height - 1);
    bottom = ClampTo(bottom, 0, src->height - 1);
  };
  clampSource();

  int32_t dstRight = x + (right - left);
  int32_t dstBottom = y + (bottom - top);
  if (x >= dst->width || y >= dst->height || dstRight < 0 || dstBottom < 0) return;

  if (x < 0) {
    left += -x;
    x = 0;
  }
  if (y < 0) {
    top += -y;
    y = 0;
  }
  dstRight = ClampTo(dstRight, 0, dst->width - 1);
  dstBottom = ClampTo(dstBottom, 0, dst->height - 1);
  clampSource();

  const int32_t columns = std::min(right - left, dstRight - x) + 1;
  const int32_t rows = std::min(bottom - top, dstBottom - y) + 1;
  if (columns < 1 || rows < 1) return;

  const size_t pixelBytes = PixelBytes(FormatOf(src));
  const size_t rowBytes = static_cast<size_t>(columns) * pixelBytes;
  for (int32_t i = 0; i < rows; ++i) {
    const char* from = static_cast<const char*>(src->data) +
                       static_cast<intptr_t>(top + i) * src->rowbytes +
                       static_cast<size_t>(left) * pixelBytes;
    char* to = static_cast<char*>(dst->data) + static_cast<intptr_t>(y + i) * dst->rowbytes +
               static_cast<size_t>(x) * pixelBytes;
    std::memmove(to, from, rowBytes);
  }
}
