// The effect's command dispatcher. The module exports it as `main`
// (ModuleExport.cpp); tests call it directly.
#pragma once

#include "hostapi/PluginApi.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);
