// The effect as a host meets it: the shared module, loaded and driven
// through its one exported entry point.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "shell/ParamIndices.h"
#include "softhost/SoftHost.h"

namespace {

TEST(Module, ExportsOnlyMain) {
  FILE* pipe = popen("nm -D --defined-only '" QB_MODULE_PATH "' 2>&1", "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text = line;  // "<address> <type> <name>\n"
    text.pop_back();
    names.push_back(text.substr(text.rfind(' ') + 1));
  }
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, std::vector<std::string>{"main"});
}

class ModuleTest : public ::testing::Test {
 protected:
  softhost::EffectModule module{QB_MODULE_PATH};
  PF_EffectMainFunc entry = module.Entry();
};

// Inside the module every new is a host handle; the program that loaded it
// keeps its own heap.
TEST_F(ModuleTest, AllocatesFromHostHandlesOnlyInsideTheModule) {
  softhost::Host host;
  ASSERT_EQ(host.Setup(entry), PF_Err_NONE);
  softhost::SoftWorld input(32, 24, false), output(32, 24, false);
  *input.Pixel8(16, 12) = PF_Pixel{255, 255, 255, 255};
  host.SetInput(input.World());
  host.Params()[ParamBlurAmount].u.fd.value = 10 * 65536;

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
