#include "frei0r/Effect.h"

#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <thread>

namespace qbfrei0r {

namespace {

constexpr char kModuleFile[] = "QuorvantBlur.so";

std::string ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr) {
    return kModuleFile;
  }
  return (std::filesystem::path(info.dli_fname).parent_path() / kModuleFile).string();
}

Effect* Load() {
  auto* effect = new Effect;
  effect->path = ModulePath();
  try {
    // Kept for the life of the process: the effect holds pointers to this
    // library's callbacks, and instances may outlive any one plug-in handle.
    effect->module = new softhost::EffectModule(effect->path);
    softhost::Host host(HostSettings());
    const PF_Err err = host.Call(effect->module->Entry(), PF_Cmd_GLOBAL_SETUP);
    if (err != PF_Err_NONE) {
      std::string message = host.OutData()->return_msg;
      if (!message.empty() && message.front() == '\n') message.erase(0, 1);
      effect->error = "the effect's global setup failed (error " + std::to_string(err) + ")" +
                      (message.empty() ? "" : ": " + message);
      return effect;
    }
    effect->entry = effect->module->Entry();
  } catch (const std::exception& e) {
    effect->error = e.what();
  }
  return effect;
}

}  // namespace

const Effect& TheEffect() {
  static const Effect* effect = Load();
  return *effect;
}

softhost::HostConfig HostSettings() {
  softhost::HostConfig config;
  config.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return config;
}

}  // namespace qbfrei0r
