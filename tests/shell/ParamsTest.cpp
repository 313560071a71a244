#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "shell/EntryPoint.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

// Ids are stored in projects and the type decides how the host reads a
// value: neither may ever change at an index. Each definition must also be
// one the host accepts as it stands.
TEST(SetupParams, KeepsIdsAndTypesAndConsistentDefinitions) {
  constexpr PF_ParamType P = PF_Param_POPUP, C = PF_Param_CHECKBOX, S = PF_Param_FIX_SLIDER,
                         L = PF_Param_LAYER, T = PF_Param_POINT, G = PF_Param_GROUP_START,
                         E = PF_Param_GROUP_END;
  const std::pair<A_long, PF_ParamType> expected[ParamCount - 1] = {
      {1, P},  {2, P},  {7, C},  {8, S},  {9, S},  {3, G},  {4, L},
      {5, P},  {19, C}, {20, S}, {6, E},  {10, G}, {11, L}, {12, P},
      {13, P}, {14, T}, {15, S}, {16, S}, {17, C}, {21, S}, {18, E}};
  softhost::Host host;
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  EXPECT_EQ(host.OutData()->num_params, ParamCount);
  ASSERT_EQ(host.Params().size(), static_cast<size_t>(ParamCount));
  for (int i = 1; i < ParamCount; ++i) {
    const PF_ParamDef& p = host.Params()[i];
    SCOPED_TRACE(::testing::Message() << "index " << i << " \"" << p.name << "\"");
    EXPECT_EQ(p.uu.id, expected[i - 1].first);
    EXPECT_EQ(p.param_type, expected[i - 1].second);
    // Only the checkbox that renames the amounts needs to hear of changes.
    EXPECT_EQ(p.flags & PF_ParamFlag_SUPERVISE,
              i == ParamUniformAmount ? PF_ParamFlag_SUPERVISE : 0);
    if (p.param_type == P) {
      ASSERT_NE(p.u.pd.u.namesptr, nullptr);
      const std::string names = p.u.pd.u.namesptr;
      EXPECT_EQ(std::count(names.begin(), names.end(), '|') + 1, p.u.pd.num_choices);
      EXPECT_TRUE(p.u.pd.dephault >= 1 && p.u.pd.dephault <= p.u.pd.num_choices);
      EXPECT_EQ(p.u.pd.value, p.u.pd.dephault);
    } else if (p.param_type == C) {
      EXPECT_EQ(p.u.bd.value, p.u.bd.dephault);
      EXPECT_NE(p.u.bd.u.nameptr, nullptr);
    } else if (p.param_type == S) {
      const PF_FixedSliderDef& s = p.u.fd;
      EXPECT_TRUE(s.slider_min == s.valid_min && s.slider_max == s.valid_max);
      EXPECT_TRUE(s.valid_min <= s.dephault && s.dephault <= s.valid_max && s.value == s.dephault);
    }
  }
}

// Other UI flag bits of the sliders are the host's and pass through.
constexpr PF_ParamUIFlags kHostBit = 1 << 2;

// Without the suites the setup names stay and no error reaches the user.
TEST(UpdateParamUI, TheCheckboxDecidesNamesAndTheSecondSlidersState) {
  const std::vector<softhost::ParamUIUpdate> separate = {
      {ParamBlurAmount, "Horizontal Blur Amount", kHostBit},
      {ParamVerticalAmount, "Vertical Blur Amount", kHostBit}};
  const std::vector<softhost::ParamUIUpdate> uniform = {
      {ParamBlurAmount, "Blur Amount", kHostBit},
      {ParamVerticalAmount, "", kHostBit | PF_PUI_DISABLED}};
  const struct {
    const char* what;
    A_long uniform;
    PF_Cmd cmd;
    PF_ParamIndex changed;
    std::vector<softhost::ParamUIUpdate> want;
    bool noBasicSuite = false, noParamUtilsSuite = false;
  } cases[] = {
      {"turned off", 0, PF_Cmd_USER_CHANGED_PARAM, ParamUniformAmount, separate},
      {"turned on", 1, PF_Cmd_USER_CHANGED_PARAM, ParamUniformAmount, uniform},
      {"UI refresh, on", 1, PF_Cmd_UPDATE_PARAMS_UI, 0, uniform},
      {"another parameter", 0, PF_Cmd_USER_CHANGED_PARAM, ParamBlurAmount, {}},
      {"no basic suite", 0, PF_Cmd_USER_CHANGED_PARAM, ParamUniformAmount, {}, true},
      {"no utils suite", 0, PF_Cmd_USER_CHANGED_PARAM, ParamUniformAmount, {}, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    softhost::Host host;
    ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
    const size_t setupUpdates = host.UIUpdates().size();
    host.Faults().noBasicSuite = c.noBasicSuite;
    host.Faults().noParamUtilsSuite = c.noParamUtilsSuite;
    auto& params = host.Params();
    params[ParamUniformAmount].u.bd.value = c.uniform;
    params[ParamBlurAmount].ui_flags = kHostBit;
    params[ParamVerticalAmount].ui_flags = kHostBit | (c.uniform ? 0 : PF_PUI_DISABLED);
    PF_UserChangedParamExtra extra{c.changed};
    EXPECT_EQ(host.Call(EffectMain, c.cmd, nullptr, &extra), PF_Err_NONE);
    EXPECT_STREQ(host.OutData()->return_msg, "");
    const auto& got = host.UIUpdates();
    ASSERT_EQ(got.size() - setupUpdates, c.want.size());
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(got[setupUpdates + i].index, c.want[i].index) << i;
      EXPECT_EQ(got[setupUpdates + i].name, c.want[i].name) << i;
      EXPECT_EQ(got[setupUpdates + i].uiFlags, c.want[i].uiFlags) << i;
    }
    EXPECT_EQ(params[ParamBlurAmount].name, c.want.empty() ? "Blur Amount" : c.want[0].name);
    EXPECT_EQ(host.SuitesHeld(), 0);
  }
}

}  // namespace
