// No exception may leave for a host written in C.
#include "frei0r/HostLibrary.h"

#include <exception>
#include <string>

#include "frei0r/Instance.h"
#include "frei0r/Messages.h"
#include "shell/EffectIdentity.h"

using qbfrei0r::Instance;
using qbfrei0r::PluginKind;
using qbfrei0r::WarnOnce;

namespace {

PluginKind KindOf(int kind) { return kind == 1 ? PluginKind::Mixer : PluginKind::Filter; }

void Failed(const char* call, const std::exception& e) {
  WarnOnce(std::string(call) + " failed: " + e.what());
}

}  // namespace

void qbf0r_get_plugin_info(int kind, f0r_plugin_info_t* info) {
  if (info == nullptr) return;
  const bool mixer = KindOf(kind) == PluginKind::Mixer;
  static const std::string mixerName = std::string(EffectIdentity::kName) + " Mixer";
  info->name = mixer ? mixerName.c_str() : EffectIdentity::kName;
  info->author = EffectIdentity::kCategory;
  info->plugin_type = mixer ? F0R_PLUGIN_TYPE_MIXER2 : F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = EffectIdentity::kMajorVersion;
  info->minor_version = EffectIdentity::kMinorVersion;
  info->num_params = static_cast<int>(qbfrei0r::Params(KindOf(kind)).size());
  info->explanation =
      mixer ? "A shaped blur of the first input: highlights grow into the kernel's shape; the "
              "second input can be the Blur Control Layer, which scales the amount pixel by "
              "pixel, or the custom kernel shape"
            : "A shaped blur: highlights grow into the kernel's shape; the frame's own "
              "brightness can scale the amount pixel by pixel";
}

void qbf0r_get_param_info(int kind, f0r_param_info_t* info, int param_index) {
  if (info == nullptr) return;
  const auto& params = qbfrei0r::Params(KindOf(kind));
  if (param_index < 0 || static_cast<size_t>(param_index) >= params.size()) {
    WarnOnce("get_param_info: no parameter " + std::to_string(param_index));
    *info = f0r_param_info_t{"", F0R_PARAM_DOUBLE, ""};
    return;
  }
  const qbfrei0r::ParamSpec& spec = params[static_cast<size_t>(param_index)];
  *info = f0r_param_info_t{spec.name, spec.type, spec.explanation.c_str()};
}

f0r_instance_t qbf0r_construct(int kind, unsigned int width, unsigned int height) {
  try {
    return Instance::Create(KindOf(kind), width, height).release();
  } catch (const std::exception& e) {
    Failed("construct", e);
    return nullptr;
  }
}

void qbf0r_destruct(f0r_instance_t instance) { delete static_cast<Instance*>(instance); }

void qbf0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  if (instance == nullptr) return;
  try {
    static_cast<Instance*>(instance)->Set(param_index, param);
  } catch (const std::exception& e) {
    Failed("set_param_value", e);
  }
}

void qbf0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  if (instance == nullptr) return;
  try {
    static_cast<Instance*>(instance)->Get(param_index, param);
  } catch (const std::exception& e) {
    Failed("get_param_value", e);
  }
}

void qbf0r_update(f0r_instance_t instance, double time, const uint32_t* inframe1,
                  const uint32_t* inframe2, uint32_t* outframe) {
  if (instance == nullptr) return;
  try {
    static_cast<Instance*>(instance)->Update(time, inframe1, inframe2, outframe);
  } catch (const std::exception& e) {
    Failed("update", e);
  }
}
