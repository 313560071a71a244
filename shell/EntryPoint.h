// The effect's command dispatcher. The module exports it as `main`
// (ModuleExport.cpp); tests call it directly.
#pragma once

#include "hostapi/PluginApi.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// The changes the effect makes to PF_InData for the length of one command,
// undone on destruction (in_data is borrowed, not owned):
// - with a pre-effect source origin, the extent hint becomes the whole
//   output (inclusive: 0, 0, height - 1, width - 1), because the host's hint
//   then does not line up with the output world;
// - on host 'KeyG' at low quality both downsample factors become 1/2, so a
//   draft render blurs as a half-resolution one.
class CommandScope {
 public:
  CommandScope(PF_InData* in_data, const PF_LayerDef* output);
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;
  ~CommandScope();

 private:
  PF_InData* inData;
  PF_Rect savedExtentHint{};
  bool downsampleChanged = false;
  PF_RationalScale savedDownsampleX{};
  PF_RationalScale savedDownsampleY{};
};

// Puts the effect's name in front of the message a failed command left in
// out_data->return_msg: "\n<name> [ <message> ]", cut to 254 characters.
void DecorateErrorMessage(PF_OutData* out_data);
