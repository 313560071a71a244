#include "image/Drawing.h"

#include <algorithm>
#include <cstdlib>

#include "image/AEException.h"
#include "image/PixelTraits.h"

namespace {

// Bounds are inclusive; the host already limits the calls to its area.
struct FillRefcon16 {
  PF_Pixel16 color;
  int32_t left, right, top, bottom;
};

PF_Err FillPixel16(void* refcon, A_long x, A_long y, PF_Pixel16* /*in*/, PF_Pixel16* out) {
  const FillRefcon16* fill = static_cast<const FillRefcon16*>(refcon);
  if (x >= fill->left && x <= fill->right && y >= fill->top && y <= fill->bottom) {
    *out = fill->color;
  }
  return PF_Err_NONE;
}

template <typename Pixel>
void DrawLineT(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world, Pixel color) {
  const int32_t ax = 2 * std::abs(x1 - x0);
  const int32_t ay = 2 * std::abs(y1 - y0);
  const int32_t sx = x1 >= x0 ? 1 : -1;
  const int32_t sy = y1 >= y0 ? 1 : -1;
  int32_t x = x0;
  int32_t y = y0;
  auto plot = [&] {
    if (x >= 0 && x <= world->width - 1 && y >= 0 && y <= world->height - 1) {
      *PixelAt<Pixel>(world, x, y) = color;
    }
  };
  if (ax > ay) {
    int32_t d = ay - (ax >> 1);
    for (;;) {
      plot();
      if (x == x1) return;
      if (d >= 0) {
        y += sy;
        d -= ax;
      }
      x += sx;
      d += ay;
    }
  }
  int32_t d = ax - (ay >> 1);
  for (;;) {
    plot();
    if (y == y1) return;
    if (d >= 0) {
      x += sx;
      d -= ay;
    }
    y += sy;
    d += ax;
  }
}

}  // namespace

void FillWorld(PF_InData* inData, PF_Pixel color, const PF_Rect* rect, PF_EffectWorld* world) {
  const PF_Err err = inData->utils->fill(inData->effect_ref, &color, rect, world);
  if (err != PF_Err_NONE) throw AEException(err, "FillWorld: Fill error");
}

void FillWorld(PF_InData* inData, PF_Pixel16 color, const PF_Rect* rect, PF_EffectWorld* world) {
  PF_Rect area;
  if (rect != nullptr) {
    area = *rect;
  } else {
    area = HostRect(0, 0, world->width, world->height);
  }
  FillRefcon16 refcon{color, area.left, area.right, area.top, area.bottom};
  const PF_Point origin{0, 0};
  const PF_Err err = inData->utils->iterate_origin16(inData, 0, area.bottom, world, &area, &origin,
                                                     &refcon, FillPixel16, world);
  if (err != PF_Err_NONE) throw AEException(err, "FillWorld: Fill error");
}

// The host has no fill for float worlds; the area is the host rectangle's
// [left, right) x [top, bottom), cut to the world.
void FillWorld(PF_InData*, PF_PixelFloat color, const PF_Rect* rect, PF_EffectWorld* world) {
  PF_Rect area = HostRect(0, 0, world->width, world->height);
  if (rect != nullptr) area = *rect;
  const int32_t left = std::max<int32_t>(area.left, 0);
  const int32_t right = std::min<int32_t>(area.right, world->width);
  for (int32_t y = std::max<int32_t>(area.top, 0);
       y < std::min<int32_t>(area.bottom, world->height); ++y) {
    PF_PixelFloat* row = PixelAt<PF_PixelFloat>(world, 0, y);
    for (int32_t x = left; x < right; ++x) row[x] = color;
  }
}

void ClearWorld(PF_InData* inData, PF_EffectWorld* world) {
  DispatchPixel(FormatOf(world),
                [&]<typename Pixel>() { FillWorld(inData, Pixel{}, nullptr, world); });
}

void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world,
              PF_Pixel color) {
  DrawLineT(x0, y0, x1, y1, world, color);
}

void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world,
              PF_Pixel16 color) {
  DrawLineT(x0, y0, x1, y1, world, color);
}

void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world,
              PF_PixelFloat color) {
  DrawLineT(x0, y0, x1, y1, world, color);
}

namespace {

template <typename Pixel>
void ClearColourUnderTransparentT(PF_EffectWorld* world) {
  for (int32_t y = 0; y < world->height; ++y) {
    Pixel* p = PixelAt<Pixel>(world, 0, y);
    for (int32_t x = 0; x < world->width; ++x, ++p) *p = WithoutHiddenColour(*p);
  }
}

}  // namespace

void ClearColourUnderTransparent(PF_EffectWorld* world) {
  DispatchPixel(FormatOf(world),
                [&]<typename Pixel>() { ClearColourUnderTransparentT<Pixel>(world); });
}
