#include "shell/ParamUI.h"

#include <cstring>

#include "shell/ParamIndices.h"
#include "shell/ParamSetup.h"
#include "shell/SuiteHolder.h"

PF_Err UpdateParamUI(PF_InData* in_data, PF_OutData* /*out_data*/, PF_ParamDef* params[],
                     PF_LayerDef* /*output*/, long changedIndex) {
  PF_Err err = PF_Err_NONE;
  try {
    SuiteHolder suites(in_data->pica_basicP);

    // The host's definitions are its own; changes go back through the suite.
    PF_ParamDef local[ParamCount];
    for (int32_t i = 0; i < ParamCount; ++i) {
      std::memset(&local[i], 0, sizeof local[i]);
      if (params != nullptr && params[i] != nullptr) local[i] = *params[i];
    }

    if (changedIndex != ParamUniformAmount && changedIndex != -1) return PF_Err_NONE;

    PF_ParamDef& first = local[ParamBlurAmount];
    PF_ParamDef& second = local[ParamVerticalAmount];
    const bool uniform = local[ParamUniformAmount].u.bd.value != 0;
    CopyParamName(in_data, first.name, uniform ? "Blur Amount" : "Horizontal Blur Amount");
    err = suites.ParamUtils()->PF_UpdateParamUI(in_data->effect_ref, ParamBlurAmount, &first);
    if (err != PF_Err_NONE) return err;
    if (uniform) {
      CopyParamName(in_data, second.name, "");
      second.ui_flags |= PF_PUI_DISABLED;
    } else {
      CopyParamName(in_data, second.name, "Vertical Blur Amount");
      second.ui_flags &= ~PF_PUI_DISABLED;
    }
    err = suites.ParamUtils()->PF_UpdateParamUI(in_data->effect_ref, ParamVerticalAmount, &second);
  } catch (...) {
    // A host without the suite simply keeps the setup-time names; nothing
    // here is worth an error box, so the result so far stands.
  }
  return err;
}
