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

TEST_F(SequenceTest, StillInputUnderAControlLayerSequence) {
  WriteFile(Path("in.png"), Frame(0));
  WriteFile(Path("bcl1.png"), Black(24, 16, "uint8"));
  WriteFile(Path("bcl2.png"), FileImage(24, 16, 4, "uint8", 255));
  const RunResult run = Run("-i in.png --bcl bcl#.png -o o#.png --frames 1-2 --amount 6");
  ASSERT_EQ(run.status, 0) << run.err;
  for (int f = 1; f <= 2; ++f) {
    // A single frame needs no pattern.
    const FileImage expected =
        Render("single.png", "-i in.png --amount 6 --frames 7 --bcl " + Name("bcl%d.png", f));
    EXPECT_EQ(FirstDifference(ReadFile(Path(Name("o%d.png", f))), expected), "") << f;
  }
  EXPECT_NE(FirstDifference(ReadFile(Path("o1.png")), ReadFile(Path("o2.png"))), "");
}

}  // namespace
}  // namespace clitest
