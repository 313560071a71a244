// Rectangle fill and one-pixel lines on host worlds of either depth.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

// rect goes to the host as given (host convention: right and bottom
// exclusive); null means the whole world. 8 bits: the host's fill callback.
// 16 bits: the host's iterate_origin16 with FillPixel16. Float: written
// directly, the host having no fill for it. Host failure raises
// AEException(code, "FillWorld: Fill error").
void FillWorld(PF_InData* inData, PF_Pixel color, const PF_Rect* rect, PF_EffectWorld* world);
void FillWorld(PF_InData* inData, PF_Pixel16 color, const PF_Rect* rect, PF_EffectWorld* world);
void FillWorld(PF_InData* inData, PF_PixelFloat color, const PF_Rect* rect, PF_EffectWorld* world);
// The whole world, transparent black, at its own depth.
void ClearWorld(PF_InData* inData, PF_EffectWorld* world);

// Pixel coordinates, both ends included; pixels outside the world are
// skipped one by one, so a line may leave the world and come back.
void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world,
              PF_Pixel color);
void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world,
              PF_Pixel16 color);
void DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PF_EffectWorld* world,
              PF_PixelFloat color);

// Sets red, green and blue to 0 under every transparent pixel (alpha 0; in
// float, alpha not above 0). The
// weighted maximum filters each channel alone, so colour the host left under
// transparent pixels would otherwise bleed into visible neighbours.
void ClearColourUnderTransparent(PF_EffectWorld* world);
