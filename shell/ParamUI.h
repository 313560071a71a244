// Keeps the two amount sliders in step with "Uniform Blur Amount": one
// "Blur Amount" and a disabled, unnamed second slider while uniform; a
// horizontal and a vertical amount otherwise.
#pragma once

#include "hostapi/PluginApi.h"

// Answers PF_Cmd_USER_CHANGED_PARAM (changedIndex: the parameter that
// changed) and PF_Cmd_UPDATE_PARAMS_UI (changedIndex -1: all). A host
// without the suites it needs keeps the setup-time names, with no error.
PF_Err UpdateParamUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                     PF_LayerDef* output, long changedIndex);
