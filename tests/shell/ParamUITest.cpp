#include <gtest/gtest.h>

#include <vector>

#include "shell/EntryPoint.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

// Other UI flag bits of the sliders are the host's and pass through.
constexpr PF_ParamUIFlags kHostBit = 1 << 2;

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
  } cases[] = {
      {"turned off", 0, PF_Cmd_USER_CHANGED_PARAM, ParamUniformAmount, separate},
      {"turned on", 1, PF_Cmd_USER_CHANGED_PARAM, ParamUniformAmount, uniform},
      {"UI refresh, on", 1, PF_Cmd_UPDATE_PARAMS_UI, 0, uniform},
      {"another parameter", 0, PF_Cmd_USER_CHANGED_PARAM, ParamBlurAmount, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    softhost::Host host;
    ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
    const size_t setupUpdates = host.UIUpdates().size();
    auto& params = host.Params();
    params[ParamUniformAmount].u.bd.value = c.uniform;
    params[ParamBlurAmount].ui_flags = kHostBit;
    params[ParamVerticalAmount].ui_flags = kHostBit | (c.uniform ? 0 : PF_PUI_DISABLED);
    PF_UserChangedParamExtra extra{c.changed};
    EXPECT_EQ(host.Call(EffectMain, c.cmd, nullptr, &extra), PF_Err_NONE);
    const auto& got = host.UIUpdates();
    ASSERT_EQ(got.size() - setupUpdates, c.want.size());
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_EQ(got[setupUpdates + i].index, c.want[i].index) << i;
      EXPECT_EQ(got[setupUpdates + i].name, c.want[i].name) << i;
      EXPECT_EQ(got[setupUpdates + i].uiFlags, c.want[i].uiFlags) << i;
    }
    EXPECT_EQ(host.SuitesHeld(), 0);
  }
}

// Without the suites the setup names stay and no error reaches the user.
TEST(UpdateParamUI, MissingSuitesAreNoError) {
  for (bool noBasic : {true, false}) {
    SCOPED_TRACE(noBasic);
    softhost::Host host;
    ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
    const size_t setupUpdates = host.UIUpdates().size();
    host.Faults().noBasicSuite = noBasic;
    host.Faults().noParamUtilsSuite = !noBasic;
    host.Params()[ParamUniformAmount].u.bd.value = 0;
    PF_UserChangedParamExtra extra{ParamUniformAmount};
    EXPECT_EQ(host.Call(EffectMain, PF_Cmd_USER_CHANGED_PARAM, nullptr, &extra), PF_Err_NONE);
    EXPECT_EQ(host.UIUpdates().size(), setupUpdates);
    EXPECT_STREQ(host.Params()[ParamBlurAmount].name, "Blur Amount");
    EXPECT_STREQ(host.OutData()->return_msg, "");
    EXPECT_EQ(host.SuitesHeld(), 0);
  }
}

}  // namespace
