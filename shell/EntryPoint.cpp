#include "shell/EntryPoint.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "image/AEException.h"
#include "image/HostAllocator.h"
#include "shell/AboutText.h"
#include "shell/EffectIdentity.h"
#include "shell/HostInfo.h"
#include "shell/ParamSetup.h"
#include "shell/ParamUI.h"
#include "shell/RenderCommand.h"
#include "shell/SmartRender.h"

CommandScope::CommandScope(PF_InData* in_data, const PF_LayerDef* output) : inData(in_data) {
  if (inData == nullptr) return;
  savedExtentHint = inData->extent_hint;
  if ((inData->pre_effect_source_origin_x != 0 || inData->pre_effect_source_origin_y != 0) &&
      output != nullptr) {
    inData->extent_hint = HostRect(0, 0, output->width - 1, output->height - 1);
  }
  if (HostIsKeyG() && inData->quality == PF_Quality_LO) {
    savedDownsampleX = inData->downsample_x;
    savedDownsampleY = inData->downsample_y;
    inData->downsample_x = PF_RationalScale{1, 2};
    inData->downsample_y = PF_RationalScale{1, 2};
    downsampleChanged = true;
  }
}

CommandScope::~CommandScope() {
  if (inData == nullptr) return;
  if (downsampleChanged) {
    inData->downsample_x = savedDownsampleX;
    inData->downsample_y = savedDownsampleY;
  }
  inData->extent_hint = savedExtentHint;
}

void DecorateErrorMessage(PF_OutData* out_data) {
  if (out_data == nullptr) return;
  // The failing code may have filled the whole field without a terminator.
  char message[sizeof out_data->return_msg + 1] = {};
  std::memcpy(message, out_data->return_msg, sizeof out_data->return_msg);
  char decorated[1024];
  std::snprintf(decorated, sizeof decorated, "\n%s [ %s ]", EffectIdentity::kName, message);
  const size_t length = strnlen(decorated, 254);
  std::memset(out_data->return_msg, 0, sizeof out_data->return_msg);
  std::memcpy(out_data->return_msg, decorated, length);
}

namespace {

void CopyMessage(PF_OutData* out_data, const char* text) {
  if (out_data == nullptr) return;
  const size_t length = strnlen(text, sizeof(out_data->return_msg) - 1);
  std::memcpy(out_data->return_msg, text, length);
  out_data->return_msg[length] = '\0';
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
  out_data->my_version = EffectIdentity::kPackedVersion;
  out_data->out_flags |= EffectIdentity::kGlobalOutFlags;
  out_data->out_flags2 |= EffectIdentity::kGlobalOutFlags2;
  CacheHostCallbacks(in_data->utils);
  RecordHostInfo(in_data);
  return PF_Err_NONE;
}

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      MakeAboutText(out_data->return_msg, sizeof out_data->return_msg, PF_Stage_RELEASE);
      return PF_Err_NONE;
    case PF_Cmd_GLOBAL_SETUP:
      return GlobalSetup(in_data, out_data);
    case PF_Cmd_PARAMS_SETUP:
      return SetupParams(in_data, out_data, params, output);
    case PF_Cmd_RENDER:
      if (output == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
      RenderCommand(in_data, params, output, GetHostFacts());
      return PF_Err_NONE;
#ifdef QB_HOSTAPI_CURRENT
    case PF_Cmd_SMART_PRE_RENDER:
      SmartPreRender(in_data, static_cast<PF_PreRenderExtra*>(extra), GetHostFacts());
      return PF_Err_NONE;
    case PF_Cmd_SMART_RENDER:
      SmartRender(in_data, static_cast<PF_SmartRenderExtra*>(extra), GetHostFacts());
      return PF_Err_NONE;
#endif
    case PF_Cmd_USER_CHANGED_PARAM: {
      // Without the host's record of what changed, bring everything in step.
      const long index =
          extra != nullptr ? static_cast<const PF_UserChangedParamExtra*>(extra)->param_index : -1;
      return UpdateParamUI(in_data, out_data, params, output, index);
    }
    case PF_Cmd_UPDATE_PARAMS_UI:
      return UpdateParamUI(in_data, out_data, params, output, -1);
    default:
      return PF_Err_NONE;
  }
}

}  // namespace

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  PF_Err err = PF_Err_NONE;
  {
    CommandScope scope(in_data, output);
    // The one place a failure becomes the host's result code and message: no
    // exception may cross the entry point.
    try {
      err = Dispatch(cmd, in_data, out_data, params, output, extra);
    } catch (const AEException& e) {
      err = e.Code();
      if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) CopyMessage(out_data, e.Message());
    } catch (const std::out_of_range&) {
      err = 1;
      CopyMessage(out_data, "Array Index Error");
    } catch (const std::bad_alloc&) {
      err = PF_Err_OUT_OF_MEMORY;
      CopyMessage(out_data, "Out of Memory");
    } catch (...) {
      err = 1;
      CopyMessage(out_data, "Unknown Error");
    }
  }
  if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) DecorateErrorMessage(out_data);
  return err;
}
