// Who the effect is, as the host sees it: the names, version and flags that
// global setup reports and that the Windows resource (PiPL) declares. The
// resource generator includes this header, so every value lives here once.
#pragma once

#include <cstdint>

#include "hostapi/PluginApi.h"

namespace EffectIdentity {

inline constexpr char kName[] = "Quorvant Blur";
inline constexpr char kCategory[] = "Tarnwell";
inline constexpr char kMatchName[] = "XQ_QUORVANTBLUR";
inline constexpr char kEntryPointName[] = "main";

inline constexpr int32_t kMajorVersion = 1;
inline constexpr int32_t kMinorVersion = 0;
inline constexpr int32_t kPatchVersion = 0;
inline constexpr int32_t kStage = PF_Stage_RELEASE;
inline constexpr int32_t kBuild = 1;
// Shown in the about box only; not part of the packed version.
inline constexpr int32_t kBuildId = 8;

inline constexpr A_u_long kPackedVersion =
    PF_VERSION(kMajorVersion, kMinorVersion, kPatchVersion, kStage, kBuild);
static_assert(kPackedVersion == 0x80601, "the host compares this with the PiPL's eVER");

inline constexpr PF_OutFlags kGlobalOutFlags =
    PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_USE_OUTPUT_EXTENT;
static_assert(kGlobalOutFlags == 0x02000040, "the host compares this with the PiPL's eGLO");

// What differs between the modules of the two host generations: the effect
// API version they declare and the second word of global out-flags, which the
// PiPL of the current generation carries as eGL2 (hosts warn when it
// differs from global setup). The current module renders through SmartFX,
// in 32-bit float too, and lets the host render several frames of one
// instance at once (PF_OutFlag2_SUPPORTS_SMART_RENDER 1 << 10,
// PF_OutFlag2_FLOAT_COLOR_AWARE 1 << 12, PF_OutFlag2_SUPPORTS_THREADED_RENDERING
// 1 << 27, which needs API version 13.25 or later). Both records are visible to every build: the
// PiPL generator runs on the build machine for either module.
struct GenerationIdentity {
  int16_t apiVersionMajor;
  int16_t apiVersionMinor;
  PF_OutFlags2 globalOutFlags2;
  bool declaresOutFlags2;  // whether the PiPL has an eGL2 property
};
inline constexpr GenerationIdentity k12xModule{12, 10, 0, false};
inline constexpr GenerationIdentity kCurrentModule{13, 28, (1L << 10) | (1L << 12) | (1L << 27),
                                                   true};
#ifdef QB_HOSTAPI_CURRENT
inline constexpr GenerationIdentity kThisModule = kCurrentModule;
static_assert(kCurrentModule.globalOutFlags2 ==
              (PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
               PF_OutFlag2_SUPPORTS_THREADED_RENDERING));
#else
inline constexpr GenerationIdentity kThisModule = k12xModule;
#endif
inline constexpr PF_OutFlags2 kGlobalOutFlags2 = kThisModule.globalOutFlags2;

// PiPL resource.
inline constexpr int32_t kPiPLResourceId = 16000;
inline constexpr int16_t kPiPLVersionMajor = 2;
inline constexpr int16_t kPiPLVersionMinor = 0;
inline constexpr int32_t kInfoFlags = 0;
inline constexpr int32_t kAEEffectFlags = 0;

}  // namespace EffectIdentity
