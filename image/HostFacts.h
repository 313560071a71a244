// What the effect knows about its host, recorded at global setup and handed
// down with every render, so that nothing below the entry point reads
// process-wide state.
#pragma once

#include <cstdint>

struct HostFacts {
  // The host's effect API major version; 0 when global setup has not run,
  // and such a host is treated as the oldest hosts are.
  int32_t apiMajorVersion = 0;

  // From API 12 the host supplies the Gaussian kernel and the smoothing of
  // worlds without edge handling, and star masks are drawn 16 bits deep.
  bool SuppliesSmoothing() const { return apiMajorVersion >= 12; }
  bool DeepStarMask() const { return apiMajorVersion >= 12; }
};
