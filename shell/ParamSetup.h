// Parameter setup: registers the effect's 21 controls with the host in the
// order of ParamIndices.h. Slider ranges and point positions are PF_Fixed
// (16.16); popup values are 1-based.
#pragma once

#include "hostapi/PluginApi.h"

// Answers PF_Cmd_PARAMS_SETUP. A parameter the host refuses ends the setup
// with the host's error; the parameters before it stay registered.
PF_Err SetupParams(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output);

// Copies a parameter name through the host's string callback (plain copy
// when the host offers none). Names longer than the field are cut.
void CopyParamName(const PF_InData* in_data, A_char (&name)[32], const char* text);
