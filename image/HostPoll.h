// The one way the effect asks the host whether to go on: abort first, then
// progress (current of total); a non-zero answer stops the work by raising
// AEException(answer, message). Convolutions poll with kConvolveAbortMessage,
// image operations driven by the user interface with kUIPingAbortMessage.
#pragma once

#include "hostapi/PluginApi.h"
#include "image/AEException.h"

inline constexpr char kConvolveAbortMessage[] = "ConvolveImage: Error or user Abort.";
inline constexpr char kUIPingAbortMessage[] = "UI Ping: Error or user Abort.";

// A host answer that must stop the work (an iterate that failed or was
// stopped).
inline void RaiseIfHostFailed(PF_Err err, const char* message = kConvolveAbortMessage) {
  if (err != PF_Err_NONE) throw AEException(err, message);
}

inline void PollHost(PF_InData* inData, A_long current, A_long total,
                     const char* message = kConvolveAbortMessage) {
  RaiseIfHostFailed(inData->inter.abort(inData->effect_ref), message);
  RaiseIfHostFailed(inData->inter.progress(inData->effect_ref, current, total), message);
}
