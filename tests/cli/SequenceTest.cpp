// Frame sequences: '#' and printf patterns in file names, each frame the
// same as rendering its files one by one.
#include "cli/CliHarness.h"

namespace clitest {
namespace {

class SequenceTest : public CliTest {
 protected:
  // Frame f: a white point that moves with f.
  static FileImage Frame(int f) {
    FileImage image(24, 16, 4, "uint16", 0);
    for (size_t i = 3; i < image.values.size(); i += 4) image.values[i] = 65535;
    for (int c = 0; c < 3; ++c) image.At(4 + f, 8, c) = 65535;
    return image;
  }
};

TEST_F(SequenceTest, PatternsNumberEveryFrame) {
  for (int f = 8; f <= 10; ++f) WriteFile(Path(Numbered("in_", f, ".png")), Frame(f));
  for (int f = 8; f <= 10; ++f)
    WriteFile(Path(Numbered(f < 10 ? "in_00" : "in_0", f, ".tif")), Frame(f));
  const std::vector<std::string> blur{"--amount", "6", "--bcl", "none"};

  struct Case {
    const char* input;
    const char* output;
    const char* written;  // frame 9's output, printf style
  };
  for (const Case& c : {Case{"in_%d.png", "out_####.png", "out_%04d.png"},
                        Case{"in_%03d.tif", "seq_%02d.tif", "seq_%02d.tif"},
                        Case{"in_#.png", "x#_#.exr", "x%d_%d.exr"}}) {
    std::vector<std::string> args{"-i", c.input, "-o", c.output, "--frames", "8-10"};
    args.insert(args.end(), blur.begin(), blur.end());
    const RunResult run = Run(args);
    ASSERT_EQ(run.status, 0) << run.err;
    for (int f = 8; f <= 10; ++f) {
      char written[64];
      std::snprintf(written, sizeof written, c.written, f, f);
      std::vector<std::string> single{"-i", Numbered("in_", f, ".png")};
      single.insert(single.end(), blur.begin(), blur.end());
      const std::string ext = std::string(written).substr(std::string(written).rfind('.'));
      const FileImage expected = Render(std::string("single").append(ext), single);
      EXPECT_EQ(FirstDifference(ReadFile(Path(written)), expected), "") << c.output << " " << f;
    }
  }
}

TEST_F(SequenceTest, OneInputForEveryFrameAndOneFrameWithoutPattern) {
  WriteFile(Path("still.png"), Frame(0));
  const RunResult run = Run({"-i", "still.png", "-o", "f#.png", "--frames", "1-2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FirstDifference(ReadFile(Path("f1.png")), ReadFile(Path("f2.png"))), "");
  const RunResult one = Run({"-i", "still.png", "-o", "one.png", "--frames", "5"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(FirstDifference(ReadFile(Path("one.png")), ReadFile(Path("f1.png"))), "");
}

TEST_F(SequenceTest, ControlLayerSequenceFollowsTheFrames) {
  WriteFile(Path("in.png"), Frame(0));
  FileImage black(24, 16, 4, "uint8", 0), white(24, 16, 4, "uint8", 255);
  for (size_t i = 3; i < black.values.size(); i += 4) black.values[i] = 255;
  WriteFile(Path("bcl1.png"), black);
  WriteFile(Path("bcl2.png"), white);
  const RunResult run = Run(
      {"-i", "in.png", "--bcl", "bcl#.png", "-o", "o#.png", "--frames", "1-2", "--amount", "6"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (int f = 1; f <= 2; ++f) {
    const std::string bcl = Numbered("bcl", f, ".png");
    const FileImage expected =
        Render("single.png", {"-i", "in.png", "--bcl", bcl, "--amount", "6"});
    EXPECT_EQ(FirstDifference(ReadFile(Path(Numbered("o", f, ".png"))), expected), "");
  }
  EXPECT_NE(FirstDifference(ReadFile(Path("o1.png")), ReadFile(Path("o2.png"))), "");
}

TEST_F(SequenceTest, MissingFrameStopsWithEarlierFramesWritten) {
  WriteFile(Path("in_1.png"), Frame(1));
  WriteFile(Path("in_3.png"), Frame(3));
  const RunResult run = Run({"-i", "in_#.png", "-o", "out_#.png", "--frames", "1-3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.ErrLines(), 1) << run.err;
  EXPECT_NE(run.err.find("in_2.png"), std::string::npos) << run.err;
  EXPECT_EQ(Entries(), (std::vector<std::string>{"in_1.png", "in_3.png", "out_1.png"}));
}

}  // namespace
}  // namespace clitest
