// Bad input of every kind: one line on stderr naming the problem, status 2
// for the command line and 1 for everything else, and nothing written: an
// existing output keeps its content and no other file appears.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

struct BadInput {
  const char* name;
  std::vector<std::string> args;  // "-o out.png" is added unless given
  int status;
  const char* mentions;  // a part of the message
};

void PrintTo(const BadInput& value, std::ostream* os) { *os << value.name; }

class BadInputTest : public CliTest, public ::testing::WithParamInterface<BadInput> {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    FileImage input(8, 6, 4, "uint8", 255);
    WriteFile(Path("in.png"), input);
    std::ofstream(Path("text.png")) << "not an image\n";
  }
};

TEST_P(BadInputTest, ReportsOnceAndWritesNothing) {
  const BadInput& bad = GetParam();
  std::vector<std::string> args = bad.args;
  if (std::find(args.begin(), args.end(), "-o") == args.end() &&
      std::string(bad.name) != "no_output") {
    args.insert(args.end(), {"-o", "out.png"});
  }
  std::ofstream(Path("out.png")) << "a good file\n";
  const std::vector<std::string> before = Entries();

  const RunResult result = Run(args);
  EXPECT_EQ(result.status, bad.status) << result.err;
  EXPECT_EQ(result.ErrLines(), 1) << result.err;
  EXPECT_EQ(result.err.rfind("quorvant-blur: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find(bad.mentions), std::string::npos) << result.err;

  EXPECT_EQ(Entries(), before);
  std::ifstream in(Path("out.png"));
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "a good file\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInputTest,
    ::testing::Values(
        BadInput{"missing_input", {"-i", "absent.png"}, 1, "absent.png"},
        BadInput{"unreadable_input", {"-i", "text.png"}, 1, "text.png"},
        BadInput{"missing_bcl", {"-i", "in.png", "--bcl", "absent.tif"}, 1, "absent.tif"},
        BadInput{"missing_shape", {"-i", "in.png", "--shape", "absent.exr"}, 1, "absent.exr"},
        BadInput{"missing_module", {"-i", "in.png", "--plugin", "absent.so"}, 1, "absent.so"},
        BadInput{"unknown_option", {"-i", "in.png", "--radius", "3"}, 2, "--radius"},
        BadInput{"stray_argument", {"-i", "in.png", "extra"}, 2, "extra"},
        BadInput{"no_output", {"-i", "in.png"}, 2, "--output"},
        BadInput{"unknown_type", {"-i", "in.png", "--type", "blob"}, 2, "blob"},
        BadInput{"unknown_view", {"-i", "in.png", "--view", "kernels"}, 2, "kernels"},
        BadInput{"unknown_channel", {"-i", "in.png", "--bcl-channel", "cyan"}, 2, "cyan"},
        BadInput{"not_a_number", {"-i", "in.png", "--amount", "ten"}, 2, "--amount"},
        BadInput{"bad_depth", {"-i", "in.png", "--depth", "12"}, 2, "--depth"},
        BadInput{"bad_host_id", {"-i", "in.png", "--host-id", "KEY"}, 2, "--host-id"},
        BadInput{"bad_downsample", {"-i", "in.png", "--downsample", "0,2"}, 2, "--downsample"},
        BadInput{"bad_frames", {"-i", "in.png", "--frames", "5-2"}, 2, "--frames"},
        BadInput{"pattern_without_frames", {"-i", "in_####.png"}, 2, "--frames"},
        BadInput{"frames_without_output_pattern",
                 {"-i", "in.png", "--frames", "1-2"},
                 2,
                 "frame pattern"},
        BadInput{"unknown_format", {"-i", "in.png", "-o", "out.bmp"}, 2, "out.bmp"},
        BadInput{"amount_above", {"-i", "in.png", "--amount", "800.5"}, 2, "outside 0 to 800"},
        BadInput{"amount_below", {"-i", "in.png", "--amount=-1"}, 2, "--amount"},
        BadInput{"amount_nan", {"-i", "in.png", "--amount", "nan"}, 2, "--amount"},
        BadInput{"vertical_above", {"-i", "in.png", "--amount-v", "900"}, 2, "--amount-v"},
        BadInput{
            "shape_blur_above", {"-i", "in.png", "--shape-blur", "1000.5"}, 2, "outside 0 to 1000"},
        BadInput{"scale_zero", {"-i", "in.png", "--scale-x", "0"}, 2, "--scale-x"},
        BadInput{"one_compound_shape",
                 {"-i", "in.png", "--compound-shapes", "1"},
                 2,
                 "outside 2 to 1000"},
        BadInput{"render_out_of_memory",
                 {"-i", "in.png", "--amount", "4", "--host-fault", "memory"},
                 1,
                 "Quorvant Blur [ Out of Memory ]"},
        BadInput{"render_fill_fails",
                 {"-i", "in.png", "--host-fault", "fill"},
                 1,
                 "Quorvant Blur [ FillWorld: Fill error ]"},
        BadInput{"render_cancelled",
                 {"-i", "in.png", "--amount", "4", "--host-fault", "abort"},
                 1,
                 "cancelled"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace clitest
