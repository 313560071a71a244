// Runs the real quorvant-blur executable on image files written by the tests.
//
// FileImage keeps values exactly as stored in the file (0..255, 0..65535 or
// float), channels in file order (red, green, blue[, alpha]), rows top to
// bottom; alpha is straight.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace clitest {

struct FileImage {
  int width = 0, height = 0, channels = 4;
  std::string format = "uint8";  // "uint8", "uint16", "float"; "half" to write
  std::vector<double> values;

  FileImage() = default;
  FileImage(int w, int h, int c, std::string fmt, double fill = 0)
      : width(w), height(h), channels(c), format(std::move(fmt)), values(size_t(w) * h * c, fill) {}
  double& At(int x, int y, int c) { return values[(size_t(y) * width + x) * channels + c]; }
  double At(int x, int y, int c) const { return values[(size_t(y) * width + x) * channels + c]; }
};

// Opaque black, four channels.
FileImage Black(int width, int height, const std::string& format);
void WriteFile(const std::filesystem::path& path, const FileImage& image);
FileImage ReadFile(const std::filesystem::path& path);
std::string Slurp(const std::filesystem::path& path);

// The first (x, y, channel) where the images differ, with both values; ""
// when they are equal.
std::string FirstDifference(const FileImage& a, const FileImage& b);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Each test works in a fresh folder, kept when the test fails.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path Path(const std::string& name) const { return dir / name; }
  // `line` goes to the shell as it is: arguments separated by blanks.
  RunResult Run(const std::string& line) const;
  // Any command line, run the same way.
  RunResult Shell(const std::string& line) const;
  // Runs with "-o output" appended, expects success and nothing on stderr.
  FileImage Render(const std::string& output, const std::string& line) const;
  // Names in the folder, sorted.
  std::vector<std::string> Entries() const;

  std::filesystem::path dir;
};

}  // namespace clitest
