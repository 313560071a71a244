// Work shared out on the host's threads through its iterate callback, over an
// area one pixel wide: the pixel function runs once for each row y (x = 0),
// in any order and on any thread, and does whatever share of the work row y
// stands for. The host polls for a stop between calls and reports progress
// from progressBase to progressFinal. Rows are a host rectangle's
// coordinates, so callers keep `rows` at most kMaxIterateRows.
#pragma once

#include <cstdint>
#include <limits>

#include "hostapi/PluginApi.h"
#include "image/PixelTraits.h"

// The most rows one iterate call can cover: the largest coordinate of the
// generation's host rectangle (32767 in the 12.x layout).
inline constexpr int32_t kMaxIterateRows = std::numeric_limits<PF_RectCoord>::max();

template <typename Pixel>
using RowFunction = typename PixelTraits<Pixel>::IterateFunction;

// The host's answer (non-zero for a stop or a failure of its own). The depth
// is Pixel's: src (may be null) and dst must be of it, and at least `rows`
// tall where given.
template <typename Pixel>
PF_Err IterateRows(PF_InData* inData, A_long progressBase, A_long progressFinal,
                   PF_EffectWorld* src, int32_t rows, void* refcon, RowFunction<Pixel> function,
                   PF_EffectWorld* dst) {
  const PF_Rect area = HostRect(0, 0, 1, rows);
  return PixelTraits<Pixel>::Iterate(inData, progressBase, progressFinal, src, &area, refcon,
                                     function, dst);
}

// The items [first, end) of `items` that the call for row y of `rows` does:
// consecutive shares, empty for some rows when items < rows.
struct RowShare {
  int32_t first;
  int32_t end;
};

inline RowShare ShareOfRow(A_long y, int32_t rows, int32_t items) {
  return RowShare{static_cast<int32_t>(int64_t{y} * items / rows),
                  static_cast<int32_t>((int64_t{y} + 1) * items / rows)};
}
