#include <gtest/gtest.h>

#include <string>

#include "FakeHost.h"
#include "shell/ParamUI.h"

namespace {

using fakehost::FakeHost;
using fakehost::UIUpdate;

void ExpectUpdates(const std::vector<UIUpdate>& got, const std::vector<UIUpdate>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].index, want[i].index) << i;
    EXPECT_EQ(got[i].name, want[i].name) << i;
    EXPECT_EQ(got[i].uiFlags, want[i].uiFlags) << i;
  }
}

PF_Err ChangeParam(FakeHost& host, PF_ParamIndex index) {
  PF_UserChangedParamExtra extra{index};
  return host.Call(PF_Cmd_USER_CHANGED_PARAM, nullptr, &extra);
}

// Other UI flag bits of the sliders are the host's and pass through.
constexpr PF_ParamUIFlags kHostBit = 1 << 2;

TEST(UpdateParamUI, TheCheckboxDecidesNamesAndTheSecondSlidersState) {
  struct Case {
    const char* what;
    A_long uniform;
    PF_Cmd cmd;
    PF_ParamIndex changed;
    std::vector<UIUpdate> want;
  };
  const std::vector<UIUpdate> separate = {{4, "Horizontal Blur Amount", kHostBit},
                                          {5, "Vertical Blur Amount", kHostBit}};
  const std::vector<UIUpdate> uniform = {{4, "Blur Amount", kHostBit},
                                         {5, "", kHostBit | PF_PUI_DISABLED}};
  const Case cases[] = {
      {"turned off", 0, PF_Cmd_USER_CHANGED_PARAM, 3, separate},
      {"turned on", 1, PF_Cmd_USER_CHANGED_PARAM, 3, uniform},
      {"UI refresh, off", 0, PF_Cmd_UPDATE_PARAMS_UI, 0, separate},
      {"UI refresh, on", 1, PF_Cmd_UPDATE_PARAMS_UI, 0, uniform},
      {"another parameter", 0, PF_Cmd_USER_CHANGED_PARAM, 4, {}},
      {"the layer", 0, PF_Cmd_USER_CHANGED_PARAM, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeHost host;
    host.params[ParamUniformAmount].u.bd.value = c.uniform;
    host.params[ParamBlurAmount].ui_flags = kHostBit;
    host.params[ParamVerticalAmount].ui_flags = kHostBit | (c.uniform ? 0 : PF_PUI_DISABLED);
    const PF_Err err =
        c.cmd == PF_Cmd_UPDATE_PARAMS_UI ? host.Call(c.cmd) : ChangeParam(host, c.changed);
    EXPECT_EQ(err, PF_Err_NONE);
    ExpectUpdates(host.uiUpdates, c.want);
    // The host's own definitions change only through the suite.
    EXPECT_STREQ(host.params[ParamBlurAmount].name, "");
  }
}

TEST(UpdateParamUI, TheSuiteIsReleasedOnceUnderItsNameAndVersion) {
  FakeHost host;
  host.params[ParamUniformAmount].u.bd.value = 0;
  ASSERT_EQ(ChangeParam(host, 3), PF_Err_NONE);
  ASSERT_EQ(host.suiteCalls.size(), 2u);
  EXPECT_TRUE(host.suiteCalls[0].acquire);
  EXPECT_FALSE(host.suiteCalls[1].acquire);
  for (const fakehost::SuiteCall& call : host.suiteCalls) {
    EXPECT_EQ(call.name, "PF Param Utils Suite");
    EXPECT_EQ(call.version, 1);
  }
}

TEST(UpdateParamUI, HostErrorsFromTheUpdatesAreReturned) {
  for (PF_ParamIndex failing : {4, 5}) {
    SCOPED_TRACE(failing);
    FakeHost host;
    host.params[ParamUniformAmount].u.bd.value = 0;
    host.failUpdateOf = failing;
    host.updateError = PF_Err_BAD_CALLBACK_PARAM;
    EXPECT_EQ(UpdateParamUI(&host.in, &host.out, host.paramList, nullptr, 3),
              PF_Err_BAD_CALLBACK_PARAM);
    // A refused first slider leaves the second as it was.
    EXPECT_EQ(host.uiUpdates.size(), failing == 4 ? 0u : 1u);
    EXPECT_EQ(host.suiteCalls.size(), 2u) << "the suite must be released on the error path";
  }
}

TEST(UpdateParamUI, WithoutTheSuitesTheSetupNamesStayAndNoErrorIsShown) {
  FakeHost noBasic;
  noBasic.in.pica_basicP = nullptr;
  EXPECT_EQ(noBasic.Call(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_TRUE(noBasic.uiUpdates.empty());
  EXPECT_STREQ(noBasic.out.return_msg, "");

  FakeHost refusing;
  refusing.refuseSuites = true;
  EXPECT_EQ(ChangeParam(refusing, 3), PF_Err_NONE);
  EXPECT_TRUE(refusing.uiUpdates.empty());
  ASSERT_EQ(refusing.suiteCalls.size(), 1u);
  EXPECT_TRUE(refusing.suiteCalls[0].acquire);
}

}  // namespace
