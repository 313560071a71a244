// Anti-aliased polygon filling by recursive rectangle subdivision, and the
// line geometry the star construction needs.
//
// Coordinates are doubles in pixels of the target image: pixel (i, j) covers
// the square (i, j)-(i + 1, j + 1), y grows downward. An outline is closed
// (its last point equals its first exactly) and is filled by the non-zero
// winding rule; it may be concave. Pixel rectangles are inclusive
// (x0..x1, y0..y1); as a region of the plane a rectangle is the closed box
// (x0, y0)-(x1 + 1, y1 + 1).
#pragma once

#include <cstdint>

#include "image/Containers.h"

struct Vec2d {
  double x = 0.0;
  double y = 0.0;
};

// What ScanPolygon tells Plot about one pixel.
enum ScanCoverage : int32_t {
  kCoverNothing = 0,  // never sent by ScanPolygon; Plot ignores it
  kCoverInside = 1,   // wholly inside the outline
  kCoverEdge = 2,     // crossed by the outline
};

// Holds the outline (owned) and receives the pixels of one drawing.
class GenericScanCallback {
 public:
  GenericScanCallback() = default;
  GenericScanCallback(const GenericScanCallback&) = delete;
  GenericScanCallback& operator=(const GenericScanCallback&) = delete;
  virtual ~GenericScanCallback() = default;

  virtual void Plot(int32_t x, int32_t y, int32_t coverage) = 0;
  // Non-zero winding number of the outline at (x, y). A point on an edge
  // belongs to it at the edge's lower end (larger y) but not at its upper end.
  virtual bool Inside(double x, double y);

  Array1D<Vec2d> points;
};

struct ScanRectangle {
  int32_t x0;
  int32_t x1;
  int32_t y0;
  int32_t y1;
};

// Visits the outline's bounding box; an empty outline draws nothing, an open
// one raises AEException(1, "ScanPolygon: PointList not initialized :(").
void ScanPolygon(GenericScanCallback& callback);
void ScanRect(int32_t x0, int32_t x1, int32_t y0, int32_t y1, GenericScanCallback& callback);
// Whether a point or an edge of the outline touches the rectangle's closed box.
bool RectTouchesOutline(const ScanRectangle& rect, GenericScanCallback& callback);

enum SegmentResult : int32_t {
  kSegmentsApart = 0,
  kSegmentsCross = 1,
  kSegmentsParallel = 2,
};

// Segment AB against segment CD, ends included. On kSegmentsCross the
// crossing is written through the non-null pointers.
int32_t SegmentsIntersect(double ax, double ay, double bx, double by, double cx, double cy,
                          double dx, double dy, double* x, double* y);
// Infinite line AB against infinite line CD; false when parallel. t runs
// along AB (0 at A, 1 at B), u along CD. Null pointers are skipped.
bool LineIntersection(double ax, double ay, double bx, double by, double cx, double cy, double dx,
                      double dy, double* x, double* y, double* t, double* u);
