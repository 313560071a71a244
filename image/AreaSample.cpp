#include "image/AreaSample.h"

#include <cmath>

#include "image/AEException.h"
#include "image/AEWorld.h"
#include "image/FixedMath.h"
#include "image/PixelTraits.h"

namespace {

// Source pixels per destination pixel. A degenerate box samples far apart;
// the range keeps the host's sampler radii and area representable.
double SamplingScale(int32_t sourceSize, double boxSize) {
  double scale = std::fabs(boxSize) <= 1e-10 ? 126.0 : sourceSize / boxSize;
  if (!(scale >= 0.01)) scale = 0.01;
  if (scale > 127.0) scale = 127.0;
  return scale;
}

PF_Err HostAreaSample(PF_InData* inData, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                      PF_Pixel* out) {
  return inData->utils->area_sample(inData->effect_ref, x, y, params, out);
}

PF_Err HostAreaSample(PF_InData* inData, PF_Fixed x, PF_Fixed y, const PF_SampPB* params,
                      PF_Pixel16* out) {
  return inData->utils->area_sample16(inData->effect_ref, x, y, params, out);
}

// Sample points are pixel centres in 16.16; the host takes the top-left
// corner of the footprint, half a pixel up and left.
template <typename Pixel>
void SampleInto(PF_InData* inData, PF_EffectWorld* destination, const PF_SampPB& params,
                double startX, double startY, double xScale, double yScale) {
  double sx = startX;
  for (int32_t dx = 0; dx < destination->width; ++dx) {
    double sy = startY;
    for (int32_t dy = 0; dy < destination->height; ++dy) {
      const PF_Fixed x = RoundHalfAway(sx * 65536) - 32768;
      const PF_Fixed y = RoundHalfAway(sy * 65536) - 32768;
      const PF_Err err = HostAreaSample(inData, x, y, &params, PixelAt<Pixel>(destination, dx, dy));
      if (err != PF_Err_NONE) throw AEException(err, "AreaSample: Area Sample error");
      sy += yScale;
    }
    sx += xScale;
  }
}

}  // namespace

void AreaSample(PF_InData* inData, PF_EffectWorld* destination, PF_EffectWorld* source,
                double boxWidth, double boxHeight) {
  const double offsetX = destination->width * 0.5 - boxWidth * 0.5;
  const double offsetY = destination->height * 0.5 - boxHeight * 0.5;
  const double xScale = SamplingScale(source->width, boxWidth);
  const double yScale = SamplingScale(source->height, boxHeight);

  PF_SampPB params{};
  params.x_radius = RoundHalfAway(xScale * 0.5 * 65536);
  params.y_radius = RoundHalfAway(yScale * 0.5 * 65536);
  params.area = RoundHalfAway(xScale * yScale * 65536);
  double startX = xScale * 0.5 - xScale * offsetX;
  double startY = yScale * 0.5 - yScale * offsetY;

  // A transparent border of two pixels lets footprints at the edge of the
  // source blend towards transparent black whatever the host does there.
  AEWorld padded(inData, source->width + 4, source->height + 4, FormatOf(source));
  padded.Fill(WorldColor{}, nullptr);
  const PF_Rect whole = HostRect(0, 0, source->width - 1, source->height - 1);
  Blit(source, padded.World(), &whole, 2, 2);
  params.src = padded.World();
  startX += 2.0;
  startY += 2.0;

  DispatchControlPixel(FormatOf(source), [&]<typename Pixel>() {
    SampleInto<Pixel>(inData, destination, params, startX, startY, xScale, yScale);
  });
}

bool ClampInto(int32_t& value, int32_t low, int32_t high) {
  if (value > high) {
    value = high;
    return true;
  }
  if (value < low) {
    value = low;
    return true;
  }
  return false;
}
