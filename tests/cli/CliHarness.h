// Runs the real quorvant-blur executable and reads and writes the image
// files it works on, for end-to-end tests.
//
// Files are written and read through OpenImageIO with straight alpha, and
// FileImage keeps the values exactly as stored (0..255, 0..65535 or float),
// channels in file order (red, green, blue[, alpha]), rows top to bottom.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace clitest {

struct FileImage {
  int width = 0;
  int height = 0;
  int channels = 4;
  std::string format = "uint8";  // "uint8", "uint16" or "float"
  std::vector<double> values;

  FileImage() = default;
  FileImage(int w, int h, int c, std::string fmt, double fill = 0)
      : width(w),
        height(h),
        channels(c),
        format(std::move(fmt)),
        values(static_cast<size_t>(w) * h * c, fill) {}
  double& At(int x, int y, int c) {
    return values[(static_cast<size_t>(y) * width + x) * channels + c];
  }
  double At(int x, int y, int c) const {
    return values[(static_cast<size_t>(y) * width + x) * channels + c];
  }
};

void WriteFile(const std::filesystem::path& path, const FileImage& image);
FileImage ReadFile(const std::filesystem::path& path);

// Arguments separated by blanks.
std::vector<std::string> Words(const std::string& text);

// prefix, n, suffix: a numbered file name.
std::string Numbered(const std::string& prefix, int n, const std::string& suffix);

// Where the two images first differ, with both values, or "" when equal.
std::string FirstDifference(const FileImage& a, const FileImage& b);

// Extent of the pixels whose red channel is above zero: {width, height}.
std::pair<int, int> LitExtent(const FileImage& image);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
  int ErrLines() const;
};

// A fresh folder per test and the way to run the program in it.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path Path(const std::string& name) const { return dir / name; }
  std::string File(const std::string& name) const { return Path(name).string(); }
  // On a terminal (through script(1)) stderr and stdout arrive together in
  // `out`.
  RunResult Run(const std::vector<std::string>& args, bool terminal = false) const;
  // Runs and expects success; returns the image written to `output`.
  FileImage Render(const std::string& output, std::vector<std::string> args) const;
  // The folder's entries, names only, sorted.
  std::vector<std::string> Entries() const;

  std::filesystem::path dir;
};

}  // namespace clitest
