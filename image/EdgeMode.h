// How an index outside 0..n-1 of a row or column is treated.
#pragma once

#include <cstdint>

enum EdgeMode : int32_t {
  EdgeNone = 0,     // unchanged: the caller drops the sample
  EdgeReflect = 1,  // mirrored, edge sample repeated
  EdgeRepeat = 2,   // nearest edge index
  EdgeWrap = 3,     // modulo n (also any other value)
};

// i itself when mode is None or 0 <= i < n; n must be >= 1 for Reflect/Wrap.
int32_t MapEdgeIndex(int32_t mode, int32_t n, int32_t i);
