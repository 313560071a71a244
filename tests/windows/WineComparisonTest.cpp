// The x86_64 Windows module, run under wine by the harness, against the Linux
// module running the same session here: same transcript, same pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "WindowsModules.h"
#include "softhost/SoftHost.h"
#include "winharness/Session.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int32_t Channel(const std::vector<uint8_t>& raw, bool deep, size_t index) {
  return deep ? raw[2 * index] | raw[2 * index + 1] << 8 : raw[index];
}

// Empty when equal; else the first differing (x, y, channel) with both values
// and the input pixel there.
std::string FirstDifference(const winharness::Case& c, const std::vector<uint8_t>& windows,
                            const std::vector<uint8_t>& linux, softhost::SoftWorld& input) {
  static const char* const kChannel[] = {"alpha", "red", "green", "blue"};
  const size_t perPixel = c.deep ? 8 : 4;
  const size_t expected = perPixel * winharness::kWidth * winharness::kHeight;
  if (windows.size() != expected || linux.size() != expected) {
    return "sizes differ: windows " + std::to_string(windows.size()) + ", linux " +
           std::to_string(linux.size()) + ", expected " + std::to_string(expected);
  }
  const std::vector<uint8_t> in = winharness::RawPixels(input);
  for (int32_t y = 0; y < winharness::kHeight; ++y) {
    for (int32_t x = 0; x < winharness::kWidth; ++x) {
      const size_t pixel = static_cast<size_t>(y * winharness::kWidth + x) * 4;
      for (size_t ch = 0; ch < 4; ++ch) {
        const int32_t w = Channel(windows, c.deep, pixel + ch);
        const int32_t l = Channel(linux, c.deep, pixel + ch);
        if (w == l) continue;
        std::ostringstream s;
        s << "first difference at (" << x << ", " << y << ") " << kChannel[ch] << ": windows " << w
          << ", linux " << l << "; input argb";
        for (size_t k = 0; k < 4; ++k) s << " " << Channel(in, c.deep, pixel + k);
        return s.str();
      }
    }
  }
  return "";
}

TEST(WineRun, MatchesTheLinuxModuleCommandForCommandAndPixelForPixel) {
  const std::string dir = wintest::WineOutput();
  QB_NEED_FILE(dir + "/session.txt", "run build-win64/winharness.exe under wine64 as test.sh does");

  softhost::EffectModule module(QB_MODULE_PATH);
  std::map<std::string, std::vector<uint8_t>> linux;
  const std::string transcript = winharness::RunSession(
      module.Entry(),
      [&](const winharness::Case& c, const std::vector<uint8_t>& raw) { linux[c.name] = raw; });

  std::istringstream lines(transcript);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.find(": err 0 "), std::string::npos) << line;
  }
  const std::vector<uint8_t> log = ReadBytes(dir + "/session.txt");
  EXPECT_EQ(std::string(log.begin(), log.end()), transcript);

  softhost::SoftWorld input8(winharness::kWidth, winharness::kHeight, false);
  softhost::SoftWorld input16(winharness::kWidth, winharness::kHeight, true);
  winharness::MakeInput(input8);
  winharness::MakeInput(input16);
  for (const winharness::Case& c : winharness::Cases()) {
    const std::vector<uint8_t>& mine = linux[c.name];
    EXPECT_NE(std::count_if(mine.begin(), mine.end(), [](uint8_t b) { return b != 0; }), 0)
        << c.name << " rendered nothing";
    EXPECT_EQ(
        FirstDifference(c, ReadBytes(dir + "/" + c.name + ".raw"), mine, c.deep ? input16 : input8),
        "")
        << c.name;
  }
}

}  // namespace
