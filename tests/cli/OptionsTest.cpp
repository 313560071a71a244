// Every option reaches the effect: given, it changes what the effect renders
// in the way the option means; given with the effect's default, it changes
// nothing.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

// Black, opaque, 8-bit, with one white pixel.
FileImage Point(int width, int height, int x, int y) {
  FileImage image(width, height, 4, "uint8");
  for (size_t i = 3; i < image.values.size(); i += 4) image.values[i] = 255;
  for (int c = 0; c < 3; ++c) image.At(x, y, c) = 255;
  return image;
}

class OptionsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    // Points of several colours on black.
    FileImage scene(48, 40, 4, "uint8");
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 48; ++x) {
        scene.At(x, y, 3) = 255;
        if (x % 8 == 4 && y % 8 == 4) {
          const int colour = (x + y) / 8 % 4;
          for (int c = 0; c < 3; ++c) scene.At(x, y, c) = colour == 3 || colour == c ? 255 : 0;
        }
      }
    }
    WriteFile(Path("scene.png"), scene);
    // A control layer smaller than the scene whose channels all differ.
    FileImage bcl(20, 16, 4, "uint8");
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 20; ++x) {
        bcl.At(x, y, 0) = x * 12, bcl.At(x, y, 1) = y * 16, bcl.At(x, y, 2) = 255 - x * 12;
        bcl.At(x, y, 3) = 255;
      }
    }
    WriteFile(Path("bcl.png"), bcl);
    // A shape whose red channel (a bar) differs from its luminance (a cross).
    FileImage shape(16, 16, 4, "uint8");
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        shape.At(x, y, 3) = 255;
        if (y >= 6 && y < 10) shape.At(x, y, 0) = 255;
        if (x >= 6 && x < 10) shape.At(x, y, 1) = shape.At(x, y, 2) = 255;
      }
    }
    WriteFile(Path("shape.png"), shape);
  }

  FileImage RenderWith(const std::vector<std::string>& base, std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return Render(Numbered("out", ++renders, ".png"), args);
  }

  const std::vector<std::string> bclBase = Words("-i scene.png --bcl bcl.png --amount 12");
  const std::vector<std::string> shapeBase =
      Words("-i scene.png --bcl none --type custom --shape shape.png --amount 12");
  int renders = 0;
};

TEST_F(OptionsTest, EffectDefaultsGivenExplicitlyChangeNothing) {
  const std::vector<std::string> explicitDefaults = Words(
      "--view normal --type diamond --bcl-channel luminance --tile none --bcl-center 10,8 "
      "--scale-x 100 --scale-y 100 --compound-shapes 50 --shape none --shape-channel luminance "
      "--quality high --downsample 1,1 --host-version 13.0");
  EXPECT_EQ(FirstDifference(RenderWith(bclBase, {}), RenderWith(bclBase, explicitDefaults)), "");
  // Without --bcl the effect's own default is the input layer itself.
  const std::vector<std::string> selfBase{"-i", "scene.png", "--amount", "12"};
  EXPECT_EQ(FirstDifference(RenderWith(selfBase, {}), RenderWith(selfBase, {"--bcl", "self"})), "");
}

TEST_F(OptionsTest, EachOptionChangesTheRender) {
  struct Variation {
    bool custom;  // on the custom-shape base, else on the control-layer one
    std::vector<std::string> args;
  };
  const Variation variations[] = {
      {false, {"--view", "kernel"}},       {false, {"--view", "bcl"}},
      {false, {"--type", "box"}},          {false, {"--amount", "20"}},
      {false, {"--amount-v", "4"}},        {false, {"--bcl", "none"}},
      {false, {"--bcl", "self"}},          {false, {"--bcl-channel", "red"}},
      {false, {"--tile", "center"}},       {false, {"--tile", "stretch"}},
      {false, {"--bcl-center", "2,3"}},    {false, {"--scale-x", "50"}},
      {false, {"--scale-y", "50"}},        {false, {"--invert"}},
      {false, {"--compound-shapes", "2"}}, {false, {"--downsample", "2,2"}},
      {true, {"--shape", "none"}},         {true, {"--shape-channel", "red"}},
      {true, {"--shape-blur", "8"}},
  };
  const FileImage plain[2] = {RenderWith(bclBase, {}), RenderWith(shapeBase, {})};
  for (const Variation& v : variations) {
    SCOPED_TRACE(v.args.front());
    const FileImage changed = RenderWith(v.custom ? shapeBase : bclBase, v.args);
    EXPECT_NE(FirstDifference(plain[v.custom], changed), "");
  }
}

TEST_F(OptionsTest, VerticalAmountChangesOnlyTheVerticalExtent) {
  WriteFile(Path("point.png"), Point(41, 41, 20, 20));
  const std::vector<std::string> base{"-i", "point.png", "--bcl", "none", "--type", "box"};
  const auto uniform = LitExtent(RenderWith(base, {"--amount", "10"}));
  const auto taller = LitExtent(RenderWith(base, {"--amount", "10", "--amount-v", "20"}));
  const auto flat = LitExtent(RenderWith(base, {"--amount-v", "20"}));
  EXPECT_GT(uniform.first, 1);
  EXPECT_EQ(uniform.first, uniform.second);
  EXPECT_EQ(taller.first, uniform.first);
  EXPECT_GT(taller.second, uniform.second);
  EXPECT_EQ(flat.first, 1);
  EXPECT_EQ(flat.second, taller.second);
}

