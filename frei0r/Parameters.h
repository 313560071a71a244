// The frei0r face of the effect's parameters: what f0r_get_param_info shows,
// and how a frei0r value (a double in [0, 1], a bool, a string) becomes the
// value a host stores in the effect's parameter.
//
// The numbers come from the effect itself: ranges and defaults are read from
// the definitions it registers at parameter setup, so nothing here repeats
// them. A double d stands for d x (the slider's maximum), limited to the
// slider's range and, for a whole-number slider, rounded to a whole number:
// Blur Amount 0.0125 is 10 pixels, Compound Shapes 0.05 is 50. Centres are
// fractions of the control layer's width and height.
//
// Popups are chosen by the choice's name as the effect shows it ("Sharp
// Diamond (1D)", "Stretch To Fit"), in any letter case, with or without the
// "(1D)" / "(2D)" mark. Layers are "none", "input" (the frame being filtered)
// and, for the mixer, "second" (its second input).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frei0r/Frei0r.h"
#include "hostapi/PluginApi.h"
#include "shell/ParamIndices.h"

namespace qbfrei0r {

enum class PluginKind { Filter, Mixer };

enum class ParamKind {
  Amount,   // double onto a slider
  Popup,    // string naming a choice
  Switch,   // bool onto a checkbox
  Layer,    // string: none, input, second
  CenterX,  // double: fraction of the control layer's width
  CenterY,
};

struct ParamSpec {
  const char* name;
  int type;  // F0R_PARAM_*
  ParamIndex index;
  ParamKind kind;
  std::string explanation;
  const char* choices = nullptr;  // popup: the effect's choice texts, '|' between
  bool whole = false;             // amount: rounded to a whole number
};

// In frei0r order; the same parameters for both plug-ins, which differ only
// in the layers they offer.
const std::vector<ParamSpec>& Params(PluginKind kind);

enum class LayerSource { None, Input, Second };
inline constexpr const char* kLayerNames[] = {"none", "input", "second"};

// The 1-based choice a name picks in a '|'-separated list; nullopt when it
// names none.
std::optional<int> FindChoice(std::string_view name, const char* choices);
// The text of 1-based choice `value`; empty when there is none.
std::string ChoiceName(const char* choices, int value);
std::optional<LayerSource> FindLayer(std::string_view name, PluginKind kind);

// A slider's value for a frei0r double already limited to [0, 1].
PF_Fixed SliderValue(double unit, const PF_FixedSliderDef& slider, bool whole);
// The frei0r double that gives the slider's default.
double SliderDefault(const PF_FixedSliderDef& slider);

// What a double or bool argument really is: a finite value limited to
// [0, 1]; nullopt for NaN. `clamped` tells whether it had to be limited.
std::optional<double> UnitValue(double value, bool& clamped);

}  // namespace qbfrei0r
