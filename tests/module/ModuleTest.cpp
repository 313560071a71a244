// The effect as a host meets it: the shared module, loaded and driven
// through its one exported entry point.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

constexpr A_long kKeyG = 0x4B657947;

std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    // "<address> <type> <name>"
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t space = text.rfind(' ');
    names.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  EXPECT_EQ(pclose(pipe), 0) << "nm failed on " << path;
  return names;
}

TEST(Module, ExportsOnlyMain) {
  EXPECT_EQ(DefinedDynamicSymbols(QB_MODULE_PATH), std::set<std::string>{"main"});
}

class ModuleTest : public ::testing::Test {
 protected:
  softhost::EffectModule module{QB_MODULE_PATH};
  PF_EffectMainFunc entry = module.Entry();
};

TEST_F(ModuleTest, AboutTextFollowsTheLatestGlobalSetup) {
  softhost::Host keyG;
  keyG.Config().applId = kKeyG;
  ASSERT_EQ(keyG.Call(entry, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  ASSERT_EQ(keyG.Call(entry, PF_Cmd_ABOUT), PF_Err_NONE);
  EXPECT_EQ(
      std::string(keyG.OutData()->return_msg).rfind("Quorvant Blur  [Release : v1.0.0.1 : 8]\n", 0),
      0u)
      << keyG.OutData()->return_msg;

  softhost::Host other;
  ASSERT_EQ(other.Call(entry, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  EXPECT_EQ(other.OutData()->my_version, 0x80601u);
  EXPECT_EQ(other.OutData()->out_flags & 0x02000040, 0x02000040);
  ASSERT_EQ(other.Call(entry, PF_Cmd_ABOUT), PF_Err_NONE);
  EXPECT_EQ(std::string(other.OutData()->return_msg)
                .rfind("Quorvant Blur\n\nStage: Release\nVersion: v1.0.0.1\nBuildID: 8\n\n", 0),
            0u)
      << other.OutData()->return_msg;
}

TEST_F(ModuleTest, SetsUpParametersAndKeepsTheirUIInStep) {
  softhost::Host host;
  ASSERT_EQ(host.Setup(entry), PF_Err_NONE);
  auto& params = host.Params();
  ASSERT_EQ(params.size(), 22u);
  EXPECT_STREQ(params[ParamBCLCompoundShapes].name, "Number of Compound Shapes");
  EXPECT_EQ(params[ParamBCLLayer].uu.id, 11);

  params[ParamUniformAmount].u.bd.value = 0;
  ASSERT_EQ(host.Call(entry, PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_STREQ(params[ParamBlurAmount].name, "Horizontal Blur Amount");
  EXPECT_STREQ(params[ParamVerticalAmount].name, "Vertical Blur Amount");
  EXPECT_EQ(params[ParamVerticalAmount].ui_flags & PF_PUI_DISABLED, 0);
  EXPECT_EQ(host.SuitesHeld(), 0);

  softhost::Host bare;
  bare.Faults().noParamUtilsSuite = true;
  ASSERT_EQ(bare.Setup(entry), PF_Err_NONE);
  bare.Params()[ParamUniformAmount].u.bd.value = 0;
  EXPECT_EQ(bare.Call(entry, PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
  EXPECT_STREQ(bare.Params()[ParamBlurAmount].name, "Blur Amount");
  EXPECT_STREQ(bare.OutData()->return_msg, "");
}

// Inside the module every new is a host handle; the program that loaded it
// keeps its own heap.
TEST_F(ModuleTest, AllocatesFromHostHandlesOnlyInsideTheModule) {
  softhost::Host host;
  ASSERT_EQ(host.Setup(entry), PF_Err_NONE);
  softhost::SoftWorld input(32, 24, false);
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < 32; ++x) *input.Pixel8(x, y) = PF_Pixel{255, 0, 0, 0};
  *input.Pixel8(16, 12) = PF_Pixel{255, 255, 255, 255};
  host.SetInput(input.World());
  host.Params()[ParamBlurAmount].u.fd.value = 10 * 65536;
  softhost::SoftWorld output(32, 24, false);

  const softhost::HandleStats before = softhost::GetHandleStats();
  auto own = std::make_unique<std::vector<char>>(1 << 20, 'x');
  EXPECT_EQ(softhost::GetHandleStats().newCalls, before.newCalls);
  own.reset();

  ASSERT_EQ(host.Render(entry, output.World()), PF_Err_NONE) << host.OutData()->return_msg;
  const softhost::HandleStats after = softhost::GetHandleStats();
  EXPECT_GT(after.newCalls, before.newCalls);
  EXPECT_EQ(after.live, before.live) << "the render left blocks behind";
  EXPECT_EQ(after.badDisposes, before.badDisposes);
  EXPECT_EQ(host.LiveWorlds(), 0);
  EXPECT_EQ(host.CheckedOutLayers(), 0);
}

}  // namespace