TEST_F(OptionsTest, HostSettingsReachTheEffect) {
  WriteFile(Path("point.png"), Point(41, 41, 20, 20));
  const std::vector<std::string> base{"-i", "point.png", "--bcl", "none"};
  // Amounts are full-resolution diameters, scaled by the mean downsample.
  EXPECT_EQ(FirstDifference(RenderWith(base, {"--amount", "10"}),
                            RenderWith(base, {"--amount", "20", "--downsample", "2,2"})),
            "");
  // On host 'KeyG' a low-quality render is treated as half resolution.
  EXPECT_EQ(FirstDifference(
                RenderWith(base, {"--amount", "10", "--quality", "low"}),
                RenderWith(base, {"--amount", "20", "--quality", "low", "--host-id", "KeyG"})),
            "");
  EXPECT_EQ(FirstDifference(RenderWith(base, {"--amount", "20"}),
                            RenderWith(base, {"--amount", "20", "--host-id", "KeyG"})),
            "");
  // Worker threads never change a result.
  EXPECT_EQ(FirstDifference(RenderWith(bclBase, {"--threads", "1"}),
                            RenderWith(bclBase, {"--threads", "4"})),
            "");
}

TEST_F(OptionsTest, KernelViewShowsEachShapeFramedOnOpaqueBlack) {
  const std::vector<std::string> base{"-i", "scene.png", "--view", "kernel", "--amount", "16"};
  std::vector<FileImage> kernels;
  for (const char* type :
       {"gaussian", "diamond", "sharp-diamond", "box", "star", "spiral", "cross", "cylinder"}) {
    const FileImage kernel = RenderWith(base, {"--type", type});
    EXPECT_EQ(kernel.At(0, 0, 0), 0) << type;
    EXPECT_EQ(kernel.At(0, 0, 3), 255) << type;
    EXPECT_EQ(kernel.At(24, 20, 0), 255) << type << ": full weight at the centre";
    for (const FileImage& other : kernels) EXPECT_NE(FirstDifference(kernel, other), "") << type;
    kernels.push_back(kernel);
  }
  // Hosts before version 12 get the star's mask drawn at 8 bits.
  EXPECT_NE(FirstDifference(kernels[4], RenderWith(base, Words("--type star --host-version 11.0"))),
            "");
}

TEST_F(OptionsTest, ControlLayerViewWithoutLayerIsWhiteOrInvertedBlack) {
  const std::vector<std::string> base{"-i", "scene.png", "--view", "bcl", "--bcl", "none"};
  FileImage white(48, 40, 4, "uint8", 255);
  FileImage black = white;
  for (size_t i = 0; i < black.values.size(); ++i) black.values[i] = i % 4 == 3 ? 255 : 0;
  EXPECT_EQ(FirstDifference(RenderWith(base, {}), white), "");
  EXPECT_EQ(FirstDifference(RenderWith(base, {"--invert"}), black), "");
}

TEST_F(OptionsTest, AboutTextFollowsTheHost) {
  const RunResult plain = Run({"--about"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.rfind("Quorvant Blur\n\nStage: Release\nVersion: v1.0.0.1\nBuildID: 8\n", 0),
            0u)
      << plain.out;
  const RunResult keyG = Run({"--about", "--host-id", "KeyG"});
  EXPECT_EQ(keyG.status, 0) << keyG.err;
  EXPECT_EQ(keyG.out.rfind("Quorvant Blur  [Release : v1.0.0.1 : 8]\n", 0), 0u) << keyG.out;
}

TEST_F(OptionsTest, LaterOptionsOverrideEarlierOnes) {
  const FileImage once = RenderWith(bclBase, {"--amount", "10"});
  const FileImage twice =
      RenderWith(bclBase, {"--amount", "30", "-o", "unused.png", "--amount", "10"});
  EXPECT_EQ(FirstDifference(once, twice), "");
  EXPECT_FALSE(std::filesystem::exists(Path("unused.png")));
}

TEST_F(OptionsTest, ProgressBarOnlyOnATerminalAndNotWhenQuiet) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  std::vector<std::string> args = bclBase;
  args.insert(args.end(), {"-o", "shown.png"});
  const RunResult shown = Run(args, true);
  EXPECT_EQ(shown.status, 0) << shown.out;
  EXPECT_NE(shown.out.find("\r["), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("%"), std::string::npos) << shown.out;

  args.push_back("--quiet");
  const RunResult quiet = Run(args, true);
  EXPECT_EQ(quiet.status, 0) << quiet.out;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(Run(args).err, "");  // not a terminal
}

}  // namespace
}  // namespace clitest
