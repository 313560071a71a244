// PF_Cmd_RENDER: reads the parameters, checks out the custom-shape and
// control layers for the length of the render, and renders the frame. Every
// failure is raised, for the entry point's one catch ladder.
#pragma once

#include "hostapi/PluginApi.h"
#include "image/HostFacts.h"

void RenderCommand(PF_InData* in_data, PF_ParamDef* params[], PF_LayerDef* output,
                   const HostFacts& host);
