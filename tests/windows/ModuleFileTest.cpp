// Static checks of the two cross-built Windows modules, read as files: what
// a Windows host's loader and its plug-in scan would see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "WindowsModules.h"
#include "shell/EffectIdentity.h"
#include "shell/EntryPoint.h"
#include "softhost/SoftHost.h"
#include "tools/pe/PeFile.h"
#include "tools/pipl/PiplReader.h"

namespace {

struct Target {
  const char* label;
  std::string (*path)();
  uint16_t machine;
  bool pe32Plus;
  const char* entryKey;
};

const Target kTargets[] = {
    {"i686", wintest::Module32, pe::kMachineI386, false, "wx86"},
    {"x86_64", wintest::Module64, pe::kMachineAmd64, true, "8664"},
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

std::vector<uint8_t> Code(const char* code) {
  return {uint8_t(code[3]), uint8_t(code[2]), uint8_t(code[1]), uint8_t(code[0])};
}
std::vector<uint8_t> Le(uint32_t v, int bytes) {
  std::vector<uint8_t> out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return out;
}
std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::vector<uint8_t> Padded(std::vector<uint8_t> v) {
  while (v.size() % 4 != 0) v.push_back(0);
  return v;
}
std::vector<uint8_t> Pascal(const std::string& s) {
  return Padded(Join({static_cast<uint8_t>(s.size())}, std::vector<uint8_t>(s.begin(), s.end())));
}

// Version and flags must be what global setup reports, or the host refuses
// the effect; the texts are the effect's own constants.
TEST_P(ModuleFile, CarriesThePiplOfTheEffect) {
  softhost::Host host;
  ASSERT_EQ(host.Call(EffectMain, PF_Cmd_GLOBAL_SETUP), PF_Err_NONE);
  const uint32_t version = host.OutData()->my_version;
  const uint32_t flags = static_cast<uint32_t>(host.OutData()->out_flags);
  namespace id = EffectIdentity;
  const std::string entry = id::kEntryPointName;

  struct Expected {
    std::string key;
    uint32_t length;
    std::vector<uint8_t> data;  // padding included
  };
  const Expected expected[] = {
      {"kind", 4, Code("eFKT")},
      {"name", 16, Pascal(id::kName)},
      {"catg", 12, Pascal(id::kCategory)},
      {GetParam().entryKey, 8, Padded(Join(std::vector<uint8_t>(entry.begin(), entry.end()), {0}))},
      {"ePVR", 4, Join(Le(id::kPiPLVersionMajor, 2), Le(id::kPiPLVersionMinor, 2))},
      {"eSVR", 4, Join(Le(id::kSpecVersionMajor, 2), Le(id::kSpecVersionMinor, 2))},
      {"eVER", 4, Le(version, 4)},
      {"eINF", 2, Le(static_cast<uint32_t>(id::kInfoFlags), 4)},
      {"eGLO", 4, Le(flags, 4)},
      {"eMNA", 16, Pascal(id::kMatchName)},
      {"aeFL", 4, Le(static_cast<uint32_t>(id::kAEEffectFlags), 4)},
  };

  const pe::PeFile file(GetParam().path());
  const pipl::PropertyList list =
      pipl::ReadPipl(file.NamedTypeResource("PIPL", static_cast<uint32_t>(id::kPiPLResourceId)));
  EXPECT_EQ(list.word, 1);
  EXPECT_EQ(list.version, 0u);
  ASSERT_EQ(list.properties.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
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

}  // namespace
