#include "frei0r/Frei0rHarness.h"

#include <OpenImageIO/imageio.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace frei0rtest {

namespace fs = std::filesystem;

namespace {

constexpr int kRunSeconds = 120;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Small and fast: a hash of the coordinates.
uint32_t Noise(int x, int y, int frame) {
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
               static_cast<uint32_t>(frame) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ (h >> 15);
}

}  // namespace

Frame Pattern(int width, int height, int frame) {
  Frame image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = image.At(x, y);
      const uint32_t n = Noise(x + 3 * frame, y + frame, 0);
      const bool highlight = n % 23 == 0;
      p[0] = highlight ? 255 : static_cast<uint8_t>(20 + (x * 90) / std::max(1, width));
      p[1] = highlight ? 240 : static_cast<uint8_t>(30 + (n >> 8) % 40);
      p[2] = highlight ? 200 : static_cast<uint8_t>(10 + (y * 120) / std::max(1, height));
      // A band of partial transparency and a transparent corner.
      p[3] = y * 4 < height ? 128 : (x * 6 < width && y * 6 > height * 5) ? 0 : 255;
    }
  }
  return image;
}

Frame Ramp(int width, int height, int frame) {
  Frame image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = image.At(x, y);
      const auto v = static_cast<uint8_t>(((x + 5 * frame) % std::max(1, width)) * 255 /
                                          std::max(1, width - 1));
      p[0] = v, p[1] = static_cast<uint8_t>(255 - v), p[2] = static_cast<uint8_t>(v / 2);
      p[3] = 255;
    }
  }
  return image;
}

void WritePng(const fs::path& path, const Frame& frame) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << OIIO::geterror();
  OIIO::ImageSpec header(frame.width, frame.height, 4, OIIO::TypeDesc::UINT8);
  header.alpha_channel = 3;
  header.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path.string(), header)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, frame.rgba.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

Frame ReadPng(const fs::path& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path << ": " << OIIO::geterror();
    return {};
  }
  const OIIO::ImageSpec& header = in->spec();
  if (header.format != OIIO::TypeDesc::UINT8 || header.nchannels < 3) {
    ADD_FAILURE() << path << " is not 8-bit RGB(A)";
    return {};
  }
  Frame frame(header.width, header.height);
  std::vector<uint8_t> samples(size_t(header.width) * header.height * header.nchannels);
  EXPECT_TRUE(in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::UINT8, samples.data()))
      << in->geterror();
  for (size_t i = 0; i < size_t(header.width) * header.height; ++i) {
    for (int c = 0; c < 4; ++c) {
      frame.rgba[i * 4 + c] =
          c < header.nchannels ? samples[i * header.nchannels + c] : uint8_t{255};
    }
  }
  return frame;
}

std::string FirstDifference(const Frame& expected, const Frame& actual) {
  if (expected.width != actual.width || expected.height != actual.height) {
    return "size " + std::to_string(actual.width) + "x" + std::to_string(actual.height) +
           ", expected " + std::to_string(expected.width) + "x" + std::to_string(expected.height);
  }
  static const char kChannels[] = "RGBA";
  for (size_t i = 0; i < expected.rgba.size(); ++i) {
    if (expected.rgba[i] != actual.rgba[i]) {
      const size_t pixel = i / 4;
      std::ostringstream text;
      text << "pixel (" << pixel % expected.width << ", " << pixel / expected.width << ") "
           << kChannels[i % 4] << ": " << int(actual.rgba[i]) << ", expected "
           << int(expected.rgba[i]);
      return text.str();
    }
  }
  return "";
}

