// The two cross-built Windows modules: static checks of the files, as a
// Windows host's loader and its plug-in scan see them, and the x86_64 module
// run under wine by the harness against the Linux module running the same
// session here (same transcript, same pixels). Each path comes from an
// environment variable or defaults to the build folders that test.sh uses. A
// missing file skips the test with the reason, unless QB_WINDOWS_REQUIRED=1
// (as test.sh sets) makes it a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "shell/EffectIdentity.h"
#include "shell/EntryPoint.h"
#include "softhost/SoftHost.h"
#include "tools/pe/PeFile.h"
#include "tools/pipl/PiplReader.h"
#include "winharness/Session.h"

namespace {

std::string PathFromEnv(const char* variable, const std::string& fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? value : fallback;
}
std::string Module32() {
  return PathFromEnv("QB_WIN32_MODULE", QB_SOURCE_DIR "/build-win32/QuorvantBlur.aex");
}
std::string Module64() {
  return PathFromEnv("QB_WIN64_MODULE", QB_SOURCE_DIR "/build-win64/QuorvantBlur.aex");
}

// Skips (or fails, when required) the current test if `path` does not exist.
#define QB_NEED_FILE(path, how)                                  \
  do {                                                           \
    if (!std::filesystem::exists(path)) {                        \
      const char* required = std::getenv("QB_WINDOWS_REQUIRED"); \
      if (required != nullptr && std::string(required) == "1")   \
        FAIL() << (path) << " is missing; " << (how);            \
      GTEST_SKIP() << (path) << " was not built; " << (how);     \
    }                                                            \
  } while (false)

struct Target {
  const char* label;
  std::string (*path)();
  uint16_t machine;
  bool pe32Plus;
  const char* entryKey;
  const EffectIdentity::GenerationIdentity* generation;
};

const Target kTargets[] = {
    {"i686", Module32, pe::kMachineI386, false, "wx86", &EffectIdentity::k12xModule},
    {"x86_64", Module64, pe::kMachineAmd64, true, "8664", &EffectIdentity::kCurrentModule},
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.label; }

constexpr const char* kHowToBuild = "cross-build it as test.sh does (README, \"Windows module\")";

class ModuleFile : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override { QB_NEED_FILE(GetParam().path(), kHowToBuild); }
};

// The C++ runtime and the thread library must be inside the module: a user's
// machine has only the system's DLLs.
TEST_P(ModuleFile, IsADllExportingOnlyMainAndImportingOnlySystemDlls) {
  const pe::PeFile file(GetParam().path());
  EXPECT_EQ(file.Machine(), GetParam().machine);
  EXPECT_EQ(file.IsPe32Plus(), GetParam().pe32Plus);
  EXPECT_NE(file.Characteristics() & pe::kCharacteristicDll, 0);
  EXPECT_EQ(file.ExportNames(), std::vector<std::string>{"main"});
  EXPECT_EQ(file.ExportedFunctionCount(), 1u);
  static const std::set<std::string> kSystem = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                                "advapi32.dll", "ntdll.dll",   "msvcrt.dll",
                                                "ucrtbase.dll", "shell32.dll", "ole32.dll"};
  const std::vector<std::string> dlls = file.ImportedDlls();
  EXPECT_FALSE(dlls.empty());
  for (std::string dll : dlls) {
    std::transform(dll.begin(), dll.end(), dll.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_TRUE(kSystem.count(dll) != 0 || dll.rfind("api-ms-win-", 0) == 0)
        << "imports from " << dll;
  }
}

std::vector<uint8_t> Le(uint32_t v, int bytes) {
  std::vector<uint8_t> out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}
// The bytes of `s`, zero-padded to a multiple of four.
std::vector<uint8_t> Padded(std::string s) {
  s.resize((s.size() + 3) / 4 * 4, '\0');
  return {s.begin(), s.end()};
}
std::vector<uint8_t> Pascal(const std::string& s) { return Padded(char(s.size()) + s); }
std::vector<uint8_t> Code(const std::string& code) { return Padded({code.rbegin(), code.rend()}); }

