// A small reader of Windows PE files (DLLs and programs, 32- and 64-bit),
// enough to check a built module from Linux: machine type, characteristics,
// exported names, imported DLLs and custom resources.
//
// The whole file is held in memory. Offsets into it are file offsets;
// addresses inside the image are RVAs (relative to the image base) and are
// mapped to file offsets through the section table. Every read is bounds
// checked: a truncated or malformed file throws std::runtime_error.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pe {

inline constexpr uint16_t kMachineI386 = 0x014c;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kCharacteristicDll = 0x2000;

class PeFile {
 public:
  explicit PeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    Parse();
  }
  explicit PeFile(std::vector<uint8_t> data) : bytes(std::move(data)) { Parse(); }

  uint16_t Machine() const { return machine; }
  uint16_t Characteristics() const { return characteristics; }
  bool IsPe32Plus() const { return pe32Plus; }

  std::vector<std::string> ExportNames() const {
    std::vector<std::string> names;
    const Directory dir = DataDirectory(0);
    if (dir.size == 0) return names;
    const size_t at = Offset(dir.rva);
    const uint32_t count = U32(at + 24);
    const size_t table = Offset(U32(at + 32));
    for (uint32_t i = 0; i < count; ++i) names.push_back(CString(U32(table + 4 * i)));
    return names;
  }

  // Number of entries in the export address table, named or not.
  uint32_t ExportedFunctionCount() const {
    const Directory dir = DataDirectory(0);
    return dir.size == 0 ? 0 : U32(Offset(dir.rva) + 20);
  }

  // DLL names of the ordinary and the delay-loaded imports, as written.
  std::vector<std::string> ImportedDlls() const {
    std::vector<std::string> dlls;
    if (const Directory dir = DataDirectory(1); dir.size != 0) {
      for (size_t at = Offset(dir.rva);; at += 20) {
        const uint32_t name = U32(at + 12);
        if (name == 0 && U32(at + 16) == 0) break;
        dlls.push_back(CString(name));
      }
    }
    if (const Directory dir = DataDirectory(13); dir.size != 0) {
      for (size_t at = Offset(dir.rva);; at += 32) {
        const uint32_t name = U32(at + 4);
        if (name == 0) break;
        dlls.push_back(CString(name));
      }
    }
    return dlls;
  }

  // The data of the first language of resource `id` of the named type
  // `type` (names compare exactly; resource compilers upper-case them).
  // Throws when there is no such resource.
  std::vector<uint8_t> NamedTypeResource(const std::string& type, uint32_t id) const {
    const Directory dir = DataDirectory(2);
    if (dir.size == 0) throw std::runtime_error("no resource section");
    const size_t base = Offset(dir.rva);
    const uint32_t types = FindEntry(base, [&](uint32_t name) {
      return (name & 0x80000000U) != 0 && ResourceName(base + (name & 0x7fffffffU)) == type;
    });
    const uint32_t ids =
        FindEntry(Subdirectory(base, types), [&](uint32_t name) { return name == id; });
    const uint32_t language = FindEntry(Subdirectory(base, ids), [](uint32_t) { return true; });
    if ((language & 0x80000000U) != 0) throw std::runtime_error("malformed resource tree");
    const size_t entry = base + language;
    const size_t data = Offset(U32(entry));
    const uint32_t size = U32(entry + 4);
    Need(data, size);
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(data),
                                bytes.begin() + static_cast<std::ptrdiff_t>(data + size));
  }

 private:
  struct Directory {
    uint32_t rva = 0;
    uint32_t size = 0;
  };
  struct Section {
    uint32_t rva, virtualSize, rawOffset, rawSize;
  };

  void Need(size_t at, size_t n) const {
    if (at > bytes.size() || n > bytes.size() - at) throw std::runtime_error("PE file truncated");
  }
  uint16_t U16(size_t at) const {
    Need(at, 2);
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
  }
  uint32_t U32(size_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }

  void Parse() {
    if (U16(0) != 0x5a4d) throw std::runtime_error("no MZ header");
    const size_t pe = U32(0x3c);
    if (U32(pe) != 0x00004550) throw std::runtime_error("no PE signature");
    machine = U16(pe + 4);
    const uint16_t sectionCount = U16(pe + 6);
    const uint16_t optionalSize = U16(pe + 20);
    characteristics = U16(pe + 22);
    const size_t optional = pe + 24;
    const uint16_t magic = U16(optional);
    if (magic != 0x10b && magic != 0x20b) throw std::runtime_error("unknown optional header");
    pe32Plus = magic == 0x20b;
    directoryCount = U32(optional + (pe32Plus ? 108 : 92));
    directories = optional + (pe32Plus ? 112 : 96);
    for (size_t s = optional + optionalSize, i = 0; i < sectionCount; ++i, s += 40) {
      sections.push_back(Section{U32(s + 12), U32(s + 8), U32(s + 20), U32(s + 16)});
    }
  }

  Directory DataDirectory(uint32_t index) const {
    if (index >= directoryCount) return {};
    return Directory{U32(directories + 8 * index), U32(directories + 8 * index + 4)};
  }

  size_t Offset(uint32_t rva) const {
    for (const Section& s : sections) {
      const uint32_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva >= s.rva && rva - s.rva < extent) {
        if (rva - s.rva >= s.rawSize) break;
        return s.rawOffset + (rva - s.rva);
      }
    }
    throw std::runtime_error("address outside the file's sections");
  }

  std::string CString(uint32_t rva) const {
    std::string s;
    for (size_t at = Offset(rva);; ++at) {
      Need(at, 1);
      if (bytes[at] == 0) return s;
      s += static_cast<char>(bytes[at]);
    }
  }

  // A resource name: a 16-bit length then UTF-16 units; only ASCII is kept.
  std::string ResourceName(size_t at) const {
    std::string s;
    const uint16_t length = U16(at);
    for (uint16_t i = 0; i < length; ++i) {
      const uint16_t unit = U16(at + 2 + 2 * i);
      s += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return s;
  }

  // The offset field (relative to the resource base) of the first entry of
  // the resource directory at `dir` whose name field satisfies `match`.
  template <typename Match>
  uint32_t FindEntry(size_t dir, Match match) const {
    const uint32_t count = static_cast<uint32_t>(U16(dir + 12)) + U16(dir + 14);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = dir + 16 + 8 * i;
      if (match(U32(entry))) return U32(entry + 4);
    }
    throw std::runtime_error("resource not found");
  }

  static size_t Subdirectory(size_t base, uint32_t field) {
    if ((field & 0x80000000U) == 0) throw std::runtime_error("malformed resource tree");
    return base + (field & 0x7fffffffU);
  }

  std::vector<uint8_t> bytes;
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  bool pe32Plus = false;
  uint32_t directoryCount = 0;
  size_t directories = 0;
  std::vector<Section> sections;
};

}  // namespace pe
