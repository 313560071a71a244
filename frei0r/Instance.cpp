#include "frei0r/Instance.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <sstream>

#include "frei0r/Effect.h"
#include "frei0r/Messages.h"

namespace qbfrei0r {

namespace {

// The host's rectangles hold 16-bit coordinates.
constexpr unsigned kLargestSide = 32767;

PF_ParamType TypeOf(ParamKind kind) {
  switch (kind) {
    case ParamKind::Amount:
      return PF_Param_FIX_SLIDER;
    case ParamKind::Popup:
      return PF_Param_POPUP;
    case ParamKind::Switch:
      return PF_Param_CHECKBOX;
    case ParamKind::Layer:
      return PF_Param_LAYER;
    case ParamKind::CenterX:
    case ParamKind::CenterY:
      return PF_Param_POINT;
  }
  return PF_Param_LAYER;
}

int CountChoices(const char* choices) {
  int count = 1;
  for (const char* c = choices; *c != '\0'; ++c) count += *c == '|';
  return count;
}

std::string Number(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

PF_Fixed PixelsToFixed(double pixels) {
  return static_cast<PF_Fixed>(std::lround(pixels * 65536.0));
}

// Frame time in the host's time units (30 a second); hosts send nonsense here
// too (ffmpeg passes milliseconds, and garbage for frames without a time).
A_long TimeOf(double seconds, A_u_long scale) {
  const double units = std::round(seconds * scale);
  if (!(std::fabs(units) <= std::numeric_limits<A_long>::max())) return 0;
  return static_cast<A_long>(units);
}

void ToWorld(const uint32_t* frame, softhost::SoftWorld& world) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(frame);
  for (int32_t y = 0; y < world.Height(); ++y) {
    PF_Pixel* row = world.Pixel8(0, y);
    const unsigned char* p = bytes + static_cast<size_t>(y) * world.Width() * 4;
    for (int32_t x = 0; x < world.Width(); ++x, p += 4) row[x] = PF_Pixel{p[3], p[0], p[1], p[2]};
  }
}

void FromWorld(const softhost::SoftWorld& world, uint32_t* frame) {
  auto* bytes = reinterpret_cast<unsigned char*>(frame);
  for (int32_t y = 0; y < world.Height(); ++y) {
    const PF_Pixel* row = world.Pixel8(0, y);
    unsigned char* p = bytes + static_cast<size_t>(y) * world.Width() * 4;
    for (int32_t x = 0; x < world.Width(); ++x, p += 4) {
      p[0] = row[x].red, p[1] = row[x].green, p[2] = row[x].blue, p[3] = row[x].alpha;
    }
  }
}

}  // namespace

std::unique_ptr<Instance> Instance::Create(PluginKind kind, unsigned width, unsigned height) {
  const Effect& effect = TheEffect();
  if (effect.entry == nullptr) {
    WarnOnce("cannot use the effect module " + effect.path + ": " + effect.error);
    return nullptr;
  }
  std::unique_ptr<Instance> instance(new Instance(kind, width, height, effect.entry));
  if (!instance->Prepare()) return nullptr;
  return instance;
}

Instance::Instance(PluginKind pluginKind, unsigned w, unsigned h, PF_EffectMainFunc effect)
    : kind(pluginKind),
      width(static_cast<int32_t>(std::min(w, kLargestSide))),
      height(static_cast<int32_t>(std::min(h, kLargestSide))),
      frameBytes(size_t{w} * h * 4),
      tooLarge(w > kLargestSide || h > kLargestSide),
      entry(effect),
      specs(Params(pluginKind)),
      host(HostSettings()) {}

bool Instance::Prepare() {
  if (tooLarge) {
    WarnOnce("frames larger than " + std::to_string(kLargestSide) +
             " pixels a side pass through "
             "unblurred");
  }
  const PF_Err err = host.Call(entry, PF_Cmd_PARAMS_SETUP);
  if (err != PF_Err_NONE) {
    WarnOnce("the effect's parameter setup failed (error " + std::to_string(err) + ")");
    return false;
  }
  const std::vector<PF_ParamDef>& params = host.Params();
  for (const ParamSpec& spec : specs) {
    const bool known = spec.index < static_cast<ParamIndex>(params.size()) &&
                       params[spec.index].param_type == TypeOf(spec.kind) &&
                       (spec.kind != ParamKind::Popup ||
                        params[spec.index].u.pd.num_choices == CountChoices(spec.choices));
    if (!known) {
      WarnOnce("the effect module's parameter " + std::to_string(spec.index) +
               " is not the one this plug-in expects");
      return false;
    }
    defaults.push_back(DefaultOf(spec));
  }
  values = defaults;
  return true;
}

Instance::Value Instance::DefaultOf(const ParamSpec& spec) {
  const PF_ParamDef& def = host.Params()[spec.index];
  Value value;
  switch (spec.kind) {
    case ParamKind::Amount:
      value.number = SliderDefault(def.u.fd);
      break;
    case ParamKind::Popup:
      value.choice = def.u.pd.value;
      value.text = ChoiceName(spec.choices, value.choice);
      break;
    case ParamKind::Switch:
      value.number = def.u.bd.value != 0 ? 1 : 0;
      break;
    case ParamKind::Layer:
      value.layer =
          def.u.ld.dephault == PF_LayerDefault_MYSELF ? LayerSource::Input : LayerSource::None;
      value.text = kLayerNames[static_cast<int>(value.layer)];
      break;
    // Registered as a percentage of the layer, which the host turns into pixels.
    case ParamKind::CenterX:
      value.number = def.u.td.x_dephault / 65536.0 / 100.0;
      break;
    case ParamKind::CenterY:
      value.number = def.u.td.y_dephault / 65536.0 / 100.0;
      break;
  }
  return value;
}

Instance::Value Instance::Parse(const ParamSpec& spec, const void* param) const {
  const Value& fallback = defaults[&spec - specs.data()];
  const std::string name = std::string("\"") + spec.name + '"';
  if (spec.type == F0R_PARAM_STRING) {
    const char* text = *static_cast<const char* const*>(param);
    if (text == nullptr) return fallback;
    Value value;
    if (spec.kind == ParamKind::Layer) {
      const auto layer = FindLayer(text, kind);
      if (!layer) {
        WarnOnce(name + ": no layer \"" + text + "\" (" +
                 (kind == PluginKind::Mixer ? "none, input or second" : "none or input") +
                 "); using " + fallback.text);
        return fallback;
      }
      value.layer = *layer;
      value.text = kLayerNames[static_cast<int>(*layer)];
      return value;
    }
    const auto choice = FindChoice(text, spec.choices);
    if (!choice) {
      WarnOnce(name + ": no choice \"" + text + "\"; using " + fallback.text);
      return fallback;
    }
    value.choice = *choice;
    value.text = ChoiceName(spec.choices, *choice);
    return value;
  }
  const double given = *static_cast<const double*>(param);
  bool clamped = false;
  const auto unit = UnitValue(given, clamped);
  if (!unit) {
    WarnOnce(name + ": not a number; using the default");
    return fallback;
  }
  if (clamped) WarnOnce(name + ": " + Number(given) + " is outside 0 to 1; limited to it");
  Value value;
  value.number = spec.type == F0R_PARAM_BOOL ? (*unit >= 0.5 ? 1 : 0) : *unit;
  return value;
}

void Instance::Set(int index, const void* param) {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < 0 || static_cast<size_t>(index) >= specs.size() || param == nullptr) {
    WarnOnce("set_param_value: no parameter " + std::to_string(index) +
             (param == nullptr ? " or no value" : ""));
    return;
  }
  values[static_cast<size_t>(index)] = Parse(specs[static_cast<size_t>(index)], param);
}

