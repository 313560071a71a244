#include "render/RenderDriver.h"

#include <cstring>

// Placeholder until the render driver lands.
static PF_Err NotYet(PF_OutData* out_data) {
  std::strcpy(out_data->return_msg, "Render: not yet available");
  return 1;
}
PF_Err Render8(PF_InData*, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*) {
  return NotYet(out_data);
}
PF_Err Render16(PF_InData*, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*) {
  return NotYet(out_data);
}
