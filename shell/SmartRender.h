// The SmartFX commands of the current host generation. Pre-render asks the
// host for the layers a frame needs and says which part of the output it
// will write; smart render checks the worlds out through the smart
// callbacks, reads the parameters through checkout_param (the host passes no
// params[]), and runs the same render as PF_Cmd_RENDER. Rectangles are in
// layer pixels, right and bottom exclusive. Every failure is raised, for the
// entry point's one catch ladder; every layer pixel checkout is checked in
// before the command returns, also when it fails.
//
// Nothing here writes global or sequence data, or any other process-wide
// state: the host may run several smart renders of one instance at once.
#pragma once

#include "hostapi/PluginApi.h"
#include "image/HostFacts.h"

#ifdef QB_HOSTAPI_CURRENT

// The checkout ids of the layers, the same in both commands.
enum SmartCheckout : A_long {
  kInputCheckout = 0,
  kBCLCheckout = 1,
  kShapeCheckout = 2,
};

void SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra, const HostFacts& host);
void SmartRender(PF_InData* in_data, PF_SmartRenderExtra* extra, const HostFacts& host);

#endif
