#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shell/EntryPoint.h"
#include "softhost/SoftHost.h"

namespace {

constexpr PF_Fixed Fix(int32_t v) { return v * 65536; }

// Built from zero so that every field the table does not name must stay
// zero. Strings the definition points to are compared as text.
PF_ParamDef Def(A_long id, PF_ParamType type, const char* name, PF_ParamFlags flags) {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  def.uu.id = id;
  def.param_type = type;
  std::strcpy(def.name, name);
  def.flags = flags;
  return def;
}
PF_ParamDef Popup(A_long id, const char* name, const char* choices, A_short count, A_short value) {
  PF_ParamDef def = Def(id, PF_Param_POPUP, name, 0x06);
  def.u.pd.value = def.u.pd.dephault = value;
  def.u.pd.num_choices = count;
  def.u.pd.names = choices;
  return def;
}
PF_ParamDef Checkbox(A_long id, const char* name, PF_ParamFlags flags, bool on) {
  PF_ParamDef def = Def(id, PF_Param_CHECKBOX, name, flags);
  def.u.bd.value = def.u.bd.dephault = on;
  def.u.bd.name = "";
  return def;
}
PF_ParamDef Slider(A_long id, const char* name, int32_t min, int32_t max, int32_t dflt,
                   A_short precision, PF_ParamUIFlags uiFlags = 0) {
  PF_ParamDef def = Def(id, PF_Param_FIX_SLIDER, name, 0x20);
  def.ui_flags = uiFlags;
  def.u.fd.valid_min = def.u.fd.slider_min = Fix(min);
  def.u.fd.valid_max = def.u.fd.slider_max = Fix(max);
  def.u.fd.value = def.u.fd.dephault = Fix(dflt);
  def.u.fd.precision = precision;
  return def;
}
PF_ParamDef Layer(A_long id, const char* name, A_long dflt) {
  PF_ParamDef def = Def(id, PF_Param_LAYER, name, 0);
  def.u.ld.dephault = dflt;
  return def;
}

const char* const kViews = "Normal|View Kernel|View BCL";
const char* const kShapes =
    "Gaussian (1D)|Diamond (1D)|Sharp Diamond (1D)|Box (1D)|Star (2D)|Spiral (2D)|Cross (1D)|"
    "Custom Shape (2D)|Cylinder (1D)";
const char* const kChannels = "Luminance|Red|Green|Blue|Alpha";
const char* const kTiles = "No Tiling|Center Image|Stretch To Fit";

// Indices 1..21. Ids are stored in projects: they must never change.
std::vector<PF_ParamDef> Table() {
  PF_ParamDef center = Def(14, PF_Param_POINT, "BCL Center", 0);
  center.u.td.x_value = center.u.td.x_dephault = Fix(50);
  center.u.td.y_value = center.u.td.y_dephault = Fix(50);
  return {
      Popup(1, "Output View", kViews, 3, 1),
      Popup(2, "Blur Type", kShapes, 9, 2),
      Checkbox(7, "Uniform Blur Amount", 0x46, true),
      Slider(8, "Blur Amount", 0, 800, 0, 2),
      Slider(9, "", 0, 800, 0, 2, 0x20),
      Def(3, PF_Param_GROUP_START, "Custom Shape", 0),
      Layer(4, "Custom Shape Layer", 0),
      Popup(5, "Channel", kChannels, 5, 1),
      Checkbox(19, "Blur?", 0x06, false),
      Slider(20, "Blur Amount", 0, 1000, 0, 2),
      Def(6, PF_Param_GROUP_END, "", 0),
      Def(10, PF_Param_GROUP_START, "Blur Control Layer (BCL)", 0),
      Layer(11, "BCL Layer", -1),
      Popup(12, "Channel", kChannels, 5, 1),
      Popup(13, "Tile Mode", kTiles, 3, 1),
      center,
      Slider(15, "Scale X", 1, 1000, 100, 2),
      Slider(16, "Scale Y", 1, 1000, 100, 2),
      Checkbox(17, "Invert Image", 0x06, false),
      Slider(21, "Number of Compound Shapes", 2, 1000, 50, 0),
      Def(18, PF_Param_GROUP_END, "", 0),
  };
}

void CompareAndDropText(const char*& got, const char*& want) {
  ASSERT_NE(got, nullptr);
  EXPECT_STREQ(got, want);
  got = want = nullptr;
}

TEST(SetupParams, RegistersTheTableExactly) {
  softhost::Host host;
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  EXPECT_EQ(host.OutData()->num_params, 22);
  std::vector<PF_ParamDef> table = Table();
  ASSERT_EQ(host.Params().size(), table.size() + 1);
  for (size_t i = 0; i < table.size(); ++i) {
    PF_ParamDef& want = table[i];
    PF_ParamDef& got = host.Params()[i + 1];
    SCOPED_TRACE("index " + std::to_string(i + 1) + " \"" + want.name + "\"");
    if (want.param_type == PF_Param_POPUP) CompareAndDropText(got.u.pd.names, want.u.pd.names);
    if (want.param_type == PF_Param_CHECKBOX) CompareAndDropText(got.u.bd.name, want.u.bd.name);
    EXPECT_EQ(got.uu.id, want.uu.id);
    EXPECT_STREQ(got.name, want.name);
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "a value, range or other field differs";
  }
}

TEST(SetupParams, StopsAtTheFirstRefusalAndKeepsTheCount) {
  for (int refused : {0, 20}) {
    SCOPED_TRACE(refused);
    softhost::Host host;
    host.Faults().refuseParamAt = refused;
    host.Faults().failCode = PF_Err_INVALID_CALLBACK;
    host.OutData()->num_params = 7;
    EXPECT_EQ(host.Call(EffectMain, PF_Cmd_PARAMS_SETUP), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(host.Params().size(), static_cast<size_t>(refused + 1));
    EXPECT_EQ(host.OutData()->num_params, 7);
  }
}

}  // namespace
