// Turns one render's parameter values into the RenderRequest fields the
// render reads (view, kernel and control-layer settings), the same way for
// every render command. Values come through a ParamValues, which the legacy
// command fills from the host's params[] and the SmartFX commands by
// checking each parameter out; layers are not read through it.
#pragma once

#include "hostapi/PluginApi.h"
#include "image/HostFacts.h"
#include "render/RenderRequest.h"
#include "shell/ParamIndices.h"

// The non-layer parameter definitions of one command, by index. The
// definitions stay valid for the life of the object.
class ParamValues {
 public:
  virtual ~ParamValues() = default;
  virtual const PF_ParamDef& operator[](ParamIndex index) const = 0;
};

// Fills view, kernel and bcl of `request` (not the worlds or the extent).
// shapeWorld is the custom-shape layer or null; the settings carry it.
void ReadRenderSettings(PF_InData* in_data, const ParamValues& values, const HostFacts& host,
                        PF_EffectWorld* shapeWorld, RenderRequest& request);
