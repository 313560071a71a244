#include "frei0r/Parameters.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace qbfrei0r {

namespace {

// "A|B|C" as "A, B or C", for explanations.
std::string ListChoices(const char* choices) {
  std::string text;
  std::string_view rest = choices;
  while (!rest.empty()) {
    const size_t bar = rest.find('|');
    const std::string_view item = rest.substr(0, bar);
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    if (!text.empty()) text += rest.empty() ? " or " : ", ";
    text += item;
  }
  return text;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "Star (2D)" without its mark: "Star".
std::string_view WithoutDimension(std::string_view name) {
  for (std::string_view mark : {" (1D)", " (2D)"}) {
    if (name.size() > mark.size() && name.substr(name.size() - mark.size()) == mark) {
      return name.substr(0, name.size() - mark.size());
    }
  }
  return name;
}

std::vector<ParamSpec> MakeParams(PluginKind kind) {
  const bool mixer = kind == PluginKind::Mixer;
  const std::string layers = mixer ? "none, input (the first input) or second (the second input)"
                                   : "none or input (the frame itself)";
  const std::string channels = ListChoices(kChannelChoices);
  return {
      {"Blur Amount", F0R_PARAM_DOUBLE, ParamBlurAmount, ParamKind::Amount,
       "Blur diameter: 0 to 1 stands for 0 to 800 pixels (the horizontal diameter when the "
       "amount is not uniform)"},
      {"Blur Type", F0R_PARAM_STRING, ParamBlurType, ParamKind::Popup,
       "Kernel shape: " + ListChoices(kShapeChoices), kShapeChoices},
      {"Uniform Blur Amount", F0R_PARAM_BOOL, ParamUniformAmount, ParamKind::Switch,
       "One diameter for both directions; off: Blur Amount is horizontal and Vertical Blur "
       "Amount vertical"},
      {"Vertical Blur Amount", F0R_PARAM_DOUBLE, ParamVerticalAmount, ParamKind::Amount,
       "Vertical diameter when the amount is not uniform: 0 to 1 stands for 0 to 800 pixels"},
      {"Control Layer", F0R_PARAM_STRING, ParamBCLLayer, ParamKind::Layer,
       "Blur Control Layer, whose brightness scales the amount pixel by pixel: " + layers},
      {"Control Channel", F0R_PARAM_STRING, ParamBCLChannel, ParamKind::Popup,
       "Channel of the control layer that scales the amount: " + channels, kChannelChoices},
      {"Control Tile Mode", F0R_PARAM_STRING, ParamBCLTileMode, ParamKind::Popup,
       "How the control layer is placed: " + ListChoices(kTileChoices), kTileChoices},
      {"Control Center X", F0R_PARAM_DOUBLE, ParamBCLCenter, ParamKind::CenterX,
       "Horizontal centre of the control layer, as a fraction of its width"},
      {"Control Center Y", F0R_PARAM_DOUBLE, ParamBCLCenter, ParamKind::CenterY,
       "Vertical centre of the control layer, as a fraction of its height"},
      {"Control Scale X", F0R_PARAM_DOUBLE, ParamBCLScaleX, ParamKind::Amount,
       "Horizontal scale of the control layer: 0 to 1 stands for 0 to 1000 percent (1 percent "
       "at least)"},
      {"Control Scale Y", F0R_PARAM_DOUBLE, ParamBCLScaleY, ParamKind::Amount,
       "Vertical scale of the control layer: 0 to 1 stands for 0 to 1000 percent (1 percent "
       "at least)"},
      {"Invert Control", F0R_PARAM_BOOL, ParamBCLInvert, ParamKind::Switch,
       "Invert the control layer, so that its dark parts blur most"},
      {"Compound Shapes", F0R_PARAM_DOUBLE, ParamBCLCompoundShapes, ParamKind::Amount,
       "Number of kernels the controlled amount steps through: 0 to 1 stands for 0 to 1000 "
       "(2 at least)",
       nullptr, true},
      {"Custom Shape Layer", F0R_PARAM_STRING, ParamShapeLayer, ParamKind::Layer,
       "Layer whose channel draws the kernel of the Custom Shape type: " + layers},
      {"Shape Channel", F0R_PARAM_STRING, ParamShapeChannel, ParamKind::Popup,
       "Channel of the custom shape layer that gives the shape: " + channels, kChannelChoices},
      {"Smooth Shape", F0R_PARAM_BOOL, ParamShapeSmooth, ParamKind::Switch,
       "Smooth the custom shape before it is used"},
      {"Shape Smoothing", F0R_PARAM_DOUBLE, ParamShapeSmoothAmount, ParamKind::Amount,
       "How much the custom shape is smoothed: 0 to 1 stands for 0 to 1000 pixels"},
      {"Output View", F0R_PARAM_STRING, ParamOutputView, ParamKind::Popup,
       "What to show: " + ListChoices(kViewChoices), kViewChoices},
  };
}

}  // namespace

const std::vector<ParamSpec>& Params(PluginKind kind) {
  static const std::vector<ParamSpec> filter = MakeParams(PluginKind::Filter);
  static const std::vector<ParamSpec> mixer = MakeParams(PluginKind::Mixer);
  return kind == PluginKind::Mixer ? mixer : filter;
}

std::optional<int> FindChoice(std::string_view name, const char* choices) {
  name = Trim(name);
  if (name.empty() || choices == nullptr) return std::nullopt;
  std::string_view rest = choices;
  for (int value = 1; !rest.empty(); ++value) {
    const size_t bar = rest.find('|');
    const std::string_view item = rest.substr(0, bar);
    if (SameLetters(name, item) || SameLetters(name, WithoutDimension(item))) return value;
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  return std::nullopt;
}

std::string ChoiceName(const char* choices, int value) {
  if (choices == nullptr || value < 1) return {};
  std::string_view rest = choices;
  for (int i = 1; i < value; ++i) {
    const size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return {};
    rest.remove_prefix(bar + 1);
  }
  return std::string(rest.substr(0, rest.find('|')));
}

std::optional<LayerSource> FindLayer(std::string_view name, PluginKind kind) {
  name = Trim(name);
  const int offered = kind == PluginKind::Mixer ? 3 : 2;
  for (int i = 0; i < offered; ++i) {
    if (SameLetters(name, kLayerNames[i])) return static_cast<LayerSource>(i);
  }
  return std::nullopt;
}

PF_Fixed SliderValue(double unit, const PF_FixedSliderDef& slider, bool whole) {
  double amount = unit * (slider.valid_max / 65536.0);
  if (whole) amount = std::round(amount);
  const double fixed = std::round(amount * 65536.0);
  return static_cast<PF_Fixed>(std::clamp(fixed, static_cast<double>(slider.valid_min),
                                          static_cast<double>(slider.valid_max)));
}

double SliderDefault(const PF_FixedSliderDef& slider) {
  if (slider.valid_max <= 0) return 0;
  return std::clamp(static_cast<double>(slider.dephault) / slider.valid_max, 0.0, 1.0);
}

std::optional<double> UnitValue(double value, bool& clamped) {
  clamped = false;
  if (std::isnan(value)) return std::nullopt;
  const double unit = std::clamp(value, 0.0, 1.0);
  clamped = unit != value;
  return unit;
}

}  // namespace qbfrei0r