// Version and flags must be what global setup reports, or the host refuses
// the effect (this Linux build is of the current generation, as the x86_64
// module is; the i686 module's second flag word is 0 and not in its PiPL);
// the texts are the effect's own constants.
TEST_P(ModuleFile, CarriesThePiplOfTheEffect) {
  softhost::Host host;
  ASSERT_EQ(host.Call(EffectMain, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  const uint32_t version = host.OutData()->my_version;
  const uint32_t flags = static_cast<uint32_t>(host.OutData()->out_flags);
  const uint32_t flags2 = static_cast<uint32_t>(host.OutData()->out_flags2);
  const EffectIdentity::GenerationIdentity& generation = *GetParam().generation;
  namespace id = EffectIdentity;
  if (generation.declaresOutFlags2) {
    EXPECT_EQ(flags2, static_cast<uint32_t>(generation.globalOutFlags2));
    // Multi-frame rendering needs a declared effect API version of 13.25 or later.
    EXPECT_GE(generation.apiVersionMajor * 100 + generation.apiVersionMinor, 1325);
  } else {
    EXPECT_EQ(generation.globalOutFlags2, 0);
  }

  struct Expected {
    std::string key;
    uint32_t length;
    std::vector<uint8_t> data;  // padding included
  };
  std::vector<Expected> expected = {
      {"kind", 4, Code("eFKT")},
      {"name", 16, Pascal(id::kName)},
      {"catg", 12, Pascal(id::kCategory)},
      {GetParam().entryKey, 8, Padded(std::string(id::kEntryPointName) + '\0')},
      {"ePVR", 4, Le(id::kPiPLVersionMajor | id::kPiPLVersionMinor << 16, 4)},
      {"eSVR", 4,
       Le(static_cast<uint32_t>(generation.apiVersionMajor | generation.apiVersionMinor << 16), 4)},
      {"eVER", 4, Le(version, 4)},
      {"eINF", 2, Le(static_cast<uint32_t>(id::kInfoFlags), 4)},
      {"eGLO", 4, Le(flags, 4)},
      {"eMNA", 16, Pascal(id::kMatchName)},
      {"aeFL", 4, Le(static_cast<uint32_t>(id::kAEEffectFlags), 4)},
  };
  if (generation.declaresOutFlags2) {
    expected.insert(expected.begin() + 9, Expected{"eGL2", 4, Le(flags2, 4)});
  }

  const pe::PeFile file(GetParam().path());
  const pipl::PropertyList list =
      pipl::ReadPipl(file.NamedTypeResource("PIPL", static_cast<uint32_t>(id::kPiPLResourceId)));
  EXPECT_EQ(list.word, 1);
  EXPECT_EQ(list.version, 0u);
  ASSERT_EQ(list.properties.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const pipl::Property& p = list.properties[i];
    SCOPED_TRACE("property " + std::to_string(i + 1) + " '" + p.key + "'");
    EXPECT_EQ(p.vendor, "8BIM");
    EXPECT_EQ(p.key, expected[i].key);
    EXPECT_EQ(p.id, 0u);
    EXPECT_EQ(p.length, expected[i].length);
    EXPECT_EQ(p.data, expected[i].data);
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, ModuleFile, ::testing::ValuesIn(kTargets),
                         [](const auto& target) { return std::string(target.param.label); });

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sample `index` of a raw image of `bytes` bytes a sample, as an integer
// (a float's bit pattern).
int64_t Channel(const std::vector<uint8_t>& raw, size_t bytes, size_t index) {
  int64_t v = 0;
  for (size_t b = 0; b < bytes; ++b) v |= int64_t{raw[bytes * index + b]} << (8 * b);
  return v;
}

// Empty when equal; else the first differing (x, y, channel) with both values
// and the input pixel there.
std::string FirstDifference(int32_t bits, const std::vector<uint8_t>& windows,
                            const std::vector<uint8_t>& linux, softhost::SoftWorld& input) {
  const size_t sampleBytes = static_cast<size_t>(bits) / 8;
  const size_t bytes = 4 * sampleBytes * winharness::kWidth * winharness::kHeight;
  if (windows.size() != bytes || linux.size() != bytes) {
    return "sizes: windows " + std::to_string(windows.size()) + ", linux " +
           std::to_string(linux.size()) + ", expected " + std::to_string(bytes);
  }
  const size_t at =
      std::mismatch(windows.begin(), windows.end(), linux.begin()).first - windows.begin();
  if (at == bytes) return "";
  const size_t sample = at / sampleBytes, pixel = sample / 4 * 4;
  std::ostringstream s;
  s << "first difference at (" << pixel / 4 % winharness::kWidth << ", "
    << pixel / 4 / winharness::kWidth << ") channel " << sample % 4 << " (argb): windows "
    << Channel(windows, sampleBytes, sample) << ", linux " << Channel(linux, sampleBytes, sample)
    << "; input";
  const std::vector<uint8_t> in = winharness::RawPixels(input);
  for (size_t k = 0; k < 4; ++k) s << " " << Channel(in, sampleBytes, pixel + k);
  return s.str();
}

TEST(WineRun, MatchesTheLinuxModuleCommandForCommandAndPixelForPixel) {
  const std::string dir = PathFromEnv("QB_WINE_OUTPUT", QB_SOURCE_DIR "/build-win64/wine-out");
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
  softhost::SoftWorld input32(winharness::kWidth, winharness::kHeight, PixelFormat::ArgbFloat);
  winharness::MakeInput(input8);
  winharness::MakeInput(input16);
  winharness::MakeFloat(input16, input32, 6.0f);
  for (const winharness::Case& c : winharness::Cases()) {
    const std::vector<uint8_t>& mine = linux[c.name];
    EXPECT_NE(std::count_if(mine.begin(), mine.end(), [](uint8_t b) { return b != 0; }), 0)
        << c.name << " rendered nothing";
    EXPECT_EQ(FirstDifference(c.bits, ReadBytes(dir + "/" + c.name + ".raw"), mine,
                              c.bits == 32   ? input32
                              : c.bits == 16 ? input16
                                             : input8),
              "")
        << c.name;
  }
}

}  // namespace
