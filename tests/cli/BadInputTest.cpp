// Bad input of every kind: one line on stderr naming the problem, status 2
// for the command line and 1 for everything else, and nothing written: an
// existing output keeps its content and no other file appears.
#include <fstream>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

struct BadInput {
  const char* name;
  const char* args;  // after "-i in.png -o out.png"
  int status;
  const char* mentions;  // a part of the message
};

void PrintTo(const BadInput& value, std::ostream* os) { *os << value.name; }

class BadInputTest : public CliTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, ReportsOnceAndWritesNothing) {
  const BadInput& bad = GetParam();
  WriteFile(Path("in.png"), Black(8, 6, "uint8"));
  std::ofstream(Path("text.png")) << "not an image\n";
  std::ofstream(Path("out.png")) << "a good file\n";
  const std::vector<std::string> before = Entries();
  const std::string given =
      std::string(bad.name) == "no_output" ? "-i in.png " : "-i in.png -o out.png ";
  const RunResult result = Run(given + bad.args);
  EXPECT_EQ(result.status, bad.status) << result.err;
  EXPECT_EQ(result.err.rfind("quorvant-blur: ", 0), 0u) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  EXPECT_NE(result.err.find(bad.mentions), std::string::npos) << result.err;
  EXPECT_EQ(Entries(), before);
  EXPECT_EQ(Slurp(Path("out.png")), "a good file\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInputTest,
    ::testing::Values(
        BadInput{"missing_input", "-i absent.png", 1, "absent.png"},
        BadInput{"unreadable_input", "-i text.png", 1, "text.png"},
        BadInput{"missing_module", "--plugin absent.so", 1, "absent.so"},
        BadInput{"unknown_option", "--radius 3", 2, "--radius"},
        BadInput{"no_output", "", 2, "--output"},
        BadInput{"not_a_number", "--amount ten", 2, "--amount"},
        BadInput{"bad_frames", "--frames 5-2", 2, "--frames"},
        BadInput{"missing_frame", "-i in_#.png -o o_#.png --frames 1-2", 1, "in_1.png"},
        BadInput{"frames_without_output_pattern", "--frames 1-2", 2, "frame pattern"},
        BadInput{"unknown_format", "-o out.bmp", 2, "out.bmp"},
        BadInput{"amount_above", "--amount 800.5", 2, "outside 0 to 800"},
        BadInput{"render_out_of_memory", "--amount 4 --host-fault memory", 1,
                 "Quorvant Blur [ Out of Memory ]"},
        BadInput{"render_fill_fails", "--host-fault fill", 1,
                 "Quorvant Blur [ FillWorld: Fill error ]"},
        BadInput{"render_cancelled", "--amount 4 --host-fault abort", 1, "cancelled"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace clitest
