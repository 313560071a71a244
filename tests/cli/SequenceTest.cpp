// Frame sequences: '#' and printf patterns in file names, each frame the
// same as rendering its files one by one.
#include <algorithm>
#include <array>
#include <cstdio>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

// Frame f: a white point that moves with f.
FileImage Frame(int f) {
  FileImage image = Black(24, 16, "uint16");
  for (int c = 0; c < 3; ++c) image.At(4 + f, 8, c) = 65535;
  return image;
}

// Every conversion in the pattern takes the frame number.
std::string Name(const char* pattern, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, pattern, frame, frame);
  return name;
}

using SequenceTest = CliTest;

TEST_F(SequenceTest, PatternsNumberEveryFrame) {
  std::vector<FileImage> single;
  for (int f = 8; f <= 10; ++f) {
    WriteFile(Path(Name("in_%d.png", f)), Frame(f));
    WriteFile(Path(Name("in_%03d.tif", f)), Frame(f));
    single.push_back(Render("single.tif", "--amount 6 --bcl none -i " + Name("in_%d.png", f)));
  }
  for (const auto& [input, output, written] :
       {std::array{"in_%d.png", "out_####.png", "out_%04d.png"},
        std::array{"in_%03d.tif", "seq_%02d.tif", "seq_%02d.tif"},
        std::array{"in_#.png", "x#_#.tif", "x%d_%d.tif"}}) {
    const RunResult run =
        Run(std::string("--amount 6 --bcl none --frames 8-10 -i ") + input + " -o " + output);
    ASSERT_EQ(run.status, 0) << run.err;
    // One summary line per frame.
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3) << run.out;
    EXPECT_NE(run.out.find(Name(written, 10) + ": 24x16, 16 bits"), std::string::npos) << run.out;
    for (int f = 8; f <= 10; ++f) {
      EXPECT_EQ(FirstDifference(ReadFile(Path(Name(written, f))), single[f - 8]), "")
          << output << " frame " << f;
    }
  }
}

}  // namespace
}  // namespace clitest
