#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ostream>
#include <string>

#include "FakeHost.h"
#include "image/HostAllocator.h"
#include "shell/AboutText.h"
#include "shell/EffectIdentity.h"
#include "shell/EntryPoint.h"
#include "shell/HostInfo.h"

namespace {

using fakehost::FakeHost;

constexpr A_long kOtherHost = 0x4F544852;  // 'OTHR'

void RecordHost(A_long applId, A_short major = 13) {
  PF_InData in{};
  in.appl_id = applId;
  in.version = PF_SpecVersion{major, 0};
  RecordHostInfo(&in);
}

bool SameRect(const PF_Rect& a, const PF_Rect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

std::string RectText(const PF_Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) +
         "," + std::to_string(r.right);
}

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHostInfo(); }
  void TearDown() override { ResetHostInfo(); }
};

// ---- Adjustments of PF_InData for the length of one command ---------------

struct ScopeCase {
  const char* what;
  A_long originX, originY;
  bool withOutput;
  A_long recordedHost;  // 0: no global setup yet
  A_long inDataHost;
  PF_Quality quality;
  bool expectWholeOutput;
  bool expectHalf;
};

void PrintTo(const ScopeCase& c, std::ostream* os) { *os << c.what; }

class CommandScopeTest : public EntryPointTest, public ::testing::WithParamInterface<ScopeCase> {};

TEST_P(CommandScopeTest, AdjustsForTheCommandAndRestoresAfterIt) {
  const ScopeCase& c = GetParam();
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
    const PF_Rect expected = c.expectWholeOutput ? PF_Rect{0, 0, 485, 719} : before.extent_hint;
    EXPECT_TRUE(SameRect(in.extent_hint, expected)) << RectText(in.extent_hint);
    const PF_RationalScale x = c.expectHalf ? PF_RationalScale{1, 2} : before.downsample_x;
    const PF_RationalScale y = c.expectHalf ? PF_RationalScale{1, 2} : before.downsample_y;
    EXPECT_EQ(in.downsample_x.num, x.num);
    EXPECT_EQ(in.downsample_x.den, x.den);
    EXPECT_EQ(in.downsample_y.num, y.num);
    EXPECT_EQ(in.downsample_y.den, y.den);
  }
  EXPECT_EQ(std::memcmp(&in, &before, sizeof in), 0) << "PF_InData not restored";
}

