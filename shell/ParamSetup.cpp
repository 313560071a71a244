#include "shell/ParamSetup.h"

#include <cstring>

#include "shell/ParamIndices.h"

namespace {

constexpr PF_ParamFlags kFixed = PF_ParamFlag_CANNOT_TIME_VARY | PF_ParamFlag_CANNOT_INTERP;
constexpr PF_ParamFlags kFixedSupervised = kFixed | PF_ParamFlag_SUPERVISE;
constexpr PF_ParamFlags kFolded = PF_ParamFlag_COLLAPSE_TWIRLY;

constexpr PF_Fixed ToFixed(int32_t value) { return static_cast<PF_Fixed>(value * 65536); }

// One registered parameter. Fields a row does not name stay zero.
struct ParamRow {
  A_long id = 0;
  PF_ParamType type = PF_Param_LAYER;
  const char* name = nullptr;
  PF_ParamFlags flags = 0;
  PF_ParamUIFlags uiFlags = 0;
  const char* choices = nullptr;  // popup
  A_short choiceCount = 0;
  A_long value = 0;  // popup choice, checkbox state, or slider value and default
  int32_t min = 0, max = 0;
  A_short precision = 0;
  A_long layerDefault = PF_LayerDefault_NONE;
  int32_t pointPercent = 0;
};

constexpr ParamRow Popup(A_long id, const char* name, const char* choices, A_short count,
                         A_long value) {
  return {.id = id,
          .type = PF_Param_POPUP,
          .name = name,
          .flags = kFixed,
          .choices = choices,
          .choiceCount = count,
          .value = value};
}
constexpr ParamRow Checkbox(A_long id, const char* name, PF_ParamFlags flags, bool checked) {
  return {.id = id, .type = PF_Param_CHECKBOX, .name = name, .flags = flags, .value = checked};
}
constexpr ParamRow Slider(A_long id, const char* name, int32_t min, int32_t max, int32_t value,
                          A_short precision, PF_ParamUIFlags uiFlags = 0) {
  return {.id = id,
          .type = PF_Param_FIX_SLIDER,
          .name = name,
          .flags = kFolded,
          .uiFlags = uiFlags,
          .value = value,
          .min = min,
          .max = max,
          .precision = precision};
}
constexpr ParamRow Layer(A_long id, const char* name, A_long layerDefault) {
  return {.id = id, .type = PF_Param_LAYER, .name = name, .layerDefault = layerDefault};
}
// The point's value is a percentage of the layer until the host places it.
constexpr ParamRow Point(A_long id, const char* name, int32_t percent) {
  return {.id = id, .type = PF_Param_POINT, .name = name, .pointPercent = percent};
}
constexpr ParamRow GroupStart(A_long id, const char* name) {
  return {.id = id, .type = PF_Param_GROUP_START, .name = name};
}
constexpr ParamRow GroupEnd(A_long id) { return {.id = id, .type = PF_Param_GROUP_END}; }

// Index i + 1 of the host's parameter array. Ids are what projects store, so
// they follow the order in which the controls were first introduced, not
// their position.
constexpr ParamRow kRows[] = {
    Popup(1, "Output View", kViewChoices, kViewChoiceCount, 1),
    Popup(2, "Blur Type", kShapeChoices, kShapeChoiceCount, 2),
    Checkbox(7, "Uniform Blur Amount", kFixedSupervised, true),
    Slider(8, "Blur Amount", 0, 800, 0, 2),
    // Named and enabled only while the amount is not uniform.
    Slider(9, nullptr, 0, 800, 0, 2, PF_PUI_DISABLED),
    GroupStart(3, "Custom Shape"),
    Layer(4, "Custom Shape Layer", PF_LayerDefault_NONE),
    Popup(5, "Channel", kChannelChoices, kChannelChoiceCount, 1),
    Checkbox(19, "Blur?", kFixed, false),
    Slider(20, "Blur Amount", 0, 1000, 0, 2),
    GroupEnd(6),
    GroupStart(10, "Blur Control Layer (BCL)"),
    Layer(11, "BCL Layer", PF_LayerDefault_MYSELF),
    Popup(12, "Channel", kChannelChoices, kChannelChoiceCount, 1),
    Popup(13, "Tile Mode", kTileChoices, kTileChoiceCount, 1),
    Point(14, "BCL Center", 50),
    Slider(15, "Scale X", 1, 1000, 100, 2),
    Slider(16, "Scale Y", 1, 1000, 100, 2),
    Checkbox(17, "Invert Image", kFixed, false),
    // Fewer than two kernels leave nothing to interpolate between.
    Slider(21, "Number of Compound Shapes", 2, 1000, 50, 0),
    GroupEnd(18),
};
static_assert(sizeof kRows / sizeof kRows[0] == ParamCount - 1);

void FillDefinition(const PF_InData* in_data, const ParamRow& row, PF_ParamDef& def) {
  std::memset(&def, 0, sizeof def);
  def.param_type = row.type;
  if (row.name != nullptr) CopyParamName(in_data, def.name, row.name);
  def.flags = row.flags;
  def.uu.id = row.id;
  def.ui_flags = row.uiFlags;
  switch (row.type) {
    case PF_Param_POPUP:
      def.u.pd.value = row.value;
      def.u.pd.dephault = static_cast<A_short>(row.value);
      def.u.pd.num_choices = row.choiceCount;
      def.u.pd.u.namesptr = row.choices;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = row.value;
      def.u.bd.dephault = static_cast<PF_Boolean>(row.value);
      def.u.bd.u.nameptr = "";
      break;
    case PF_Param_FIX_SLIDER:
      def.u.fd.valid_min = def.u.fd.slider_min = ToFixed(row.min);
      def.u.fd.valid_max = def.u.fd.slider_max = ToFixed(row.max);
      def.u.fd.value = def.u.fd.dephault = ToFixed(row.value);
      def.u.fd.precision = row.precision;
      break;
    case PF_Param_LAYER:
      def.u.ld.dephault = row.layerDefault;
      break;
    case PF_Param_POINT:
      def.u.td.x_value = def.u.td.x_dephault = ToFixed(row.pointPercent);
      def.u.td.y_value = def.u.td.y_dephault = ToFixed(row.pointPercent);
      break;
    default:
      break;
  }
}

}  // namespace

void CopyParamName(const PF_InData* in_data, A_char (&name)[32], const char* text) {
  if (in_data != nullptr && in_data->utils != nullptr && in_data->utils->ansi.strcpy != nullptr &&
      std::strlen(text) < sizeof name) {
    in_data->utils->ansi.strcpy(name, text);
    return;
  }
  std::strncpy(name, text, sizeof name - 1);
  name[sizeof name - 1] = '\0';
}

PF_Err SetupParams(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
  if (in_data->inter.add_param == nullptr) return PF_Err_INVALID_CALLBACK;
  for (const ParamRow& row : kRows) {
    PF_ParamDef def;
    FillDefinition(in_data, row, def);
    const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    if (err != PF_Err_NONE) return err;
  }
  out_data->num_params = ParamCount;
  return PF_Err_NONE;
}
