// What the host said about itself at global setup: its application id (a
// four-character code such as 'KeyG') and its effect API version. One
// process-wide record, written only by global setup and read afterwards
// without a lock (the effect runs on the host's calling thread).
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"
#include "image/HostFacts.h"

struct HostInfo {
  A_long applId = 0;
  int32_t majorVersion = 0;
  int32_t minorVersion = 0;
  bool recorded = false;  // false until global setup has run
};

// The host whose low-quality renders are done at half resolution and whose
// about box is one line.
inline constexpr A_long kApplIdKeyG = 0x4B657947;

const HostInfo& GetHostInfo();
void RecordHostInfo(const PF_InData* in_data);
// Back to the state at load, as if no global setup had run.
void ResetHostInfo();

// 0 until global setup: such a host gets the effect's own smoothing and
// 8-bit masks, as the oldest hosts do.
int32_t HostMajorVersion();
bool HostIsKeyG();
// What the render needs to know of the host.
HostFacts GetHostFacts();
