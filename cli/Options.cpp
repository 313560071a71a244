#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli/Errors.h"

namespace qbcli {

namespace {

const char kGroupFiles[] = "Files";
const char kGroupEffect[] = "Effect";
const char kGroupShape[] = "Custom shape";
const char kGroupBCL[] = "Blur Control Layer";
const char kGroupHost[] = "Host";

const std::vector<std::string> kChannels{"luminance", "red", "green", "blue", "alpha"};
const std::vector<std::string> kLayerWords{kLayerSelf, kLayerNone};

PF_ParamType TypeOf(OptionKind kind) {
  switch (kind) {
    case OptionKind::Popup:
      return PF_Param_POPUP;
    case OptionKind::Amount:
    case OptionKind::Count:
      return PF_Param_FIX_SLIDER;
    case OptionKind::Switch:
      return PF_Param_CHECKBOX;
    case OptionKind::Point:
      return PF_Param_POINT;
    case OptionKind::Layer:
      return PF_Param_LAYER;
  }
  return PF_Param_LAYER;
}

std::string Number(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

PF_ParamDef& Registered(std::vector<PF_ParamDef>& params, ParamIndex index, PF_ParamType type) {
  if (index >= static_cast<ParamIndex>(params.size()) || params[index].param_type != type) {
    throw std::runtime_error("the effect module's parameter " + std::to_string(index) +
                             " is not the one this host expects");
  }
  return params[index];
}

void SetFixed(PF_FixedSliderDef& slider, double value, const ParamOption& row) {
  const double low = slider.valid_min / 65536.0, high = slider.valid_max / 65536.0;
  const double fixed = std::round(value * 65536.0);
  if (!(fixed >= slider.valid_min && fixed <= slider.valid_max)) {
    throw UsageError(std::string(row.name) + ": " + Number(value) + " is outside " + Number(low) +
                     " to " + Number(high));
  }
  slider.value = static_cast<PF_Fixed>(fixed);
}

}  // namespace

const std::vector<ParamOption>& ParamOptions() {
  static const std::vector<ParamOption> rows{
      {"--view",
       "VIEW",
       ParamOutputView,
       OptionKind::Popup,
       {"normal", "kernel", "bcl"},
       ParamInput,
       0,
       kGroupEffect,
       "What to render: the blurred image, the kernel, or the control layer as applied "
       "(default normal)"},
      {"--type",
       "SHAPE",
       ParamBlurType,
       OptionKind::Popup,
       {"gaussian", "diamond", "sharp-diamond", "box", "star", "spiral", "cross", "custom",
        "cylinder"},
       ParamInput,
       0,
       kGroupEffect,
       "Kernel shape (default diamond)"},
      {"--amount",
       "D",
       ParamBlurAmount,
       OptionKind::Amount,
       {},
       ParamInput,
       0,
       kGroupEffect,
       "Blur Amount, a diameter in pixels; the horizontal one with --amount-v (default 0)"},
      {"--amount-v",
       "D",
       ParamVerticalAmount,
       OptionKind::Amount,
       {},
       ParamUniformAmount,
       0,
       kGroupEffect,
       "Vertical amount; turns Uniform Blur Amount off"},
      {"--shape", "FILE|self|none", ParamShapeLayer, OptionKind::Layer, kLayerWords, ParamInput, 0,
       kGroupShape, "Custom Shape Layer for --type custom (default none)"},
      {"--shape-channel", "CHANNEL", ParamShapeChannel, OptionKind::Popup, kChannels, ParamInput, 0,
       kGroupShape, "Channel that gives the shape (default luminance)"},
      {"--shape-blur",
       "D",
       ParamShapeSmoothAmount,
       OptionKind::Amount,
       {},
       ParamShapeSmooth,
       1,
       kGroupShape,
       "Smooths the shape by this amount (turns Blur? on)"},
      {"--bcl", "FILE|self|none", ParamBCLLayer, OptionKind::Layer, kLayerWords, ParamInput, 0,
       kGroupBCL, "Blur Control Layer (default self: the input)"},
      {"--bcl-channel", "CHANNEL", ParamBCLChannel, OptionKind::Popup, kChannels, ParamInput, 0,
       kGroupBCL, "Channel that scales the amount (default luminance)"},
      {"--tile",
       "MODE",
       ParamBCLTileMode,
       OptionKind::Popup,
       {"none", "center", "stretch"},
       ParamInput,
       0,
       kGroupBCL,
       "How the control layer is placed (default none)"},
      {"--bcl-center",
       "X,Y",
       ParamBCLCenter,
       OptionKind::Point,
       {},
       ParamInput,
       0,
       kGroupBCL,
       "BCL Center in pixels (default the control layer's centre)"},
      {"--scale-x",
       "P",
       ParamBCLScaleX,
       OptionKind::Amount,
       {},
       ParamInput,
       0,
       kGroupBCL,
       "Horizontal scale of the control layer, percent (default 100)"},
      {"--scale-y",
       "P",
       ParamBCLScaleY,
       OptionKind::Amount,
       {},
       ParamInput,
       0,
       kGroupBCL,
       "Vertical scale of the control layer, percent (default 100)"},
      {"--invert",
       "",
       ParamBCLInvert,
       OptionKind::Switch,
       {},
       ParamInput,
       0,
       kGroupBCL,
       "Invert the control layer"},
      {"--compound-shapes",
       "N",
       ParamBCLCompoundShapes,
       OptionKind::Count,
       {},
       ParamInput,
       0,
       kGroupBCL,
       "Number of Compound Shapes (default 50)"},
  };
  return rows;
}

bool ParamSetting::Given() const { return option != nullptr && option->count() > 0; }

const ParamSetting& CommandLine::Setting(ParamIndex index) const {
  const auto& rows = ParamOptions();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].index == index) return params.at(i);
  }
  throw std::logic_error("no option for parameter " + std::to_string(index));
}

