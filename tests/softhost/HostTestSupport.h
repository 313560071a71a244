// Small helpers for driving the software host's callbacks directly.
#pragma once

#include <gtest/gtest.h>

#include "softhost/SoftHost.h"

namespace softhost_test {

inline PF_UtilCallbacks* Utils(softhost::Host& host) { return host.InData()->utils; }
inline PF_ProgPtr Ref(softhost::Host& host) { return host.InData()->effect_ref; }

inline PF_Rect HostRect(int left, int top, int right, int bottom) {
  PF_Rect r;
  r.left = static_cast<A_short>(left);
  r.top = static_cast<A_short>(top);
  r.right = static_cast<A_short>(right);
  r.bottom = static_cast<A_short>(bottom);
  return r;
}

// Channel c (0 alpha, 1 red, 2 green, 3 blue) of a pixel of either depth.
template <typename Pixel>
auto Channel(const Pixel& p, int c) {
  return c == 0 ? p.alpha : c == 1 ? p.red : c == 2 ? p.green : p.blue;
}

}  // namespace softhost_test
