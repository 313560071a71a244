// PF_Cmd_RENDER: Render8 for 8-bit output worlds, Render16 for 16-bit ones.
// Every failure of a render is caught here and becomes the result code and
// out_data->return_msg.
#pragma once

#include "hostapi/PluginApi.h"

PF_Err Render8(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
               PF_LayerDef* output);
PF_Err Render16(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output);
