// The module's one exported symbol. GCC treats a C++ function named main
// specially, so the entry has another name: on ELF it takes `main` as its
// assembler name; on Windows the module-definition file exports it as main.
#include "shell/EntryPoint.h"

#ifdef _WIN32
extern "C" PF_Err QuorvantBlurEntry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);
#else
extern "C" __attribute__((visibility("default"))) PF_Err QuorvantBlurEntry(
    PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
    PF_LayerDef* output, void* extra) __asm__("main");
#endif

extern "C" PF_Err QuorvantBlurEntry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  return EffectMain(cmd, in_data, out_data, params, output, extra);
}
