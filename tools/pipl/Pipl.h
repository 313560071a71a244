// Builds the effect's plug-in property list (PiPL) resource bytes from the
// identity constants the entry point itself reports. Layout: a 16-bit 1, a
// 32-bit list version 0, a 32-bit property count, then properties of vendor
// '8BIM', key, id 0, data length and data padded to 4 bytes. Numbers are
// little-endian, four-character codes byte-reversed, strings as written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/EffectIdentity.h"

namespace pipl {

inline void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// 'kind' is stored as the bytes "dnik".
inline void PutCode(std::vector<uint8_t>& out, const char* code) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(code[i]));
}

class Builder {
 public:
  void Property(const char* key, const std::vector<uint8_t>& data, uint32_t lengthField) {
    PutCode(body, "8BIM");
    PutCode(body, key);
    Put32(body, 0);
    Put32(body, lengthField);
    body.insert(body.end(), data.begin(), data.end());
    while (body.size() % 4 != 0) body.push_back(0);
    ++count;
  }
  // One length byte then the characters; the length field holds the padded size.
  void PascalString(const char* key, const std::string& s) {
    std::vector<uint8_t> data{static_cast<uint8_t>(s.size())};
    data.insert(data.end(), s.begin(), s.end());
    while (data.size() % 4 != 0) data.push_back(0);
    Property(key, data, static_cast<uint32_t>(data.size()));
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out;
    Put16(out, 1);
    Put32(out, 0);
    Put32(out, count);
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

 private:
  std::vector<uint8_t> body;
  uint32_t count = 0;
};

// The identity of the module an entry-point key names: 32-bit code ("wx86")
// is the 12.x module, 64-bit code ("8664") the current one.
inline const EffectIdentity::GenerationIdentity& GenerationOf(const std::string& entryKey) {
  return entryKey == "8664" ? EffectIdentity::kCurrentModule : EffectIdentity::k12xModule;
}

// entryKey: "wx86" for 32-bit code, "8664" for 64-bit code.
inline std::vector<uint8_t> BuildEffectPipl(const char* entryKey) {
  namespace id = EffectIdentity;
  const id::GenerationIdentity& generation = GenerationOf(entryKey);
  Builder b;
  std::vector<uint8_t> v;
  PutCode(v, "eFKT");
  b.Property("kind", v, 4);
  b.PascalString("name", id::kName);
  b.PascalString("catg", id::kCategory);
  v.assign(id::kEntryPointName, id::kEntryPointName + sizeof id::kEntryPointName);
  while (v.size() % 4 != 0) v.push_back(0);
  b.Property(entryKey, v, static_cast<uint32_t>(v.size()));
  v.clear();
  Put16(v, static_cast<uint16_t>(id::kPiPLVersionMajor));
  Put16(v, static_cast<uint16_t>(id::kPiPLVersionMinor));
  b.Property("ePVR", v, 4);
  v.clear();
  Put16(v, static_cast<uint16_t>(generation.apiVersionMajor));
  Put16(v, static_cast<uint16_t>(generation.apiVersionMinor));
  b.Property("eSVR", v, 4);
  v.clear();
  Put32(v, id::kPackedVersion);
  b.Property("eVER", v, 4);
  v.clear();
  Put16(v, static_cast<uint16_t>(id::kInfoFlags));
  b.Property("eINF", v, 2);
  v.clear();
  Put32(v, static_cast<uint32_t>(id::kGlobalOutFlags));
  b.Property("eGLO", v, 4);
  if (generation.declaresOutFlags2) {
    v.clear();
    Put32(v, static_cast<uint32_t>(generation.globalOutFlags2));
    b.Property("eGL2", v, 4);
  }
  b.PascalString("eMNA", id::kMatchName);
  v.clear();
  Put32(v, static_cast<uint32_t>(id::kAEEffectFlags));
  b.Property("aeFL", v, 4);
  return b.Bytes();
}

}  // namespace pipl
