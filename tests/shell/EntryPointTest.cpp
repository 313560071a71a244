#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/AEException.h"
#include "shell/EntryPoint.h"
#include "shell/HostInfo.h"
#include "shell/SuiteHolder.h"
#include "softhost/SoftHost.h"

namespace {

constexpr A_long kOtherHost = 0x4F544852;  // 'OTHR'
constexpr A_long kKeyG = kApplIdKeyG;

template <typename T>
bool Same(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHostInfo(); }
  void TearDown() override { ResetHostInfo(); }
  static void RecordHost(A_long applId) {
    PF_InData in{};
    in.appl_id = applId;
    in.version = PF_SpecVersion{13, 0};
    RecordHostInfo(&in);
  }
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
    in.extent_hint = HostRect(20, 10, 40, 30);
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
      EXPECT_TRUE(
          Same(in.extent_hint, c.wholeOutput ? HostRect(0, 0, 719, 485) : before.extent_hint));
      const PF_RationalScale half{1, 2};
      EXPECT_TRUE(Same(in.downsample_x, c.half ? half : before.downsample_x));
      EXPECT_TRUE(Same(in.downsample_y, c.half ? half : before.downsample_y));
    }
    EXPECT_TRUE(Same(in, before)) << "PF_InData not restored";
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
  EXPECT_EQ(host.OutData()->out_flags2,
            PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
                PF_OutFlag2_SUPPORTS_THREADED_RENDERING);
  EXPECT_STREQ(host.OutData()->return_msg, "");
  EXPECT_TRUE(GetHostInfo().recorded);
  EXPECT_EQ(GetHostInfo().applId, kKeyG);
  EXPECT_EQ(GetHostInfo().minorVersion, 7);
  EXPECT_EQ(HostMajorVersion(), 11);
}

// A failed command gets the effect's name in front of its message, cut to
// 254 characters; a cancel reaches the host as it is. Parameter setup stops
// at the first refusal and leaves the count alone.
TEST_F(EntryPointTest, FailedCommandsAreDecoratedExceptCancel) {
  const struct {
    PF_Err code;
    int refused;
    const char* expected;
  } cases[] = {{PF_Err_OUT_OF_MEMORY, 0, "\nQuorvant Blur [  ]"},
               {1, 4, "\nQuorvant Blur [  ]"},
               {PF_Interrupt_CANCEL, 20, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    softhost::Host host;
    host.Faults().refuseParamAt = c.refused;
    host.Faults().failCode = c.code;
    host.OutData()->num_params = 7;
    EXPECT_EQ(host.Setup(EffectMain), c.code);
    EXPECT_EQ(host.Params().size(), static_cast<size_t>(c.refused + 1));
    EXPECT_EQ(host.OutData()->num_params, 7);
    EXPECT_STREQ(host.OutData()->return_msg, c.expected);
  }
  // The message may fill the whole field without a terminator: the read must
  // stop at its end (the next field would show up as 'A's).
  PF_OutData out{};
  std::memset(out.return_msg, 'u', sizeof out.return_msg);
  out.start_sampL = 0x41414141;
  DecorateErrorMessage(&out);
  EXPECT_EQ(std::string(out.return_msg),
            ("\nQuorvant Blur [ " + std::string(300, 'u')).substr(0, 254));
}

std::vector<std::pair<std::string, int32_t>> acquired, released;
SPErr answer = 0;
bool answerNull = false;
int dummySuite;

SPErr Acquire(const char* name, int32_t version, const void** suite) {
  acquired.emplace_back(name, version);
  *suite = answerNull ? nullptr : &dummySuite;
  return answer;
}
SPErr Release(const char* name, int32_t version) {
  released.emplace_back(name, version);
  return 0;
}

// Acquired out of order and once each, released in the holder's fixed order
// under the name and version they were acquired with; a refused or missing
// suite is SuiteNotFound and is never released.
TEST(SuiteHolder, ReleasesEachAcquiredSuiteOnceInItsOrder) {
  SPBasicSuite basic{};
  basic.AcquireSuite = &Acquire;
  basic.ReleaseSuite = &Release;
  {
    SuiteHolder holder(&basic);
    for (auto suite : {SuiteHolder::PFIterate16Suite, SuiteHolder::AEGPLayerSuite,
                       SuiteHolder::PFParamUtilsSuite, SuiteHolder::AEGPLayerSuite})
      EXPECT_EQ(holder.Get(suite), &dummySuite);
    EXPECT_EQ(acquired.size(), 3u);
    EXPECT_TRUE(released.empty());
  }
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"AEGP Layer Suite", 7}, {"PF Param Utils Suite", 1}, {"PF iterate16 Suite", 1}};
  EXPECT_EQ(released, expected);

  released.clear();
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    answer = fault == 1 ? 1 : 0;
    answerNull = fault == 2;
    try {
      SuiteHolder holder(fault == 0 ? nullptr : &basic);
      holder.Get(SuiteHolder::PFParamUtilsSuite);
      ADD_FAILURE() << "no SuiteNotFound";
    } catch (const SuiteNotFound& e) {
      EXPECT_EQ(e.Code(), 13);
      EXPECT_STREQ(e.Message(), "Suite not found");
    }
  }
  EXPECT_TRUE(released.empty()) << "a refused suite was released";
}

}  // namespace