constexpr A_long kKeyG = kApplIdKeyG;
INSTANTIATE_TEST_SUITE_P(
    Cases, CommandScopeTest,
    ::testing::Values(
        ScopeCase{"plain", 0, 0, true, kOtherHost, kOtherHost, PF_Quality_HI, false, false},
        ScopeCase{"origin x", 5, 0, true, kOtherHost, kOtherHost, PF_Quality_HI, true, false},
        ScopeCase{"negative origin y", 0, -3, true, 0, 0, PF_Quality_HI, true, false},
        ScopeCase{"origin without output", 5, 5, false, 0, 0, PF_Quality_HI, false, false},
        ScopeCase{"KeyG draft", 0, 0, true, kKeyG, kKeyG, PF_Quality_LO, false, true},
        ScopeCase{"KeyG best", 0, 0, true, kKeyG, kKeyG, PF_Quality_HI, false, false},
        ScopeCase{"other host draft", 0, 0, true, kOtherHost, kOtherHost, PF_Quality_LO, false,
                  false},
        // The host recorded at global setup decides, not this command's id.
        ScopeCase{"KeyG id, other host recorded", 0, 0, true, kOtherHost, kKeyG, PF_Quality_LO,
                  false, false},
        ScopeCase{"KeyG before global setup", 0, 0, true, 0, kKeyG, PF_Quality_LO, false, false},
        ScopeCase{"both at once", 1, 1, true, kKeyG, kKeyG, PF_Quality_LO, true, true}),
    [](const ::testing::TestParamInfo<ScopeCase>& param) {
      std::string name = param.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// The adjustments are in force while the effect works on a command and gone
// when it returns, whatever the result.
TEST_F(EntryPointTest, CommandsSeeTheAdjustedInputAndTheHostGetsItsOwnBack) {
  FakeHost host;
  host.in.appl_id = kApplIdKeyG;
  ASSERT_EQ(host.Call(PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  host.in.quality = PF_Quality_LO;
  host.in.pre_effect_source_origin_x = 12;
  host.in.extent_hint = PF_Rect{1, 2, 3, 4};
  host.refuseParamAt = 2;
  PF_LayerDef output{};
  output.width = 720;
  output.height = 486;
  const PF_InData before = host.in;
  EXPECT_EQ(host.Call(PF_Cmd_PARAMS_SETUP, &output), PF_Err_OUT_OF_MEMORY);
  ASSERT_FALSE(host.inDataSeenByAddParam.empty());
  const PF_InData& seen = host.inDataSeenByAddParam.front();
  EXPECT_TRUE(SameRect(seen.extent_hint, PF_Rect{0, 0, 485, 719})) << RectText(seen.extent_hint);
  EXPECT_EQ(seen.downsample_x.num, 1);
  EXPECT_EQ(seen.downsample_x.den, 2u);
  EXPECT_EQ(seen.downsample_y.den, 2u);
  EXPECT_EQ(std::memcmp(&host.in, &before, sizeof before), 0);
}

// ---- Dispatch ---------------------------------------------------------------

TEST_F(EntryPointTest, GlobalSetupReportsVersionAndFlagsAndRecordsTheHost) {
  FakeHost host;
  host.out.out_flags = 0x4;
  host.in.appl_id = kApplIdKeyG;
  host.in.version = PF_SpecVersion{11, 7};
  EXPECT_EQ(host.Call(PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  EXPECT_EQ(host.out.my_version, 0x80601u);
  EXPECT_EQ(host.out.out_flags, 0x02000044);
  const HostInfo& info = GetHostInfo();
  EXPECT_TRUE(info.recorded);
  EXPECT_EQ(info.applId, kApplIdKeyG);
  EXPECT_EQ(info.majorVersion, 11);
  EXPECT_EQ(info.minorVersion, 7);
  EXPECT_EQ(HostMajorVersion(), 11);
  EXPECT_STREQ(host.out.return_msg, "");
}

// The allocator keeps the first host's handle callbacks for the life of the
// process; the host record follows the latest global setup.
TEST_F(EntryPointTest, SecondGlobalSetupKeepsTheCallbackTableButNotTheHostRecord) {
  {
    FakeHost first;
    first.UseHandles<1>();
    ASSERT_EQ(first.Call(PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  }
  ASSERT_TRUE(TheHostAllocator().CallbacksCaptured());
  FakeHost second;
  second.UseHandles<2>();
  second.in.appl_id = kApplIdKeyG;
  second.in.version = PF_SpecVersion{9, 1};
  ASSERT_EQ(second.Call(PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  EXPECT_EQ(GetHostInfo().applId, kApplIdKeyG);
  EXPECT_EQ(GetHostInfo().majorVersion, 9);

  void* block = TheHostAllocator().Allocate(32);
  EXPECT_NE(block, nullptr);
  TheHostAllocator().Release(block);
  EXPECT_EQ(fakehost::Handles<2>::newCalls, 0);
}

// Commands the effect does not answer change nothing the host can see.
TEST_F(EntryPointTest, InertCommandsLeaveEveryRecordUntouched) {
  RecordHost(kApplIdKeyG);
  for (PF_Cmd cmd : {2, 3, 5, 6, 7, 8, 9, 10, 12, 15, 16, 100, -1}) {
    SCOPED_TRACE(cmd);
    FakeHost host;
    host.in.quality = PF_Quality_LO;
    host.in.pre_effect_source_origin_y = 4;
    std::strcpy(host.out.return_msg, "left by the host");
    PF_LayerDef output{};
    output.width = 64;
    output.height = 48;
    const PF_InData in = host.in;
    const PF_OutData out = host.out;
    const PF_LayerDef outputBefore = output;
    PF_ParamDef params[ParamCount];
    std::memcpy(params, host.params, sizeof params);
    A_long extra = 3;

    EXPECT_EQ(host.Call(cmd, &output, &extra), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&host.in, &in, sizeof in), 0);
    EXPECT_EQ(std::memcmp(&host.out, &out, sizeof out), 0);
    EXPECT_EQ(std::memcmp(&output, &outputBefore, sizeof output), 0);
    EXPECT_EQ(std::memcmp(params, host.params, sizeof params), 0);
    EXPECT_EQ(extra, 3);
    EXPECT_TRUE(host.added.empty());
    EXPECT_TRUE(host.suiteCalls.empty());
  }
}

// ---- Failure messages -------------------------------------------------------

TEST(DecorateErrorMessage, PutsTheEffectNameInFrontAndKeeps254Characters) {
  struct Case {
    std::string message;
    std::string expected;
  };
  const std::string longMessage(300, 'm');
  const Case cases[] = {
      {"Out of Memory", "\nQuorvant Blur [ Out of Memory ]"},
      {"", "\nQuorvant Blur [  ]"},
      {longMessage, ("\nQuorvant Blur [ " + longMessage).substr(0, 254)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.size());
    PF_OutData out{};
    std::memset(out.return_msg, '#', sizeof out.return_msg);
    std::memcpy(out.return_msg, c.message.c_str(),
                std::min(c.message.size() + 1, sizeof out.return_msg));
    out.return_msg[sizeof out.return_msg - 1] = '\0';
    DecorateErrorMessage(&out);
    EXPECT_EQ(std::string(out.return_msg), c.expected);
    EXPECT_EQ(out.return_msg[254], '\0');
  }
}

TEST(DecorateErrorMessage, ReadsNoFurtherThanTheFieldWhenTheMessageIsUnterminated) {
  PF_OutData out{};
  std::memset(out.return_msg, 'u', sizeof out.return_msg);
  out.start_sampL = 0x41414141;  // would show up if the read ran past the field
  DecorateErrorMessage(&out);
  const std::string text = out.return_msg;
  EXPECT_EQ(text.size(), 254u);
  EXPECT_EQ(text.find('A'), std::string::npos);
}

// What a failing command leaves in return_msg reaches the host decorated;
// a cancel reaches it as it was.
TEST_F(EntryPointTest, FailedCommandsAreDecoratedExceptCancel) {
  struct Case {
    PF_Err code;
    const char* left;
    const char* expected;
  };
  const Case cases[] = {
      {PF_Err_OUT_OF_MEMORY, "Out of Memory", "\nQuorvant Blur [ Out of Memory ]"},
      {PF_Err_INTERNAL_STRUCT_DAMAGED, nullptr, "\nQuorvant Blur [  ]"},
      {1, "", "\nQuorvant Blur [  ]"},
      {PF_Interrupt_CANCEL, "stopped", "stopped"},
      {PF_Interrupt_CANCEL, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    FakeHost host;
    host.refuseParamAt = 0;
    host.refuseCode = c.code;
    host.messageOnRefusal = c.left;
    EXPECT_EQ(host.Call(PF_Cmd_PARAMS_SETUP), c.code);
    EXPECT_STREQ(host.out.return_msg, c.expected);
  }
}

// ---- About ------------------------------------------------------------------

TEST_F(EntryPointTest, AboutTextHasOneLayoutForKeyGAndAnotherForEveryOtherHost) {
  struct Case {
    const char* what;
    A_long host;  // 0: before global setup
    std::string head;
  };
  const Case cases[] = {
      {"no setup", 0, "Quorvant Blur\n\nStage: Release\nVersion: v1.0.0.1\nBuildID: 8\n\n"},
      {"other", kOtherHost, "Quorvant Blur\n\nStage: Release\nVersion: v1.0.0.1\nBuildID: 8\n\n"},
      {"KeyG", kApplIdKeyG, "Quorvant Blur  [Release : v1.0.0.1 : 8]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetHostInfo();
    if (c.host != 0) RecordHost(c.host);
    FakeHost host;
    EXPECT_EQ(host.Call(PF_Cmd_ABOUT), PF_Err_NONE);
    const std::string text = host.out.return_msg;
    EXPECT_EQ(text.substr(0, c.head.size()), c.head);
    EXPECT_GT(text.size(), c.head.size()) << "no credits";
    // The whole text fits the host's field.
    char roomy[1024];
    MakeAboutText(roomy, sizeof roomy, PF_Stage_RELEASE);
    EXPECT_EQ(text, roomy);
  }
}

TEST_F(EntryPointTest, AboutTextNamesTheStageItIsGiven) {
  char text[256];
  MakeAboutText(text, sizeof text, PF_Stage_BETA);
  EXPECT_NE(std::strstr(text, "\nStage: Beta\n"), nullptr) << text;
}

}  // namespace
