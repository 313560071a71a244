#include "frei0r/Frei0rHarness.h"

#include <sstream>

namespace frei0rtest {

Frame Pattern(int width, int height, int frame) {
  Frame image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t n = uint32_t(x + 3 * frame) * 73856093u ^ uint32_t(y + frame) * 19349663u;
      n = (n ^ n >> 13) * 0x5bd1e995u;
      const bool highlight = (n ^ n >> 15) % 23 == 0;
      uint8_t* p = &image.rgba[(size_t(y) * width + x) * 4];
      p[0] = uint8_t(highlight ? 255 : 20 + x * 90 / width);
      p[1] = uint8_t(highlight ? 240 : 30 + (n >> 8) % 40);
      p[2] = uint8_t(highlight ? 200 : 10 + y * 120 / height);
      // A band of partial transparency and a transparent corner.
      p[3] = y * 4 < height ? 128 : (x * 6 < width && y * 6 > height * 5) ? 0 : 255;
    }
  }
  return image;
}

Frame Ramp(int width, int height, int frame) {
  Frame image(width, height);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    const auto v = uint8_t((int(i / 4) % width + 5 * frame) % width * 255 / std::max(1, width - 1));
    image.rgba[i] = v, image.rgba[i + 1] = 255 - v, image.rgba[i + 2] = v / 2;
    image.rgba[i + 3] = 255;
  }
  return image;
}

// Through the command-line tests' image files, as 8-bit RGBA.
static clitest::FileImage ToFile(const Frame& frame) {
  clitest::FileImage image(frame.width, frame.height, 4, "uint8");
  std::copy(frame.rgba.begin(), frame.rgba.end(), image.values.begin());
  return image;
}

void WritePng(const std::filesystem::path& path, const Frame& frame) {
  clitest::WriteFile(path, ToFile(frame));
}

Frame ReadPng(const std::filesystem::path& path) {
  const clitest::FileImage image = clitest::ReadFile(path);
  EXPECT_TRUE(image.format == "uint8" && image.channels >= 3) << path;
  Frame frame(image.width, image.height);
  for (size_t i = 0; i < frame.rgba.size(); ++i) {
    const size_t pixel = i / 4, c = i % 4;
    frame.rgba[i] =
        uint8_t(c < size_t(image.channels) ? image.values[pixel * image.channels + c] : 255);
  }
  return frame;
}

std::string FirstDifference(const Frame& expected, const Frame& actual) {
  return clitest::FirstDifference(ToFile(expected), ToFile(actual));
}

int Plugin::Index(const std::string& name) const {
  f0r_plugin_info_t info{};
  get_plugin_info(&info);
  for (int i = 0; i < info.num_params; ++i) {
    f0r_param_info_t param{};
    get_param_info(&param, i);
    if (name == param.name) return i;
  }
  return -1;
}

void Plugin::Set(f0r_instance_t instance, const std::string& settings) const {
  std::stringstream parts(settings);
  for (std::string name; std::getline(parts, name, ';');) {
    const std::string text = name.substr(name.find('=') + 1);
    name.erase(name.find('=')).erase(0, name.find_first_not_of(' '));
    f0r_param_info_t param{};
    const int index = Index(name);
    ASSERT_GE(index, 0) << "no parameter " << name;
    get_param_info(&param, index);
    double number = param.type == F0R_PARAM_STRING ? 0 : std::stod(text);
    const char* chars = text.c_str();
    set_param_value(instance, param.type == F0R_PARAM_STRING ? f0r_param_t(&chars) : &number,
                    index);
  }
}

Frame Plugin::Render(const std::string& settings, const Frame& first, const Frame* second) const {
  Frame out(first.width, first.height);
  f0r_instance_t instance = construct(first.width, first.height);
  Set(instance, settings);
  update2(instance, 0.0, first.Pixels(), second ? second->Pixels() : nullptr, nullptr,
          out.Pixels());
  destruct(instance);
  return out;
}

Frame Frei0rTest::CliRender(const std::string& name, const Frame& input, const std::string& args,
                            const Frame* second, const std::string& secondOption) const {
  WritePng(Path(name + "-in.png"), input);
  std::string line = "-q -i " + name + "-in.png -o " + name + "-cli.png " + args;
  if (second != nullptr) {
    WritePng(Path(name + "-second.png"), *second);
    line += " " + secondOption + " " + name + "-second.png";
  }
  const clitest::RunResult run = Run(line);
  EXPECT_EQ(run.status, 0) << line << "\n" << run.err;
  return ReadPng(Path(name + "-cli.png"));
}

}  // namespace frei0rtest