Plugin::Plugin(const std::string& file) {
  const std::string path = std::string(QB_FREI0R_DIR) + "/" + file + ".so";
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
    return;
  }
  auto load = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
    if (function == nullptr) ADD_FAILURE() << path << " has no " << name;
  };
  load(init, "f0r_init");
  load(deinit, "f0r_deinit");
  load(get_plugin_info, "f0r_get_plugin_info");
  load(get_param_info, "f0r_get_param_info");
  load(construct, "f0r_construct");
  load(destruct, "f0r_destruct");
  load(set_param_value, "f0r_set_param_value");
  load(get_param_value, "f0r_get_param_value");
  load(update, "f0r_update");
  load(update2, "f0r_update2");
}

Plugin::~Plugin() {
  if (handle != nullptr) dlclose(handle);
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

int Plugin::Type(int index) const {
  f0r_param_info_t param{};
  get_param_info(&param, index);
  return param.type;
}

void Plugin::Set(f0r_instance_t instance, const std::map<std::string, std::string>& values) const {
  for (const auto& [name, text] : values) {
    const int index = Index(name);
    ASSERT_GE(index, 0) << "no parameter " << name;
    if (Type(index) == F0R_PARAM_STRING) {
      const char* value = text.c_str();
      set_param_value(instance, &value, index);
    } else {
      double value = std::stod(text);
      set_param_value(instance, &value, index);
    }
  }
}

Frame Plugin::Render(const std::map<std::string, std::string>& values, const Frame& first,
                     const Frame* second) const {
  Frame out(first.width, first.height);
  f0r_instance_t instance = construct(first.width, first.height);
  if (instance == nullptr) {
    ADD_FAILURE() << "construct failed";
    return out;
  }
  Set(instance, values);
  update2(instance, 0.0, first.Pixels(), second ? second->Pixels() : nullptr, nullptr,
          out.Pixels());
  destruct(instance);
  return out;
}

void Frei0rTest::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  dir = fs::path(QB_BINARY_DIR) / "frei0r-test" /
        (std::string(test->test_suite_name()) + "." + test->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
}

void Frei0rTest::TearDown() {
  if (!HasFailure()) fs::remove_all(dir);
}

RunResult Frei0rTest::Run(const std::string& line) const {
  // A host that hangs fails the test instead of holding up the suite.
  const std::string command =
      "cd '" + dir.string() + "' && FREI0R_PATH='" QB_FREI0R_DIR "' timeout -k 10 " +
      std::to_string(kRunSeconds) + " env " + line + " >/dev/null 2>stderr.txt </dev/null";
  RunResult result;
  const int status = std::system(command.c_str());
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = Slurp(dir / "stderr.txt");
  return result;
}

Frame Frei0rTest::CliRender(const std::string& name, const Frame& input, const std::string& args,
                            const Frame* second, const std::string& secondOption) const {
  WritePng(Path(name + "-in.png"), input);
  std::string line = std::string("'" QB_BINARY_DIR "/quorvant-blur' -q -i ") + name + "-in.png";
  if (second != nullptr) {
    WritePng(Path(name + "-second.png"), *second);
    line += " " + secondOption + " " + name + "-second.png";
  }
  line += " -o " + name + "-cli.png " + args;
  const RunResult run = Run(line);
  EXPECT_EQ(run.status, 0) << line << "\n" << run.err;
  return ReadPng(Path(name + "-cli.png"));
}

void RequireProgram(const std::string& program, std::string& found) {
  found.clear();
#ifdef QB_FREI0R_INSTRUMENTED
  GTEST_SKIP() << "an instrumented build: " << program
               << " cannot load plug-ins built with sanitizers";
#endif
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
    if (access(candidate.c_str(), X_OK) == 0) {
      found = candidate.string();
      return;
    }
  }
  const char* required = std::getenv("QB_FREI0R_REQUIRED");
  if (required != nullptr && std::string(required) == "1") {
    ADD_FAILURE() << program << " is not installed (scripts/deps.sh installs it), and "
                  << "QB_FREI0R_REQUIRED=1";
  } else {
    GTEST_SKIP() << program << " is not installed (scripts/deps.sh installs it)";
  }
}

}  // namespace frei0rtest
