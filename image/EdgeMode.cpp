#include "image/EdgeMode.h"

int32_t MapEdgeIndex(int32_t mode, int32_t n, int32_t i) {
  if (mode == EdgeNone || (i >= 0 && i < n)) return i;
  switch (mode) {
    case EdgeReflect: {
      // 64 bits: 2n and -i - 1 must not overflow for extreme arguments.
      const int64_t period = 2 * static_cast<int64_t>(n);
      const int64_t j = i >= 0 ? static_cast<int64_t>(i) : -static_cast<int64_t>(i) - 1;
      const int64_t m = j % period;
      return static_cast<int32_t>(m < n ? m : period - 1 - m);
    }
    case EdgeRepeat:
      return i >= n ? n - 1 : 0;
    default: {
      int32_t r = i % n;
      if (r < 0) r += n;
      return r;
    }
  }
}
