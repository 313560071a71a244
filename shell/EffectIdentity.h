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

// PiPL resource.
inline constexpr int32_t kPiPLResourceId = 16000;
inline constexpr int16_t kPiPLVersionMajor = 2;
inline constexpr int16_t kPiPLVersionMinor = 0;
inline constexpr int16_t kSpecVersionMajor = 12;
inline constexpr int16_t kSpecVersionMinor = 10;
inline constexpr int32_t kInfoFlags = 0;
inline constexpr int32_t kAEEffectFlags = 0;

}  // namespace EffectIdentity
