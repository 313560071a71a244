// Every option reaches the effect: given, it changes the render the way the
// option means; given with the effect's default, it changes nothing.
#include <fstream>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

// Lit pixels on the row and on the column through the centre of point.png.
std::pair<int, int> Extent(const FileImage& image) {
  std::pair<int, int> lit;
  for (int i = 0; i < 41; ++i)
    lit.first += image.At(i, 20, 0) > 0, lit.second += image.At(20, i, 0) > 0;
  return lit;
}

class OptionsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    FileImage scene = Black(48, 40, "uint8");
    for (size_t i = 0; i < scene.values.size(); i += 4 * 7) scene.values[i] = 255;
    WriteFile(Path("scene.png"), scene);
    // A control layer smaller than the scene whose channels all differ.
    FileImage bcl = Black(20, 16, "uint8");
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 20; ++x)
        bcl.At(x, y, 0) = x * 12, bcl.At(x, y, 1) = y * 16, bcl.At(x, y, 2) = 255 - x * 12;
    }
    WriteFile(Path("bcl.png"), bcl);
    // A shape whose red channel (a bar) differs from its luminance (a cross).
    FileImage shape = Black(16, 16, "uint8");
    for (int i = 0; i < 16; ++i) {
      for (int j = 6; j < 10; ++j) shape.At(i, j, 0) = shape.At(j, i, 1) = shape.At(j, i, 2) = 255;
    }
    WriteFile(Path("shape.png"), shape);
    FileImage point = Black(41, 41, "uint8");
    for (int c = 0; c < 3; ++c) point.At(20, 20, c) = 255;
    WriteFile(Path("point.png"), point);
  }

  std::string Difference(const std::string& line, const std::string& other) {
    return FirstDifference(Render("a.png", line), Render("b.png", other));
  }
};

TEST_F(OptionsTest, EachOptionReachesTheEffectAndDefaultsChangeNothing) {
  const std::string bcl = "-i scene.png --bcl bcl.png --amount 12 ";
  const std::string shape = "-i scene.png --bcl none --type custom --shape shape.png --amount 12 ";
  const FileImage plain[2] = {Render("out.png", bcl), Render("out.png", shape)};
  // Besides the defaults: the thread count never changes a result, and the
  // last of repeated options wins, -o included.
  const char* defaults =
      "--view normal --type diamond --bcl-channel luminance --tile none --bcl-center 10,8 "
      "--scale-x 100 --scale-y 100 --compound-shapes 50 --shape none --shape-channel luminance "
      "--quality high --downsample 1,1 --host-version 13.0 --threads 1 --render-command smart "
      "--amount 30 -o unused.png --amount 12";
  EXPECT_EQ(FirstDifference(plain[0], Render("out.png", bcl + defaults)), "");
  EXPECT_FALSE(std::filesystem::exists(Path("unused.png")));
  // Without --bcl the control layer is the input itself.
  EXPECT_EQ(Difference("-i scene.png --amount 12", bcl + "--bcl self"), "");

  const std::pair<bool, const char*> variations[] = {
      {false, "--bcl none"},     {false, "--bcl-channel red"},  {false, "--tile center"},
      {false, "--tile stretch"}, {false, "--bcl-center 2,3"},   {false, "--scale-x 50"},
      {false, "--scale-y 50"},   {false, "--invert"},           {false, "--compound-shapes 2"},
      {true, "--shape none"},    {true, "--shape-channel red"}, {true, "--shape-blur 8"},
  };
  for (const auto& [custom, args] : variations) {
    EXPECT_NE(FirstDifference(plain[custom], Render("out.png", (custom ? shape : bcl) + args)), "")
        << args;
  }
}

TEST_F(OptionsTest, AmountsAndHostSettingsSizeTheBlur) {
  const std::string base = "-i point.png --bcl none --type box ";
  const FileImage uniform = Render("out.png", base + "--amount 10");
  const auto [width, height] = Extent(uniform);
  EXPECT_GT(width, 1);
  EXPECT_EQ(height, width);
  // --amount-v changes only the vertical extent; --amount is then horizontal.
  const auto taller = Extent(Render("out.png", base + "--amount 10 --amount-v 20"));
  EXPECT_EQ(taller.first, width);
  EXPECT_GT(taller.second, height);
  EXPECT_EQ(Extent(Render("out.png", base + "--amount-v 20")), std::make_pair(1, taller.second));
  // Amounts are full-resolution diameters, scaled by the mean downsample.
  EXPECT_EQ(FirstDifference(uniform, Render("out.png", base + "--amount 20 --downsample 2,2")), "");
  // On host 'KeyG' a low-quality render is treated as half resolution.
  EXPECT_EQ(Difference(base + "--amount 10 --quality low",
                       base + "--amount 20 --quality low --host-id KeyG"),
            "");
}

