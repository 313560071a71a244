#include "kernels/SpiralKernel.h"

#include <cmath>
#include <cstdlib>

#include "image/AEWorld.h"
#include "image/AreaSample.h"
#include "image/Containers.h"
#include "image/FixedMath.h"
#include "image/PixelTraits.h"

namespace {

constexpr double kRadiansToDegrees = 57.29577951308232;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPiOver80 = 0.039269908169872414;
constexpr double kArmWidth = 80.0;
constexpr double kArmStarts[4] = {0.0, 90.0, 180.0, 270.0};
// Degrees an arm turns between the centre and the mean half-size.
constexpr double kTwistPerMeanRadius = 120.0;

// Clockwise from straight up, in [0, 360); the axes belong to the quadrant
// that keeps the arms free of a seam along the centre row and column.
double ScreenAngle(double ex, double ey, double length) {
  double ny = std::fabs(ey);
  if (std::fabs(length - 1.0) > 1e-10) ny /= length;
  const double alpha = std::acos(ny) * kRadiansToDegrees;
  if (ex >= 0 && ey < 0) return alpha;
  if (ex > 0 && ey >= 0) return 180 - alpha;
  if (ex <= 0 && ey > 0) return 180 + alpha;
  return 360 - alpha;
}

double BoxSide(double amount) { return amount > 1 ? amount : 1; }

}  // namespace

SpiralGeometry MakeSpiralGeometry(double hAmount, double vAmount) {
  SpiralGeometry g;
  g.a = hAmount > 0.5 ? hAmount : 0.5;
  g.b = vAmount > 0.5 ? vAmount : 0.5;
  g.k = kTwistPerMeanRadius / ((g.a + g.b) * 0.5);
  return g;
}

int32_t SpiralWeight(const SpiralGeometry& geometry, double sx, double sy) {
  const double ex = sx - geometry.a;
  const double ey = sy - geometry.b;
  if (ex == 0 && ey == 0) return 0;
  const double length = std::sqrt(ex * ex + ey * ey);

  const double theta = ScreenAngle(ex, ey, length);
  const double phi = std::fmod(theta + length * geometry.k, 360.0);
  double m = -1.0;
  for (double s : kArmStarts) {
    if (phi >= s && phi <= s + kArmWidth) {
      m = std::fmin(std::fabs(phi - s), std::fabs(s + kArmWidth - phi));
      break;
    }
  }
  if (m < 0) return 0;

  const double stretched = std::fabs(ey) * (geometry.a / geometry.b);
  double rho = std::sqrt(ex * ex + stretched * stretched) / geometry.a;
  if (rho < 0) rho = 0;
  if (rho > 1) rho = 1;
  const double radial = std::cos(kHalfPi * (1 - std::cos(kHalfPi * rho)));
  const double angular = std::cos((40 - m) * kPiOver80);
  int32_t weight = TruncToInt32(radial * angular * 32768 + 0.5);
  ClampInto(weight, 0, 32768);
  return weight;
}

void DrawSpiral(int32_t* weights, double hAmount, double vAmount, int32_t width, int32_t height) {
  if (width == 1 && height == 1) {
    weights[0] = 32768;
    return;
  }
  const SpiralGeometry g = MakeSpiralGeometry(hAmount, vAmount);
  const double dx = 2 * g.a / width;
  const double dy = 2 * g.b / height;
  double sx = dx * 0.5;
  for (int32_t i = 0; i < width; ++i) {
    double sy = dy * 0.5;
    for (int32_t j = 0; j < height; ++j) {
      weights[j * width + i] = SpiralWeight(g, sx, sy);
      sy += dy;
    }
    sx += dx;
  }
  weights[(height / 2) * width + width / 2] = 32768;
}

void SpiralKernelMaker::BuildKernel(int32_t* weights, double hAmount, double vAmount,
                                    int32_t /*kernelIndex*/) {
  int32_t width = 0;
  int32_t height = 0;
  if (hAmount >= kDirectAmount && vAmount >= kDirectAmount) {
    GetKernelSize(hAmount, vAmount, &width, &height);
    DrawSpiral(weights, hAmount, vAmount, width, height);
    return;
  }

  GetKernelSize(hAmount, vAmount, &width, &height);
  const double hGrid = hAmount > kDirectAmount ? hAmount : kDirectAmount;
  const double vGrid = vAmount > kDirectAmount ? vAmount : kDirectAmount;
  int32_t gridWidth = 0;
  int32_t gridHeight = 0;
  GetKernelSize(hGrid, vGrid, &gridWidth, &gridHeight);

  Array2D<int32_t> grid;
  grid.Resize(gridWidth, gridHeight, 0);
  DrawSpiral(grid.Data(), hAmount, vAmount, gridWidth, gridHeight);

  AEWorld fine(inData, gridWidth, gridHeight, PixelFormat::Argb16);
  PF_EffectWorld* fineWorld = fine.World();
  for (int32_t y = 0; y < gridHeight; ++y) {
    for (int32_t x = 0; x < gridWidth; ++x) {
      PF_Pixel16* p = PixelAt<PF_Pixel16>(fineWorld, x, y);
      p->alpha = 32768;
      p->red = static_cast<A_u_short>(grid.At(x, y));
      p->green = 0;
      p->blue = 0;
    }
  }

  AEWorld coarse(inData, width, height, PixelFormat::Argb16);
  coarse.AreaSample(fineWorld, BoxSide(2 * hAmount), BoxSide(2 * vAmount));
  PF_EffectWorld* coarseWorld = coarse.World();
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      weights[y * width + x] = PixelAt<PF_Pixel16>(coarseWorld, x, y)->red;
    }
  }
  weights[(height / 2) * width + width / 2] = 32768;
}
