// The command line of quorvant-blur: host settings, files, and one option
// per effect parameter.
//
// Effect parameters are reached through a table (ParamOptions): each row
// names the parameter index it sets, how its value is read, and at most one
// other parameter it implies (--amount-v turns "Uniform Blur Amount" off).
// A parameter whose option is not given keeps the value the effect itself
// registered, so every default is the effect's own. Values are checked
// against the ranges the effect registered, as a host checks slider input.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "hostapi/PluginApi.h"
#include "shell/ParamIndices.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace qbcli {

enum class OptionKind {
  Popup,   // a word from `choices`, in the popup's order
  Amount,  // a decimal number into a fixed-point slider
  Count,   // a whole number into a fixed-point slider without decimals
  Switch,  // a flag that turns a checkbox on
  Point,   // X,Y in layer pixels; the host supplies the default
  Layer,   // FILE, or one of `choices` ("self", "none")
};

struct ParamOption {
  const char* name;
  const char* valueName;
  ParamIndex index;
  OptionKind kind;
  std::vector<std::string> choices;
  ParamIndex impliedIndex;  // ParamInput: none
  A_long impliedValue;
  const char* group;
  const char* help;
};

const std::vector<ParamOption>& ParamOptions();

// What the command line said for one row of ParamOptions().
struct ParamSetting {
  CLI::Option* option = nullptr;
  std::string text;
  double number = 0;
  int count = 0;
  bool on = false;
  std::pair<double, double> point{0, 0};
  bool Given() const;
};

struct CommandLine {
  std::string input;  // empty: the built-in demo image
  std::string output;
  std::string plugin;  // empty: the module next to the executable
  int depth = 0;       // 8, 16 or 32; 0: from the input
  std::string quality = "high";
  std::pair<int, int> downsample{1, 1};
  std::pair<int, int> hostVersion{13, 0};
  std::string hostId;  // empty: the software host's own
  int threads = 1;
  std::vector<int> frames;  // empty, {frame} or {first, last}
  std::string hostFault;
  std::string renderCommand = "smart";  // or "legacy"
  bool quiet = false;
  bool about = false;
  std::vector<ParamSetting> params;  // parallel to ParamOptions()

  const ParamSetting& Setting(ParamIndex index) const;
};

inline constexpr const char* kLayerSelf = "self";
inline constexpr const char* kLayerNone = "none";

// Host faults that --host-fault can inject, for exercising failure paths.
const std::vector<std::string>& HostFaultNames();

void AddOptions(CLI::App& app, CommandLine& line);

// Writes every given popup, amount, count and switch (and what they imply)
// into the registered definitions. Throws UsageError for a value outside
// the registered range, std::runtime_error when the module's parameters are
// not the ones the table describes.
void ApplyParamOptions(const CommandLine& line, std::vector<PF_ParamDef>& params);

// The 16.16 value a host stores for a coordinate in pixels; throws
// UsageError (naming `option`) when it does not fit.
PF_Fixed PixelsToFixed(double pixels, const char* option);

}  // namespace qbcli
