#include "shell/AboutText.h"

#include <cstdio>

#include "shell/EffectIdentity.h"
#include "shell/HostInfo.h"

namespace {
constexpr char kCredits[] =
    "A shaped blur: every pixel takes the brightest weighted sample under the kernel, so "
    "highlights grow into the kernel's shape.";
}

const char* StageWord(int32_t stage) {
  switch (stage) {
    case PF_Stage_DEVELOP:
      return "Development";
    case PF_Stage_ALPHA:
      return "Alpha";
    case PF_Stage_BETA:
      return "Beta";
    default:
      return "Release";
  }
}

void MakeAboutText(char* text, size_t capacity, int32_t stage) {
  if (text == nullptr || capacity == 0) return;
  char version[64];
  std::snprintf(version, sizeof version, "v%d.%d.%d.%d", EffectIdentity::kMajorVersion,
                EffectIdentity::kMinorVersion, EffectIdentity::kPatchVersion,
                EffectIdentity::kBuild);
  std::snprintf(
      text, capacity,
      HostIsKeyG() ? "%s  [%s : %s : %d]\n%s" : "%s\n\nStage: %s\nVersion: %s\nBuildID: %d\n\n%s",
      EffectIdentity::kName, StageWord(stage), version, EffectIdentity::kBuildId, kCredits);
}
