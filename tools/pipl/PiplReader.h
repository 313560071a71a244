// Reads a plug-in property list (PiPL) back from its resource bytes, for the
// checks of a built module. The header is 10 bytes (a 16-bit word, a 32-bit
// list version, a 32-bit count), so properties are not 4-aligned: everything
// is read byte by byte, little-endian. A property is vendor code, key, id and
// data length, then the data; the next property starts after the length
// rounded up to 4. Four-character codes come back in reading order ("kind").
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pipl {

struct Property {
  std::string vendor;
  std::string key;
  uint32_t id = 0;
  uint32_t length = 0;        // the length field as stored
  std::vector<uint8_t> data;  // the stored bytes, padding included
};

struct PropertyList {
  uint16_t word = 0;
  uint32_t version = 0;
  std::vector<Property> properties;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& b) : bytes(b) {}

  uint32_t Number(size_t n) {
    Need(n);
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    at += n;
    return v;
  }
  std::string Code() {
    Need(4);
    const std::string code{static_cast<char>(bytes[at + 3]), static_cast<char>(bytes[at + 2]),
                           static_cast<char>(bytes[at + 1]), static_cast<char>(bytes[at])};
    at += 4;
    return code;
  }
  std::vector<uint8_t> Bytes(size_t n) {
    Need(n);
    std::vector<uint8_t> out(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    return out;
  }
  bool AtEnd() const { return at == bytes.size(); }

 private:
  void Need(size_t n) const {
    if (n > bytes.size() - at) throw std::runtime_error("PiPL truncated");
  }
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
};

// Throws std::runtime_error when the bytes end early or run past the last
// property.
inline PropertyList ReadPipl(const std::vector<uint8_t>& bytes) {
  Reader r(bytes);
  PropertyList list;
  list.word = static_cast<uint16_t>(r.Number(2));
  list.version = r.Number(4);
  const uint32_t count = r.Number(4);
  for (uint32_t i = 0; i < count; ++i) {
    Property p;
    p.vendor = r.Code();
    p.key = r.Code();
    p.id = r.Number(4);
    p.length = r.Number(4);
    p.data = r.Bytes((static_cast<size_t>(p.length) + 3) / 4 * 4);
    list.properties.push_back(p);
  }
  if (!r.AtEnd()) throw std::runtime_error("PiPL has bytes after its last property");
  return list;
}

}  // namespace pipl
