// Files in, files out: each format and depth maps onto the effect's channel
// values as documented, so a render without blur reproduces its input.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

double From16(double p) { return std::round(p * 32768.0 / 65535.0); }
double To16(double v) { return std::min(65535.0, std::round(v * 65535.0 / 32768.0)); }
double FromFloat(double f) { return std::round(std::clamp(f, 0.0, 1.0) * 32768.0); }
// The weighted maximum starts from the cleared output: a float render never
// goes below 0, and keeps everything above.
double Positive(double f) { return std::max(f, 0.0); }
double Promote8(double c) { return static_cast<float>(c / 255.0); }
double Promote16(double p) { return static_cast<float>(p / 65535.0); }
double Narrow(double f) { return std::round(std::clamp(f, 0.0, 1.0) * 65535.0); }

// Every value the format can hold in red; in green, for 16 bits, the file
// value of every internal value (each must come back unchanged); floats from
// -2 to 14 in blue; opaque.
FileImage Ramp(const std::string& format) {
  FileImage image = Black(256, 256, format);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const int i = y * 256 + x;
      double* px = &image.At(x, y, 0);
      if (format == "uint8") px[0] = (x + y) % 256, px[1] = x, px[2] = 255 - y;
      if (format == "uint16") px[0] = i, px[1] = To16(i % 32769), px[2] = 65535 - i;
      if (format == "float" || format == "half")
        px[0] = i / 65536.0, px[1] = (i % 32769) / 32768.0, px[2] = (i - 8192) / 4096.0;
    }
  }
  return image;
}

struct RoundTrip {
  const char* name;
  const char* input;
  const char* inputFormat;
  const char* output;
  const char* outputFormat;
  double (*expected)(double);  // file value in -> file value out
  const char* args = "";
  const char* note = "";  // a part of the one line on stderr; "" for none
};

void PrintTo(const RoundTrip& value, std::ostream* os) { *os << value.name; }

class RoundTripTest : public CliTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(RoundTripTest, NoBlurReproducesInputThroughTheDocumentedMapping) {
  const RoundTrip& trip = GetParam();
  WriteFile(Path(trip.input), Ramp(trip.inputFormat));
  // As stored: half floats are rounded on the way in.
  const FileImage input = ReadFile(Path(trip.input));
  FileImage expected(256, 256, 4, trip.outputFormat);
  for (size_t i = 0; i < input.values.size(); ++i)
    expected.values[i] = trip.expected(input.values[i]);
  const RunResult run =
      Run(std::string("--bcl none -i ") + trip.input + " " + trip.args + " -o " + trip.output);
  ASSERT_EQ(run.status, 0) << run.err;
  if (*trip.note == '\0') {
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(trip.note), std::string::npos) << run.err;
  }
  EXPECT_EQ(FirstDifference(ReadFile(Path(trip.output)), expected), "");
}

// The effect's own conversions between depths.
double Widen8(double c) { return To16(std::floor((c * 32768 + 128) / 255)); }
double Narrow16(double p) { return std::floor((From16(p) * 255 + 16384) / 32768); }

