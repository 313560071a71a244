#include "cli/CliHarness.h"

#include <OpenImageIO/imageio.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace clitest {

namespace fs = std::filesystem;

namespace {

OIIO::TypeDesc TypeOf(const std::string& format) {
  if (format == "uint16") return OIIO::TypeDesc::UINT16;
  if (format == "float") return OIIO::TypeDesc::FLOAT;
  if (format == "half") return OIIO::TypeDesc::HALF;
  return OIIO::TypeDesc::UINT8;
}

// Samples go through OIIO as floats scaled to 0..1: its rounding
// conversions bring every 8- and 16-bit value back exactly.
double Scale(const std::string& format) {
  return format == "uint8" ? 255.0 : format == "uint16" ? 65535.0 : 1.0;
}

}  // namespace

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const FileImage& image) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << OIIO::geterror();
  OIIO::ImageSpec header(image.width, image.height, image.channels, TypeOf(image.format));
  if (image.channels == 4 || image.channels == 2) {
    header.alpha_channel = image.channels - 1;
    header.attribute("oiio:UnassociatedAlpha", 1);
  }
  std::vector<float> samples(image.values.size());
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<float>(image.values[i] / Scale(image.format));
  ASSERT_TRUE(out->open(path.string(), header)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, samples.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

FileImage ReadFile(const fs::path& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path << ": " << OIIO::geterror();
    return {};
  }
  const OIIO::ImageSpec& header = in->spec();
  FileImage image(header.width, header.height, header.nchannels,
                  header.format == OIIO::TypeDesc::UINT8    ? "uint8"
                  : header.format == OIIO::TypeDesc::UINT16 ? "uint16"
                                                            : "float");
  std::vector<float> samples(image.values.size());
  EXPECT_TRUE(in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, samples.data()))
      << in->geterror();
  const double scale = Scale(image.format);
  for (size_t i = 0; i < samples.size(); ++i)
    image.values[i] = scale == 1.0 ? samples[i] : std::round(samples[i] * scale);
  return image;
}

FileImage Black(int width, int height, const std::string& format) {
  FileImage image(width, height, 4, format);
  for (size_t i = 3; i < image.values.size(); i += 4) image.values[i] = Scale(format);
  return image;
}

std::string FirstDifference(const FileImage& a, const FileImage& b) {
  std::ostringstream text;
  const auto shape = [&](const FileImage& i) {
    text << i.width << "x" << i.height << "x" << i.channels << " " << i.format;
  };
  if (a.width != b.width || a.height != b.height || a.channels != b.channels ||
      a.format != b.format) {
    shape(a), text << " vs ", shape(b);
    return text.str();
  }
  const auto [at, other] = std::mismatch(a.values.begin(), a.values.end(), b.values.begin());
  if (at == a.values.end()) return "";
  const size_t i = static_cast<size_t>(at - a.values.begin()), pixel = i / a.channels;
  text << "first difference at (" << pixel % a.width << ", " << pixel / a.width << ") channel "
       << i % a.channels << ": " << *at << " vs " << *other;
  return text.str();
}

void CliTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      "qb-cli-" + std::to_string(::getpid()) + "." + info->test_suite_name() + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  dir = fs::temp_directory_path() / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
}

void CliTest::TearDown() {
  if (!HasFailure()) fs::remove_all(dir);
}

RunResult CliTest::Run(const std::string& line) const {
  return Shell(QB_BINARY_DIR "/quorvant-blur " + line);
}

RunResult CliTest::Shell(const std::string& line) const {
  // Captured outside the folder so that they never show in Entries().
  const std::string out = dir.string() + ".stdout", err = dir.string() + ".stderr";
  const std::string command =
      "cd " + dir.string() + " && " + line + " >" + out + " 2>" + err + " </dev/null";
  const int raw = std::system(command.c_str());
  RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
  fs::remove(out);
  fs::remove(err);
  return result;
}

FileImage CliTest::Render(const std::string& output, const std::string& line) const {
  const RunResult result = Run(line + " -o " + output);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  return result.status == 0 ? ReadFile(Path(output)) : FileImage{};
}

std::vector<std::string> CliTest::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace clitest
