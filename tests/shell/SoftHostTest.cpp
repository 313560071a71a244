// The shell driven by the software host, as a host would drive it.
#include <gtest/gtest.h>

#include <cstring>

#include "shell/EntryPoint.h"
#include "shell/HostInfo.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

class ShellOnSoftHost : public ::testing::Test {
 protected:
  void SetUp() override { ResetHostInfo(); }
  void TearDown() override { ResetHostInfo(); }
  softhost::Host host;
};

TEST_F(ShellOnSoftHost, UniformCheckboxRoundTrip) {
  ASSERT_EQ(host.Setup(EffectMain), PF_Err_NONE);
  PF_UserChangedParamExtra extra{ParamUniformAmount};
  auto& params = host.Params();
  ASSERT_EQ(params.size(), 22u);
  EXPECT_STREQ(params[ParamVerticalAmount].name, "");
  EXPECT_NE(params[ParamVerticalAmount].ui_flags & PF_PUI_DISABLED, 0);

  params[ParamUniformAmount].u.bd.value = 0;
  ASSERT_EQ(host.Call(EffectMain, PF_Cmd_USER_CHANGED_PARAM, nullptr, &extra), PF_Err_NONE);
  EXPECT_STREQ(params[ParamBlurAmount].name, "Horizontal Blur Amount");
  EXPECT_STREQ(params[ParamVerticalAmount].name, "Vertical Blur Amount");
  EXPECT_EQ(params[ParamVerticalAmount].ui_flags & PF_PUI_DISABLED, 0);

  params[ParamUniformAmount].u.bd.value = 1;
  ASSERT_EQ(host.Call(EffectMain, PF_Cmd_USER_CHANGED_PARAM, nullptr, &extra), PF_Err_NONE);
  EXPECT_STREQ(params[ParamBlurAmount].name, "Blur Amount");
  EXPECT_STREQ(params[ParamVerticalAmount].name, "");
  EXPECT_NE(params[ParamVerticalAmount].ui_flags & PF_PUI_DISABLED, 0);
  EXPECT_EQ(host.UIUpdates().size(), 4u);
  EXPECT_EQ(host.SuitesHeld(), 0);
}

TEST_F(ShellOnSoftHost, ARefusedFifthParameterEndsSetupWithTheHostsError) {
  host.Faults().refuseParamAt = 4;
  host.Faults().failCode = PF_Err_OUT_OF_MEMORY;
  EXPECT_EQ(host.Setup(EffectMain), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host.Params().size(), 1u + 4u);
  EXPECT_STREQ(host.OutData()->return_msg, "\nQuorvant Blur [  ]");
}

}  // namespace
