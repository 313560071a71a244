#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "shell/AboutText.h"
#include "shell/EffectIdentity.h"
#include "shell/EntryPoint.h"
#include "shell/HostInfo.h"
#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

constexpr A_long kOtherHost = 0x4F544852;  // 'OTHR'
constexpr A_long kKeyG = kApplIdKeyG;

void RecordHost(A_long applId) {
  PF_InData in{};
  in.appl_id = applId;
  in.version = PF_SpecVersion{13, 0};
  RecordHostInfo(&in);
}

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHostInfo(); }
  void TearDown() override { ResetHostInfo(); }
};

// A pre-effect origin widens the extent hint to the whole output; KeyG's
// draft renders at half size, decided by the host recorded at global setup.
// Both last only for the command.
TEST_F(EntryPointTest, CommandScopeAdjustsForTheCommandAndRestoresAfterIt) {
  const struct {
    const char* what;
    A_long originX, originY;
    bool withOutput;
    A_long recordedHost;  // 0: no global setup yet
    A_long inDataHost;
    PF_Quality quality;
    bool wholeOutput, half;
  } cases[] = {
      {"plain", 0, 0, true, kOtherHost, kOtherHost, PF_Quality_HI, false, false},
      {"negative origin y", 0, -3, true, 0, 0, PF_Quality_HI, true, false},
      {"origin without output", 5, 5, false, 0, 0, PF_Quality_HI, false, false},
      {"KeyG draft", 0, 0, true, kKeyG, kKeyG, PF_Quality_LO, false, true},
      {"KeyG id, other host recorded", 0, 0, true, kOtherHost, kKeyG, PF_Quality_LO, false, false},
      {"both at once", 1, 1, true, kKeyG, kKeyG, PF_Quality_LO, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetHostInfo();
    if (c.recordedHost != 0) RecordHost(c.recordedHost);
    PF_InData in{};
    in.extent_hint = PF_Rect{10, 20, 30, 40};
    in.pre_effect_source_origin_x = c.originX;
    in.pre_effect_source_origin_y = c.originY;
    in.appl_id = c.inDataHost;
    in.quality = c.quality;
    in.downsample_x = PF_RationalScale{3, 4};
    in.downsample_y = PF_RationalScale{2, 5};
    PF_LayerDef output{};
    output.width = 720;
    output.height = 486;
    const PF_InData before = in;
    {
      CommandScope scope(&in, c.withOutput ? &output : nullptr);
      const PF_Rect want = c.wholeOutput ? PF_Rect{0, 0, 485, 719} : before.extent_hint;
      EXPECT_EQ(std::memcmp(&in.extent_hint, &want, sizeof want), 0)
          << in.extent_hint.left << "," << in.extent_hint.top << "," << in.extent_hint.right << ","
          << in.extent_hint.bottom;
      const PF_RationalScale x = c.half ? PF_RationalScale{1, 2} : before.downsample_x;
      const PF_RationalScale y = c.half ? PF_RationalScale{1, 2} : before.downsample_y;
      EXPECT_EQ(in.downsample_x.num, x.num);
      EXPECT_EQ(in.downsample_x.den, x.den);
      EXPECT_EQ(in.downsample_y.num, y.num);
      EXPECT_EQ(in.downsample_y.den, y.den);
    }
    EXPECT_EQ(std::memcmp(&in, &before, sizeof in), 0) << "PF_InData not restored";
  }
}

TEST_F(EntryPointTest, GlobalSetupReportsVersionAndFlagsAndRecordsTheHost) {
  softhost::HostConfig config;
  config.applId = kKeyG;
  config.majorVersion = 11;
  config.minorVersion = 7;
  softhost::Host host(config);
  host.OutData()->out_flags = 0x4;
  EXPECT_EQ(host.Call(EffectMain, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  EXPECT_EQ(host.OutData()->my_version, 0x80601u);
  EXPECT_EQ(host.OutData()->out_flags, 0x02000044);
  EXPECT_STREQ(host.OutData()->return_msg, "");
  EXPECT_TRUE(GetHostInfo().recorded);
  EXPECT_EQ(GetHostInfo().applId, kKeyG);
  EXPECT_EQ(GetHostInfo().minorVersion, 7);
  EXPECT_EQ(HostMajorVersion(), 11);
}

// Commands the effect does not answer change nothing the host can see; the
// host's callbacks are absent, so touching them would crash.
TEST_F(EntryPointTest, InertCommandsLeaveEveryRecordUntouched) {
  RecordHost(kKeyG);
  for (PF_Cmd cmd : {2, 5, 9, 100, -1}) {
    SCOPED_TRACE(cmd);
    PF_InData in{};
    in.quality = PF_Quality_LO;
    in.pre_effect_source_origin_y = 4;
    PF_OutData out{};
    std::strcpy(out.return_msg, "left by the host");
    PF_LayerDef output{};
    output.width = 64;
    output.height = 48;
    PF_ParamDef params[ParamCount] = {};
    PF_ParamDef* list[ParamCount];
    for (int i = 0; i < ParamCount; ++i) list[i] = &params[i];
    const PF_InData inBefore = in;
    const PF_OutData outBefore = out;
    const PF_LayerDef outputBefore = output;
    A_long extra = 3;
    EXPECT_EQ(EffectMain(cmd, &in, &out, list, &output, &extra), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&in, &inBefore, sizeof in), 0);
    EXPECT_EQ(std::memcmp(&out, &outBefore, sizeof out), 0);
    EXPECT_EQ(std::memcmp(&output, &outputBefore, sizeof output), 0);
    for (const PF_ParamDef& p : params) EXPECT_EQ(p.param_type, 0);
    EXPECT_EQ(extra, 3);
  }
}

// Includes an unterminated field: the read must stop at its end (the next
// field would show up as 'A's).
TEST(DecorateErrorMessage, PutsTheEffectNameInFrontAndKeeps254Characters) {
  const std::string longMessage(300, 'm');
  const struct {
    std::string message;
    std::string expected;
  } cases[] = {
      {"Out of Memory", "\nQuorvant Blur [ Out of Memory ]"},
      {"", "\nQuorvant Blur [  ]"},
      {longMessage, ("\nQuorvant Blur [ " + longMessage).substr(0, 254)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.size());
    PF_OutData out{};
    std::memcpy(out.return_msg, c.message.c_str(),
                std::min(c.message.size() + 1, sizeof out.return_msg));
    out.return_msg[sizeof out.return_msg - 1] = '\0';
    DecorateErrorMessage(&out);
    EXPECT_EQ(std::string(out.return_msg), c.expected);
  }
  PF_OutData out{};
  std::memset(out.return_msg, 'u', sizeof out.return_msg);
  out.start_sampL = 0x41414141;
  DecorateErrorMessage(&out);
  EXPECT_EQ(std::string(out.return_msg).size(), 254u);
  EXPECT_EQ(std::string(out.return_msg).find('A'), std::string::npos);
}

TEST_F(EntryPointTest, FailedCommandsAreDecoratedExceptCancel) {
  const struct {
    PF_Err code;
    const char* expected;
  } cases[] = {{PF_Err_OUT_OF_MEMORY, "\nQuorvant Blur [  ]"},
               {1, "\nQuorvant Blur [  ]"},
               {PF_Interrupt_CANCEL, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    softhost::Host host;
    host.Faults().refuseParamAt = 4;
    host.Faults().failCode = c.code;
    EXPECT_EQ(host.Setup(EffectMain), c.code);
    EXPECT_EQ(host.Params().size(), 1u + 4u);
    EXPECT_STREQ(host.OutData()->return_msg, c.expected);
  }
}

TEST_F(EntryPointTest, AboutTextHasOneLayoutForKeyGAndAnotherForEveryOtherHost) {
  const std::string plain = "Quorvant Blur\n\nStage: Release\nVersion: v1.0.0.1\nBuildID: 8\n\n";
  const struct {
    A_long host;  // 0: before global setup
    std::string head;
  } cases[] = {
      {0, plain}, {kOtherHost, plain}, {kKeyG, "Quorvant Blur  [Release : v1.0.0.1 : 8]\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    ResetHostInfo();
    softhost::HostConfig config;
    config.applId = c.host;
    softhost::Host host(config);
    if (c.host != 0) {
      ASSERT_EQ(host.Call(EffectMain, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
    }
    EXPECT_EQ(host.Call(EffectMain, PF_Cmd_ABOUT), PF_Err_NONE);
    const std::string text = host.OutData()->return_msg;
    EXPECT_EQ(text.substr(0, c.head.size()), c.head);
    EXPECT_GT(text.size(), c.head.size()) << "no credits";
    char roomy[1024];  // the whole text must fit the host's field
    MakeAboutText(roomy, sizeof roomy, PF_Stage_RELEASE);
    EXPECT_EQ(text, roomy);
  }
  ResetHostInfo();
}

}  // namespace