// Bad input of every kind: one line on stderr naming the problem, status 2
// for the command line and 1 for everything else, and nothing written: an
// existing output keeps its content and no other file appears.

struct BadInput {
  const char* name;
  const char* args;  // after "-i in.png -o out.png"
  int status;
  const char* mentions;  // a part of the message
};

void PrintTo(const BadInput& value, std::ostream* os) { *os << value.name; }

class BadInputTest : public CliTest, public ::testing::WithParamInterface<BadInput> {};

// A good JPEG with a Photoshop block after its start whose IPTC record
// claims 1118 bytes of a segment that holds 22: the image library trusts
// the claim and reads past its buffer.
std::string OversizedIptc(const std::string& jpeg) {
  const std::string payload = std::string("Photoshop 3.0\0008BIM\x04\x04", 20) +
                              std::string("\0\0\0\0\x04\x5e\x1c\x02\x41\x00\xab", 11) + "a caption";
  const auto length = static_cast<char>(payload.size() + 2);
  return jpeg.substr(0, 2) + "\xff\xed" + std::string(1, '\0') + length + payload + jpeg.substr(2);
}

// A good PNG whose chunk after the header claims 2 GB: libpng would
// allocate that much before it finds the file short.
std::string OversizedPngChunk(std::string png) {
  png.replace(33, 4, "\x7f\xff\x00\x00", 4);  // signature 8, header chunk 25
  return png;
}

// A good OpenEXR file whose first attribute claims 2 GB: the library would
// allocate that much before it finds the file short.
std::string OversizedExrAttribute(std::string exr) {
  const size_t type = exr.find('\0', 8) + 1;
  const size_t size = exr.find('\0', type) + 1;
  exr.replace(size, 4, "\x00\x00\xff\x7f", 4);
  return exr;
}

TEST_P(BadInputTest, ReportsOnceAndWritesNothing) {
  const BadInput& bad = GetParam();
  WriteFile(Path("in.png"), Black(8, 6, "uint8"));
  std::ofstream(Path("text.png")) << "not an image\n";
  std::ofstream(Path("cut.exr")) << "v/1\x01\x02\0\0\0channels";
  std::ofstream(Path("out.png")) << "a good file\n";
  WriteFile(Path("good.jpg"), Black(8, 6, "uint8"));
  std::ofstream(Path("iptc.jpg"), std::ios::binary) << OversizedIptc(Slurp(Path("good.jpg")));
  std::ofstream(Path("long.png"), std::ios::binary) << OversizedPngChunk(Slurp(Path("in.png")));
  WriteFile(Path("good.exr"), Black(8, 6, "half"));
  std::ofstream(Path("big.exr"), std::ios::binary)
      << OversizedExrAttribute(Slurp(Path("good.exr")));
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
        BadInput{"cut_exr", "-i cut.exr", 1, "cut.exr"},
        BadInput{"oversized_jpeg_metadata", "-i iptc.jpg", 1, "iptc.jpg: a damaged JPEG"},
        BadInput{"oversized_exr_attribute", "-i big.exr", 1, "big.exr: a damaged OpenEXR file"},
        BadInput{"oversized_png_chunk", "-i long.png", 1, "long.png: a damaged PNG"},
        BadInput{"unknown_depth", "--depth 24", 2, "--depth"},
        BadInput{"float_without_smartfx", "--depth 32 --render-command legacy", 2, "--depth 32"},
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
        BadInput{"render_fill_fails", "--view bcl --host-fault fill", 1,
                 "Quorvant Blur [ FillWorld: Fill error ]"},
        BadInput{"render_cancelled", "--amount 4 --host-fault abort", 1, "cancelled"},
        BadInput{"smart_checkout_fails", "--amount 4 --host-fault layer-pixels", 1,
                 "Quorvant Blur [ AEWorld: Could not check out layer ]"},
        BadInput{"legacy_checkout_fails", "--render-command legacy --host-fault checkout", 1,
                 "Quorvant Blur [ AEWorld: Could not check out layer ]"},
        BadInput{"unknown_render_command", "--render-command fast", 2, "--render-command"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace clitest