const std::vector<std::string>& HostFaultNames() {
  static const std::vector<std::string> names{
      "memory", "new-world", "fill", "iterate", "area-sample", "checkout", "abort",
      // SmartFX only: the pre-render layer checkout, the pixels, the output.
      "layer-checkout", "layer-pixels", "output-checkout"};
  return names;
}

void AddOptions(CLI::App& app, CommandLine& line) {
  // A later option overrides an earlier one, so that wrappers can put their
  // defaults first and pass the user's arguments after them.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("-i,--input", line.input,
                 "Input image or frame pattern (default: a built-in 1280x720 demo image)")
      ->type_name("FILE")
      ->group(kGroupFiles);
  app.add_option("-o,--output", line.output,
                 "Output image or frame pattern: .png, .tif, .tiff, .exr or .jpg")
      ->type_name("FILE")
      ->group(kGroupFiles);
  app.add_option("--frames", line.frames,
                 "Render frames A to B; -i, -o, --shape and --bcl may hold a frame pattern "
                 "(#### or %04d)")
      ->type_name("A-B")
      ->delimiter('-')
      ->expected(1, 2)
      ->check(CLI::Range(0, std::numeric_limits<int>::max()))
      ->group(kGroupFiles);
  app.add_option("--depth", line.depth,
                 "Bits per channel to render at, 32 for float (default: the input's, 8 for "
                 "8-bit files, 32 for float files such as EXR, else 16)")
      ->type_name("BITS")
      ->check(CLI::IsMember({8, 16, 32}))
      ->group(kGroupFiles);

  const auto& rows = ParamOptions();
  line.params.assign(rows.size(), ParamSetting{});
  for (size_t i = 0; i < rows.size(); ++i) {
    const ParamOption& row = rows[i];
    ParamSetting& setting = line.params[i];
    CLI::Option* option = nullptr;
    switch (row.kind) {
      case OptionKind::Popup:
        option =
            app.add_option(row.name, setting.text, row.help)->check(CLI::IsMember(row.choices));
        break;
      case OptionKind::Amount:
        option = app.add_option(row.name, setting.number, row.help);
        break;
      case OptionKind::Count:
        option = app.add_option(row.name, setting.count, row.help);
        break;
      case OptionKind::Switch:
        option = app.add_flag(row.name, setting.on, row.help);
        break;
      case OptionKind::Point:
        option = app.add_option(row.name, setting.point, row.help)->delimiter(',');
        break;
      case OptionKind::Layer:
        option = app.add_option(row.name, setting.text, row.help);
        break;
    }
    if (*row.valueName != '\0') option->type_name(row.valueName);
    option->group(row.group);
    setting.option = option;
  }

  app.add_option("--quality", line.quality, "Render quality (default high)")
      ->type_name("LEVEL")
      ->check(CLI::IsMember({"high", "low"}))
      ->group(kGroupHost);
  app.add_option("--downsample", line.downsample,
                 "Downsample factors 1/X, 1/Y the host reports (the image is not resized)")
      ->type_name("X,Y")
      ->delimiter(',')
      ->check(CLI::PositiveNumber)
      ->group(kGroupHost);
  app.add_option("--host-version", line.hostVersion, "Host version (default 13.0)")
      ->type_name("MAJOR.MINOR")
      ->delimiter('.')
      ->check(CLI::Range(0, 32767))
      ->group(kGroupHost);
  app.add_option("--host-id", line.hostId, "Host application id, four characters")
      ->type_name("CODE")
      ->check(
          [](const std::string& code) {
            return code.size() == 4 ? std::string() : std::string("needs four characters");
          },
          "")
      ->group(kGroupHost);
  line.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  app.add_option("--threads", line.threads, "Host worker threads (default: one per core)")
      ->type_name("N")
      ->check(CLI::Range(1, 256))
      ->group(kGroupHost);
  app.add_option("--plugin", line.plugin,
                 "Effect module to load (default: QuorvantBlur.so next to this program)")
      ->type_name("PATH")
      ->group(kGroupHost);
  app.add_option("--render-command", line.renderCommand,
                 "How the host asks for a frame: smart (SmartFX pre-render and render, the "
                 "default) or legacy (the render command of hosts without SmartFX)")
      ->type_name("KIND")
      ->check(CLI::IsMember({"smart", "legacy"}))
      ->group(kGroupHost);
  app.add_option("--host-fault", line.hostFault,
                 "Make the host fail its first call of this kind during the render (for tests)")
      ->type_name("KIND")
      ->check(CLI::IsMember(HostFaultNames()))
      ->group(kGroupHost);
  app.add_flag("-q,--quiet", line.quiet, "No progress bar");
  app.add_flag("--about", line.about, "Print the effect's about text and exit");
}

