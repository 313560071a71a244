// Files in, files out: each format and depth maps onto the effect's channel
// values as documented, so that a render with no blur reproduces its input.
#include <cmath>
#include <functional>

#include "cli/CliHarness.h"

namespace clitest {
namespace {

double From16(double p) { return std::round(p * 32768.0 / 65535.0); }
double To16(double v) { return std::min(65535.0, std::round(v * 65535.0 / 32768.0)); }
double Widen8(double c) { return std::floor((c * 32768 + 128) / 255); }
double Narrow16(double v) { return std::floor((v * 255 + 16384) / 32768); }
double FromFloat(double f) { return std::round(std::clamp(f, 0.0, 1.0) * 32768.0); }

// Every value a file of this format can hold in red; in green, for 16 bits,
// the file value of every internal value (which must come back unchanged);
// out-of-range floats in blue; opaque.
FileImage Ramp(const std::string& format) {
  FileImage image(256, 256, 4, format);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const int i = y * 256 + x;
      if (format == "uint8") {
        image.At(x, y, 0) = (x + y) % 256, image.At(x, y, 1) = x, image.At(x, y, 2) = 255 - y;
        image.At(x, y, 3) = 255;
      } else if (format == "uint16") {
        image.At(x, y, 0) = i, image.At(x, y, 1) = To16(i % 32769), image.At(x, y, 2) = 65535 - i;
        image.At(x, y, 3) = 65535;
      } else {
        image.At(x, y, 0) = i / 65536.0, image.At(x, y, 1) = (i % 32769) / 32768.0;
        image.At(x, y, 2) = i / 32768.0 - 0.5;
        image.At(x, y, 3) = 1.0;
      }
    }
  }
  return image;
}

struct RoundTrip {
  const char* name;
  const char* inputFile;
  const char* inputFormat;
  std::vector<std::string> args;
  const char* outputFile;
  const char* outputFormat;
  std::function<double(double)> expected;  // file value in -> file value out
};

void PrintTo(const RoundTrip& value, std::ostream* os) { *os << value.name; }

class RoundTripTest : public CliTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(RoundTripTest, NoBlurReproducesInputThroughTheDocumentedMapping) {
  const RoundTrip& trip = GetParam();
  const FileImage input = Ramp(trip.inputFormat);
  WriteFile(Path(trip.inputFile), input);
  std::vector<std::string> args{"-i", trip.inputFile, "--bcl", "none"};
  args.insert(args.end(), trip.args.begin(), trip.args.end());
  const FileImage output = Render(trip.outputFile, args);
  ASSERT_EQ(output.format, trip.outputFormat);
  ASSERT_EQ(output.channels, 4);
  ASSERT_EQ(output.width, 256);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      for (int c = 0; c < 4; ++c) {
        const double want = trip.expected(input.At(x, y, c));
        ASSERT_EQ(output.At(x, y, c), want)
            << "at (" << x << ", " << y << ") channel " << c << ", input " << input.At(x, y, c);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RoundTripTest,
    ::testing::Values(
        RoundTrip{"png8", "in.png", "uint8", {}, "out.png", "uint8", [](double c) { return c; }},
        RoundTrip{"tif8", "in.tif", "uint8", {}, "out.tiff", "uint8", [](double c) { return c; }},
        RoundTrip{"png16",
                  "in.png",
                  "uint16",
                  {},
                  "out.png",
                  "uint16",
                  [](double p) { return To16(From16(p)); }},
        RoundTrip{"tif16",
                  "in.tif",
                  "uint16",
                  {},
                  "out.tif",
                  "uint16",
                  [](double p) { return To16(From16(p)); }},
        RoundTrip{"exr",
                  "in.exr",
                  "float",
                  {},
                  "out.exr",
                  "float",
                  [](double f) { return FromFloat(f) / 32768.0; }},
        RoundTrip{"png8_at16",
                  "in.png",
                  "uint8",
                  {"--depth", "16"},
                  "out.png",
                  "uint16",
                  [](double c) { return To16(Widen8(c)); }},
        RoundTrip{"png16_at8",
                  "in.png",
                  "uint16",
                  {"--depth", "8"},
                  "out.png",
                  "uint8",
                  [](double p) { return Narrow16(From16(p)); }},
        RoundTrip{"png8_to_exr",
                  "in.png",
                  "uint8",
                  {},
                  "out.exr",
                  "float",
                  [](double c) { return static_cast<double>(static_cast<float>(c) / 255.0f); }},
        RoundTrip{"exr_to_png",
                  "in.exr",
                  "float",
                  {},
                  "out.png",
                  "uint16",
                  [](double f) { return To16(FromFloat(f)); }}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(RoundTripTest, AlphaIsStraightAndMissingChannelsAreFilledIn) {
  FileImage rgba(2, 1, 4, "uint8");
  rgba.values = {200, 100, 50, 100, 10, 20, 30, 255};
  WriteFile(Path("rgba.png"), rgba);
  const FileImage straight = Render("straight.png", {"-i", "rgba.png", "--bcl", "none"});
  EXPECT_EQ(FirstDifference(rgba, straight), "");

  FileImage rgb(2, 1, 3, "uint8");
  rgb.values = {200, 100, 50, 10, 20, 30};
  WriteFile(Path("rgb.png"), rgb);
  FileImage opaque = Render("opaque.png", {"-i", "rgb.png", "--bcl", "none"});
  EXPECT_EQ(opaque.values, (std::vector<double>{200, 100, 50, 255, 10, 20, 30, 255}));

  FileImage grey(2, 1, 2, "uint16");
  grey.values = {65535, 65535, 13107, 0};
  WriteFile(Path("grey.png"), grey);
  FileImage colour = Render("grey-out.png", {"-i", "grey.png", "--bcl", "none"});
  // Colour under a fully transparent pixel is cleared by the effect.
  EXPECT_EQ(colour.values, (std::vector<double>{65535, 65535, 65535, 65535, 0, 0, 0, 0}));
}

TEST_F(RoundTripTest, JpegIsEightBitColourWithoutAlpha) {
  FileImage input(16, 16, 4, "uint16", 65535);
  for (size_t i = 0; i < input.values.size(); i += 4) input.values[i + 1] = 32896;  // half green
  WriteFile(Path("in.png"), input);
  const FileImage output = Render("out.jpg", {"-i", "in.png", "--bcl", "none"});
  ASSERT_EQ(output.channels, 3);
  ASSERT_EQ(output.format, "uint8");
  EXPECT_NEAR(output.At(8, 8, 0), 255, 2);
  EXPECT_NEAR(output.At(8, 8, 1), 128, 2);
}

}  // namespace
}  // namespace clitest
