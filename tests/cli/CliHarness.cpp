#include "cli/CliHarness.h"

#include <OpenImageIO/imageio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace clitest {

namespace fs = std::filesystem;

namespace {

OIIO::TypeDesc TypeOf(const std::string& format) {
  if (format == "uint16") return OIIO::TypeDesc::UINT16;
  if (format == "float") return OIIO::TypeDesc::FLOAT;
  return OIIO::TypeDesc::UINT8;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

void WriteFile(const fs::path& path, const FileImage& image) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << OIIO::geterror();
  const OIIO::TypeDesc type = TypeOf(image.format);
  OIIO::ImageSpec spec(image.width, image.height, image.channels, type);
  if (image.channels == 4 || image.channels == 2) {
    spec.alpha_channel = image.channels - 1;
    spec.attribute("oiio:UnassociatedAlpha", 1);
  }
  std::vector<unsigned char> bytes(image.values.size() * type.size());
  for (size_t i = 0; i < image.values.size(); ++i) {
    if (image.format == "uint8") bytes[i] = static_cast<unsigned char>(image.values[i]);
    if (image.format == "uint16")
      reinterpret_cast<uint16_t*>(bytes.data())[i] = static_cast<uint16_t>(image.values[i]);
    if (image.format == "float")
      reinterpret_cast<float*>(bytes.data())[i] = static_cast<float>(image.values[i]);
  }
  ASSERT_TRUE(out->open(path.string(), spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(type, bytes.data())) << out->geterror();
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
  const OIIO::ImageSpec& spec = in->spec();
  const std::string format = spec.format == OIIO::TypeDesc::UINT8    ? "uint8"
                             : spec.format == OIIO::TypeDesc::UINT16 ? "uint16"
                                                                     : "float";
  FileImage image(spec.width, spec.height, spec.nchannels, format);
  const OIIO::TypeDesc type = TypeOf(format);
  std::vector<unsigned char> bytes(image.values.size() * type.size());
  EXPECT_TRUE(in->read_image(0, 0, 0, spec.nchannels, type, bytes.data())) << in->geterror();
  for (size_t i = 0; i < image.values.size(); ++i) {
    if (format == "uint8") image.values[i] = bytes[i];
    if (format == "uint16") image.values[i] = reinterpret_cast<const uint16_t*>(bytes.data())[i];
    if (format == "float") image.values[i] = reinterpret_cast<const float*>(bytes.data())[i];
  }
  return image;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Numbered(const std::string& prefix, int n, const std::string& suffix) {
  std::string name = prefix;
  name += std::to_string(n);
  name += suffix;
  return name;
}

std::string FirstDifference(const FileImage& a, const FileImage& b) {
  std::ostringstream text;
  if (a.width != b.width || a.height != b.height || a.channels != b.channels ||
      a.format != b.format) {
    text << "shape " << a.width << "x" << a.height << "x" << a.channels << " " << a.format << " vs "
         << b.width << "x" << b.height << "x" << b.channels << " " << b.format;
    return text.str();
  }
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      for (int c = 0; c < a.channels; ++c) {
        if (a.At(x, y, c) != b.At(x, y, c)) {
          text << "first difference at (" << x << ", " << y << ") channel " << c << ": "
               << a.At(x, y, c) << " vs " << b.At(x, y, c);
          return text.str();
        }
      }
    }
  }
  return "";
}

std::pair<int, int> LitExtent(const FileImage& image) {
  int left = image.width, right = -1, top = image.height, bottom = -1;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.At(x, y, 0) > 0) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
    }
  }
  return {std::max(0, right - left + 1), std::max(0, bottom - top + 1)};
}

int RunResult::ErrLines() const {
  return static_cast<int>(std::count(err.begin(), err.end(), '\n'));
}

void CliTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  std::string folder = "qb-cli-";
  folder += std::to_string(::getpid());
  folder += '-';
  folder += name;
  dir = fs::temp_directory_path() / folder;
  fs::remove_all(dir);
  fs::create_directories(dir);
}

void CliTest::TearDown() {
  if (!HasFailure()) fs::remove_all(dir);
}

RunResult CliTest::Run(const std::vector<std::string>& args, bool terminal) const {
  const fs::path out = dir.parent_path() / (dir.filename().string() + ".stdout");
  const fs::path err = dir.parent_path() / (dir.filename().string() + ".stderr");
  std::string program = Quote(QB_BINARY_DIR "/quorvant-blur");
  for (const std::string& arg : args) {
    program += ' ';
    program += Quote(arg);
  }
  std::string command = "cd ";
  command += Quote(dir.string());
  command += " && ";
  if (terminal) {
    command += "script -qec ";
    command += Quote(program);
    command += " /dev/null";
  } else {
    command += program;
  }
  command += " >";
  command += Quote(out.string());
  command += " 2>";
  command += Quote(err.string());
  command += " </dev/null";
  RunResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = Slurp(out);
  result.err = Slurp(err);
  fs::remove(out);
  fs::remove(err);
  return result;
}

FileImage CliTest::Render(const std::string& output, std::vector<std::string> args) const {
  args.insert(args.end(), {"-o", output});
  const RunResult result = Run(args);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  if (result.status != 0) return {};
  return ReadFile(Path(output));
}

std::vector<std::string> CliTest::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace clitest