void ApplyParamOptions(const CommandLine& line, std::vector<PF_ParamDef>& params) {
  const auto& rows = ParamOptions();
  for (size_t i = 0; i < rows.size(); ++i) {
    const ParamOption& row = rows[i];
    const ParamSetting& setting = line.params.at(i);
    PF_ParamDef& def = Registered(params, row.index, TypeOf(row.kind));
    if (!setting.Given()) continue;
    switch (row.kind) {
      case OptionKind::Popup: {
        const auto at = std::find(row.choices.begin(), row.choices.end(), setting.text);
        const auto value = static_cast<PF_ParamValue>(at - row.choices.begin()) + 1;
        if (at == row.choices.end()) throw UsageError(std::string(row.name) + ": " + setting.text);
        if (value > def.u.pd.num_choices) {
          throw std::runtime_error("the effect module offers no " + setting.text + " for " +
                                   row.name);
        }
        def.u.pd.value = value;
        break;
      }
      case OptionKind::Amount:
        SetFixed(def.u.fd, setting.number, row);
        break;
      case OptionKind::Count:
        SetFixed(def.u.fd, setting.count, row);
        break;
      case OptionKind::Switch:
        def.u.bd.value = setting.on ? 1 : 0;
        break;
      case OptionKind::Point:
      case OptionKind::Layer:
        break;  // need the images; the caller sets them
    }
    if (row.impliedIndex != ParamInput) {
      Registered(params, row.impliedIndex, PF_Param_CHECKBOX).u.bd.value = row.impliedValue;
    }
  }
}

PF_Fixed PixelsToFixed(double pixels, const char* option) {
  const double fixed = std::round(pixels * 65536.0);
  if (!(std::fabs(fixed) <= 2147483647.0)) {
    throw UsageError(std::string(option) + ": " + Number(pixels) + " is not a pixel position");
  }
  return static_cast<PF_Fixed>(fixed);
}

}  // namespace qbcli