void Instance::Get(int index, void* param) {
  std::lock_guard<std::mutex> lock(mutex);
  if (index < 0 || static_cast<size_t>(index) >= specs.size() || param == nullptr) {
    WarnOnce("get_param_value: no parameter " + std::to_string(index) +
             (param == nullptr ? " or no place for the value" : ""));
    return;
  }
  const Value& value = values[static_cast<size_t>(index)];
  if (specs[static_cast<size_t>(index)].type == F0R_PARAM_STRING) {
    *static_cast<const char**>(param) = value.text.c_str();
  } else {
    *static_cast<double*>(param) = value.number;
  }
}

void Instance::CheckStrip(double time, const uint32_t* first) {
  // MLT hands the strips of one frame with the same time, each starting where
  // the previous one ends.
  const auto address = reinterpret_cast<uintptr_t>(first);
  if (rendered && time == lastTime && frameBytes != 0 &&
      (address - lastFirst == frameBytes || lastFirst - address == frameBytes)) {
    WarnOnce(
        "the host filters each frame in strips (MLT's \"threads\" property), and a blur "
        "cannot be right across strip edges: leave \"threads\" unset or set it to 1");
  }
  rendered = true;
  lastTime = time;
  lastFirst = address;
}

void Instance::Update(double time, const uint32_t* first, const uint32_t* second, uint32_t* out) {
  std::unique_lock<std::mutex> lock(mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    WarnOnce(
        "the host calls one instance from several threads at once (MLT's \"threads\" "
        "property cuts frames into strips); the calls wait for each other, but a blur cannot "
        "be right across strip edges: leave \"threads\" unset or set it to 1");
    lock.lock();
  }
  if (out == nullptr || frameBytes == 0) return;
  const size_t bytes = frameBytes;
  CheckStrip(time, first);
  if (first == nullptr) {
    WarnOnce("update without an input frame: the output is transparent");
    std::memset(out, 0, bytes);
    return;
  }
  if (tooLarge) {
    if (out != first) std::memmove(out, first, bytes);
    return;
  }
  try {
    Render(time, first, second, out);
  } catch (const std::exception& e) {
    WarnOnce(std::string("a frame could not be rendered (") + e.what() +
             "); it passes through unblurred");
    if (out != first) std::memmove(out, first, bytes);
  }
}

