// The effect module, loaded once per process from beside the library that
// holds these plug-ins' host code: <frei0r folder>/quorvant_blur/. Hosts scan
// the frei0r folder itself and load every .so there, so the module and this
// library sit one folder down, where only GStreamer looks (and passes them by
// for having no frei0r entry points).
//
// Global setup runs once, as a real host runs it once per loaded plug-in: the
// effect keeps what it learns there (the host's identity and its memory
// callbacks) process-wide, so instances only run parameter setup each.
#pragma once

#include <string>

#include "hostapi/PluginApi.h"
#include "softhost/SoftHost.h"

namespace qbfrei0r {

struct Effect {
  softhost::EffectModule* module = nullptr;  // never unloaded
  PF_EffectMainFunc entry = nullptr;         // null when the module could not be used
  std::string path;
  std::string error;  // why entry is null
};

// Loads the module and runs global setup on first use; safe from any thread.
const Effect& TheEffect();

// The host every instance is: the command-line host's defaults, with one
// worker thread per core.
softhost::HostConfig HostSettings();

}  // namespace qbfrei0r