INSTANTIATE_TEST_SUITE_P(
    Formats, RoundTripTest,
    ::testing::Values(
        RoundTrip{"png8", "in.png", "uint8", "out.png", "uint8", [](double c) { return c; }},
        RoundTrip{"tiff16", "in.tif", "uint16", "out.tiff", "uint16",
                  [](double p) { return To16(From16(p)); }},
        RoundTrip{"exr_at16", "in.exr", "float", "out.exr", "float",
                  [](double f) { return FromFloat(f) / 32768; }, "--depth 16"},
        RoundTrip{"png8_at16", "in.png", "uint8", "out.png", "uint16", Widen8, "--depth 16"},
        RoundTrip{"png16_at8", "in.png", "uint16", "out.png", "uint8", Narrow16, "--depth 8"},
        RoundTrip{"exr_to_png16", "in.exr", "float", "out.png", "uint16",
                  [](double f) { return To16(FromFloat(f)); }, "--depth 16"},
        RoundTrip{"exr", "in.exr", "float", "out.exr", "float", Positive},
        RoundTrip{"half_exr", "in.exr", "half", "out.exr", "float", Positive},
        RoundTrip{"tiff_float", "in.tif", "float", "out.tif", "float", Positive},
        RoundTrip{"png8_at32", "in.png", "uint8", "out.exr", "float", Promote8, "--depth 32"},
        RoundTrip{"tiff16_at32", "in.tif", "uint16", "out.tif", "float", Promote16, "--depth 32"},
        RoundTrip{"exr_to_png", "in.exr", "float", "out.png", "uint16", Narrow, "",
                  "out.png holds 16 bits per channel; the 32-bit render is limited to 0..1"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(RoundTripTest, MissingAlphaIsOpaqueAndAlphaIsStraight) {
  FileImage rgb(2, 1, 3, "uint8");
  rgb.values = {200, 100, 50, 10, 20, 30};
  WriteFile(Path("rgb.png"), rgb);
  EXPECT_EQ(Render("rgb-out.png", "-i rgb.png --bcl none").values,
            (std::vector<double>{200, 100, 50, 255, 10, 20, 30, 255}));

  // Grey and alpha: full colour under partial alpha stays full; colour under
  // zero alpha is cleared by the effect.
  FileImage grey(2, 1, 2, "uint16");
  grey.values = {65535, 13107, 30000, 0};
  WriteFile(Path("grey.png"), grey);
  const double alpha = To16(From16(13107));
  EXPECT_EQ(Render("grey-out.png", "-i grey.png --bcl none").values,
            (std::vector<double>{65535, 65535, 65535, alpha, 0, 0, 0, 0}));
}

// Float files as they come: NaN, infinities, negatives, alpha outside
// [0, 1], a single half-float channel. Alpha is coverage, limited on reading;
// colour passes to the effect, which reads NaN as 0 and keeps +Inf.
TEST_F(RoundTripTest, OddFloatValuesRenderAsTheEffectReadsThem) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  FileImage odd(5, 1, 4, "float");
  odd.values = {nan, inf, -3, 1, 2, 3, 4, 1.5, 5, 5, 5, -1, 5, 6, 7, nan, 8, 0.5, 0.25, 0.5};
  WriteFile(Path("odd.exr"), odd);
  EXPECT_EQ(
      Render("odd-out.exr", "-i odd.exr --bcl none").values,
      (std::vector<double>{0, inf, 0, 1, 2, 3, 4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0.5, 0.25, 0.5}));
  const FileImage spread = Render("odd-box.exr", "-i odd.exr --bcl none --type box --amount 4");
  EXPECT_EQ(spread.At(1, 0, 1), inf);
  EXPECT_EQ(spread.At(1, 0, 0), 2);

  FileImage grey(2, 1, 1, "half");
  grey.values = {20, -1};
  WriteFile(Path("grey.exr"), grey);
  EXPECT_EQ(Render("grey-out.exr", "-i grey.exr --bcl none").values,
            (std::vector<double>{20, 20, 20, 1, 0, 0, 0, 1}));
}

// Without --depth the input file decides (the demo is 16-bit, and so is the
// deepest frame without SmartFX); at 32 bits the demo is the 16-bit scene
// with its lights above 1.0.
TEST_F(RoundTripTest, DepthFollowsTheInputAndTheDemoGoesHdr) {
  WriteFile(Path("in8.png"), Black(4, 2, "uint8"));
  WriteFile(Path("in16.png"), Black(4, 2, "uint16"));
  WriteFile(Path("in.exr"), Black(4, 2, "half"));
  WriteFile(Path("in.tif"), Black(4, 2, "float"));
  for (const auto& [input, bits] : {std::pair{"-i in8.png", 8},
                                    {"-i in16.png", 16},
                                    {"-i in.exr", 32},
                                    {"-i in.tif", 32},
                                    {"", 16},
                                    {"-i in.exr --render-command legacy", 16}}) {
    const RunResult run = Run(std::string(input) + " -o out.exr");
    EXPECT_NE(run.out.find(", " + std::to_string(bits) + " bits"), std::string::npos)
        << input << ": " << run.out << run.err;
  }
  const FileImage deep = Render("demo16.exr", "--depth 16");
  const FileImage hdr = Render("demo32.exr", "--depth 32");
  ASSERT_EQ(hdr.values.size(), deep.values.size());
  // Every light has a channel of its colour at full scale, above 1.0 here.
  size_t lights = 0;
  for (size_t i = 0; i < hdr.values.size(); i += 4) {
    const double* h = &hdr.values[i];
    if (std::max({h[0], h[1], h[2]}) > 1) {
      ++lights;
      for (int c = 0; c < 3; ++c) EXPECT_GE(h[c], deep.values[i + c]) << "sample " << i + c;
    } else {
      for (int c = 0; c < 4; ++c) ASSERT_EQ(h[c], deep.values[i + c]) << "sample " << i + c;
    }
  }
  EXPECT_GT(lights, 1000u);
  EXPECT_EQ(*std::max_element(hdr.values.begin(), hdr.values.end()), 16);
}

// Frame sequences: '#' and printf patterns in file names, each frame the
// same as rendering its files one by one.

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
