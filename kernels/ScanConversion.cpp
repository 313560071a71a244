#include "kernels/ScanConversion.h"

#include <algorithm>
#include <cmath>

#include "image/AEException.h"
#include "image/FixedMath.h"

namespace {

constexpr double kParallelLimit = 1e-10;

}  // namespace

bool GenericScanCallback::Inside(double x, double y) {
  const int32_t n = points.Size();
  int32_t winding = 0;
  for (int32_t i = 0; i + 1 < n; ++i) {
    const Vec2d s = points[i];
    const Vec2d e = points[i + 1];
    const double side = (e.x - s.x) * (y - s.y) - (x - s.x) * (e.y - s.y);
    if (s.y <= y) {
      if (e.y > y && side > 0.0) ++winding;
    } else if (e.y <= y && side < 0.0) {
      --winding;
    }
  }
  return winding != 0;
}

void ScanPolygon(GenericScanCallback& callback) {
  const int32_t n = callback.points.Size();
  if (n < 1) return;
  const Vec2d first = callback.points[0];
  const Vec2d last = callback.points[n - 1];
  if (last.x != first.x || last.y != first.y) {
    throw AEException(1, "ScanPolygon: PointList not initialized :(");
  }
  double minX = first.x;
  double maxX = first.x;
  double minY = first.y;
  double maxY = first.y;
  for (int32_t i = 1; i < n; ++i) {
    const Vec2d p = callback.points[i];
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  ScanRect(TruncToInt32(minX), TruncToInt32(maxX + 0.5), TruncToInt32(minY),
           TruncToInt32(maxY + 0.5), callback);
}

void ScanRect(int32_t x0, int32_t x1, int32_t y0, int32_t y1, GenericScanCallback& callback) {
  const int32_t w = x1 - x0 + 1;
  const int32_t h = y1 - y0 + 1;
  const bool touched = RectTouchesOutline(ScanRectangle{x0, x1, y0, y1}, callback);

  if (w == 1 && h == 1) {
    if (touched) {
      callback.Plot(x0, y0, kCoverEdge);
    } else if (callback.Inside(x0 + 0.5, y0 + 0.5)) {
      callback.Plot(x0, y0, kCoverInside);
    }
    return;
  }

  if (!touched) {
    // Nothing crosses the box, so one sample decides all of it.
    if (callback.Inside((x0 + x1) * 0.5, (y0 + y1) * 0.5)) {
      for (int32_t x = x0; x <= x1; ++x) {
        for (int32_t y = y0; y <= y1; ++y) callback.Plot(x, y, kCoverInside);
      }
    }
    return;
  }

  // [lo, hi] of each half; a side that is not split has one "half".
  int32_t xs[2][2] = {{x0, x1}, {x0, x1}};
  int32_t ys[2][2] = {{y0, y1}, {y0, y1}};
  const int32_t xParts = w > 1 ? 2 : 1;
  const int32_t yParts = h > 1 ? 2 : 1;
  if (w > 1) {
    const int32_t xm = w == 2 ? x0 : (x0 + x1) / 2;
    xs[0][1] = xm;
    xs[1][0] = xm + 1;
  }
  if (h > 1) {
    const int32_t ym = h == 2 ? y0 : (y0 + y1) / 2;
    ys[0][1] = ym;
    ys[1][0] = ym + 1;
  }
  for (int32_t j = 0; j < yParts; ++j) {
    for (int32_t i = 0; i < xParts; ++i) {
      ScanRect(xs[i][0], xs[i][1], ys[j][0], ys[j][1], callback);
    }
  }
}

bool RectTouchesOutline(const ScanRectangle& rect, GenericScanCallback& callback) {
  const double left = rect.x0;
  const double right = rect.x1 + 1.0;
  const double top = rect.y0;
  const double bottom = rect.y1 + 1.0;
  const int32_t n = callback.points.Size();

  for (int32_t i = 0; i + 1 < n; ++i) {
    const Vec2d p = callback.points[i];
    if (left <= p.x && p.x <= right && top <= p.y && p.y <= bottom) return true;
  }

  const double sides[4][4] = {
      {left, top, right, top},
      {right, top, right, bottom},
      {right, bottom, left, bottom},
      {left, bottom, left, top},
  };
  for (int32_t i = 0; i + 1 < n; ++i) {
    const Vec2d a = callback.points[i];
    const Vec2d b = callback.points[i + 1];
    for (const auto& s : sides) {
      if (SegmentsIntersect(a.x, a.y, b.x, b.y, s[0], s[1], s[2], s[3], nullptr, nullptr) ==
          kSegmentsCross) {
        return true;
      }
    }
  }
  return false;
}

int32_t SegmentsIntersect(double ax, double ay, double bx, double by, double cx, double cy,
                          double dx, double dy, double* x, double* y) {
  if (std::max(std::min(ax, bx), std::min(cx, dx)) > std::min(std::max(ax, bx), std::max(cx, dx)))
    return kSegmentsApart;
  if (std::max(std::min(ay, by), std::min(cy, dy)) > std::min(std::max(ay, by), std::max(cy, dy)))
    return kSegmentsApart;

  const double det = (dy - cy) * (bx - ax) - (dx - cx) * (by - ay);
  if (std::fabs(det) <= kParallelLimit) return kSegmentsParallel;
  const double inverse = 1.0 / det;
  const double t = ((ay - cy) * (dx - cx) - (ax - cx) * (dy - cy)) * inverse;
  if (t < 0.0 || t > 1.0) return kSegmentsApart;
  const double u = ((ay - cy) * (bx - ax) - (ax - cx) * (by - ay)) * inverse;
  if (u < 0.0 || u > 1.0) return kSegmentsApart;

  if (x != nullptr) *x = ax + t * (bx - ax);
  if (y != nullptr) *y = ay + t * (by - ay);
  return kSegmentsCross;
}

bool LineIntersection(double ax, double ay, double bx, double by, double cx, double cy, double dx,
                      double dy, double* x, double* y, double* t, double* u) {
  const double det = (bx - ax) * (dy - cy) - (by - ay) * (dx - cx);
  if (std::fabs(det) <= kParallelLimit) return false;
  const double tt = ((ay - cy) * (dx - cx) - (ax - cx) * (dy - cy)) / det;
  const double uu = ((ay - cy) * (bx - ax) - (ax - cx) * (by - ay)) / det;
  if (x != nullptr) *x = ax + tt * (bx - ax);
  if (y != nullptr) *y = ay + tt * (by - ay);
  if (t != nullptr) *t = tt;
  if (u != nullptr) *u = uu;
  return true;
}