void Instance::Render(double time, const uint32_t* first, const uint32_t* second, uint32_t* out) {
  softhost::SoftWorld input(width, height, false);
  ToWorld(first, input);
  std::unique_ptr<softhost::SoftWorld> secondWorld;
  if (kind == PluginKind::Mixer && second != nullptr) {
    secondWorld = std::make_unique<softhost::SoftWorld>(width, height, false);
    ToWorld(second, *secondWorld);
  }
  host.SetInput(input.World());
  ApplyValues(secondWorld.get());
  host.Config().currentTime = TimeOf(time, host.Config().timeScale);

  softhost::SoftWorld output(width, height, false);
  const PF_Err err = host.Render(entry, output.World());
  if (err != PF_Err_NONE) {
    std::string message = host.OutData()->return_msg;
    if (!message.empty() && message.front() == '\n') message.erase(0, 1);
    WarnOnce("the render failed (error " + std::to_string(err) + ")" +
             (message.empty() ? "" : ": " + message) + "; such frames pass through unblurred");
    if (out != first) std::memmove(out, first, frameBytes);
    return;
  }
  FromWorld(output, out);
}

void Instance::ApplyValues(const softhost::SoftWorld* second) {
  std::vector<PF_ParamDef>& params = host.Params();
  for (size_t i = 0; i < specs.size(); ++i) {
    const ParamSpec& spec = specs[i];
    const Value& value = values[i];
    PF_ParamDef& def = params[spec.index];
    switch (spec.kind) {
      case ParamKind::Amount:
        def.u.fd.value = SliderValue(value.number, def.u.fd, spec.whole);
        break;
      case ParamKind::Popup:
        def.u.pd.value = value.choice;
        break;
      case ParamKind::Switch:
        def.u.bd.value = value.number >= 0.5 ? 1 : 0;
        break;
      case ParamKind::Layer: {
        softhost::LayerChoice choice;
        if (value.layer == LayerSource::Input) choice.kind = softhost::LayerChoice::Self;
        if (value.layer == LayerSource::Second) {
          if (second != nullptr) {
            choice.kind = softhost::LayerChoice::Image;
            choice.image = second->World();
          } else {
            WarnOnce(std::string("\"") + spec.name +
                     "\" is the second input, but the host gave none: using none");
          }
        }
        host.SetLayer(spec.index, choice);
        break;
      }
      // Every layer has the frame's size: frei0r hands all inputs at one size.
      case ParamKind::CenterX:
        def.u.td.x_value = PixelsToFixed(value.number * width);
        break;
      case ParamKind::CenterY:
        def.u.td.y_value = PixelsToFixed(value.number * height);
        break;
    }
  }
}

}  // namespace qbfrei0r
