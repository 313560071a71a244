#include "cli/ImageIO.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "hostapi/PluginApi.h"

namespace qbcli {

namespace fs = std::filesystem;

namespace {

enum class FileKind { Unknown, Png, Tiff, Exr, Jpeg };

// The largest side a host world can have: a coordinate of the generation's
// host rectangle (32767 in the 12.x layout), and a row of 16-bit pixels
// whose byte count (rowbytes, with the host's padding) fits an A_long.
constexpr int64_t kMaxSide =
    std::min<int64_t>(std::numeric_limits<PF_RectCoord>::max(),
                      (std::numeric_limits<A_long>::max() - 64) / int64_t{sizeof(PF_Pixel16)});

FileKind KindOf(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".png") return FileKind::Png;
  if (ext == ".tif" || ext == ".tiff") return FileKind::Tiff;
  if (ext == ".exr") return FileKind::Exr;
  if (ext == ".jpg" || ext == ".jpeg") return FileKind::Jpeg;
  return FileKind::Unknown;
}

uint16_t From16(uint16_t p) { return static_cast<uint16_t>((p * 32768u + 32767u) / 65535u); }
uint16_t To16(uint16_t v) {
  return v >= 32768 ? 65535 : static_cast<uint16_t>((v * 65535u + 16384u) >> 15);
}
uint16_t To8(uint16_t v) { return static_cast<uint16_t>((v * 255u + 16384u) >> 15); }
float LimitAlpha(float a) {
  if (!(a > 0.0f)) return 0.0f;  // NaN too
  return a < 1.0f ? a : 1.0f;
}

// A float sample into a file of `full` steps.
template <typename Sample>
Sample Quantize(float f, double full, size_t& clamped) {
  if (!(f >= 0.0f && f <= 1.0f)) {
    ++clamped;
    f = f > 1.0f ? 1.0f : 0.0f;
  }
  return static_cast<Sample>(std::lround(static_cast<double>(f) * full));
}

// Which file channel feeds alpha, red, green, blue; -1 for alpha means opaque.
struct ChannelMap {
  int source[4];
};

ChannelMap MapChannels(const OIIO::ImageSpec& spec) {
  const int n = spec.nchannels;
  int alpha = spec.alpha_channel;
  if (n < 3) {
    if (alpha < 0 && n == 2) alpha = 1;
    return {{alpha, 0, 0, 0}};
  }
  if (alpha < 0 && n >= 4) alpha = 3;
  return {{alpha, 0, 1, 2}};
}

[[noreturn]] void ReadFailure(const std::string& path, const std::string& why) {
  std::string reason = why;
  if (const size_t nl = reason.find('\n'); nl != std::string::npos) reason.resize(nl);
  throw std::runtime_error("cannot read " + path + (reason.empty() ? "" : ": " + reason));
}

// A JPEG's Photoshop block (APP13) as OpenImageIO 2.4 reads it: it takes
// the IPTC record's size from the block's own header and trusts it, reading
// past the segment (and past libjpeg's copy of it) when the size is larger.
// Describes the first such segment of the file; empty when there is none.
std::string OversizedIptc(const std::vector<unsigned char>& file) {
  constexpr char kSignature[] = "Photoshop 3.0";                  // with its NUL: 14 bytes
  constexpr size_t kHeader = sizeof(kSignature) + 4 + 2 + 4 + 2;  // "8BIM", type, pad, size
  const size_t n = file.size();
  if (n < 2 || file[0] != 0xFF || file[1] != 0xD8) return {};
  size_t at = 2;
  while (at + 1 < n) {
    if (file[at] != 0xFF) {
      ++at;  // entropy-coded data, or a stray byte libjpeg skips as well
      continue;
    }
    const unsigned char marker = file[at + 1];
    // Fill bytes, stuffed zeros and restart markers carry no segment.
    if (marker == 0xFF || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      at += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == 0xD9 || at + 3 >= n) return {};
    const size_t length = (size_t{file[at + 2]} << 8) | file[at + 3];
    if (length < 2) return {};
    const size_t payload = at + 4;
    const size_t size = std::min(length - 2, n - payload);
    if (marker == 0xED) {
      const unsigned char* p = file.data() + payload;
      // strcmp against the signature runs on while the bytes agree.
      const size_t agree = std::min(size, sizeof(kSignature));
      if (std::memcmp(p, kSignature, agree) == 0) {
        if (size < kHeader) return "a Photoshop block shorter than its header";
        if (std::memcmp(p + sizeof(kSignature), "8BIM\x04\x04", 6) == 0) {
          const size_t declared = (size_t{p[kHeader - 2]} << 8) | p[kHeader - 1];
          if (kHeader + declared > size) return "IPTC metadata larger than its segment";
        }
      }
    }
    at = payload + length - 2;
  }
  return {};
}

// An OpenEXR header as Debian's OpenEXR 3.1 reads it: it allocates each
// attribute's value at the size the attribute gives, so a few bytes can ask
// for gigabytes. Describes the first attribute (of any part's header) larger
// than what the file holds after it; empty when there is none, or where the
// header is cut short, which the library reports itself.
std::string OversizedExrAttribute(std::ifstream& in, uint64_t fileSize) {
  auto word = [&](uint32_t& value) {
    unsigned char b[4] = {};
    in.read(reinterpret_cast<char*>(b), 4);
    value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    return in.gcount() == 4;
  };
  // Names and type names hold at most 255 characters.
  auto text = [&](std::string& value) {
    value.clear();
    for (char c = 0; in.get(c) && c != '\0';) {
      if (value.size() >= 255) return false;
      value.push_back(c);
    }
    return static_cast<bool>(in);
  };
  uint32_t magic = 0;
  uint32_t version = 0;
  if (!word(magic) || magic != 20000630 || !word(version)) return {};
  const bool multipart = (version & 0x1000) != 0;
  std::string name;
  std::string type;
  // Each header is attributes up to an empty name; a multi-part file's
  // headers end with an empty header.
  for (;;) {
    if (!text(name) || name.empty()) return {};
    do {
      uint32_t size = 0;
      if (!text(type) || !word(size)) return {};
      const auto at = static_cast<uint64_t>(in.tellg());
      if (size > INT32_MAX || at > fileSize || size > fileSize - at) {
        return "the attribute " + name + " larger than the file";
      }
      in.seekg(static_cast<std::streamoff>(size), std::ios::cur);
      if (!text(name)) return {};
    } while (!name.empty());
    if (!multipart) return {};
  }
}

// A PNG's chunks as libpng reads them under OpenImageIO: a chunk's buffer
// is allocated at the length the chunk gives before its bytes are read, so
// a few bytes can ask for gigabytes. Describes the first chunk longer than
// what the file holds after its header; empty when there is none.
std::string OversizedPngChunk(std::ifstream& in, uint64_t fileSize) {
  in.seekg(8);  // the signature
  for (uint64_t at = 8; at + 8 <= fileSize;) {
    unsigned char header[8] = {};
    in.read(reinterpret_cast<char*>(header), 8);
    if (in.gcount() != 8) return {};
    const uint64_t length = uint64_t{header[0]} << 24 | uint64_t{header[1]} << 16 |
                            uint64_t{header[2]} << 8 | header[3];
    const std::string type(reinterpret_cast<const char*>(header + 4), 4);
    // Data and the four bytes of its checksum.
    if (length + 4 > fileSize - at - 8) return "the chunk " + type + " longer than the file";
    if (type == "IEND") return {};
    at += 8 + length + 4;
    in.seekg(static_cast<std::streamoff>(at));
  }
  return {};
}

// Faults in a file that Debian's OpenImageIO or the libraries under it
// cannot be trusted with, refused before the library opens the file. It
// picks its reader by content as well as by extension, so the file's first
// bytes say which check applies.
void RefuseKnownReaderFaults(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;  // OpenImageIO says why
  unsigned char magic[4] = {};
  in.read(reinterpret_cast<char*>(magic), 4);
  if (in.gcount() < 2) return;
  in.clear();
  in.seekg(0);
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec) return;
  if (magic[0] == 0xFF && magic[1] == 0xD8) {
    const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    if (const std::string fault = OversizedIptc(file); !fault.empty()) {
      ReadFailure(path, "a damaged JPEG: " + fault);
    }
  } else if (magic[0] == 0x76 && magic[1] == 0x2F && magic[2] == 0x31 && magic[3] == 0x01) {
    if (const std::string fault = OversizedExrAttribute(in, size); !fault.empty()) {
      ReadFailure(path, "a damaged OpenEXR file: " + fault);
    }
  } else if (magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') {
    if (const std::string fault = OversizedPngChunk(in, size); !fault.empty()) {
      ReadFailure(path, "a damaged PNG: " + fault);
    }
  }
}

}  // namespace

void CheckReadable(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) ReadFailure(path, "no such file");
  RefuseKnownReaderFaults(path);
}

ReadResult ReadImage(const std::string& path, std::optional<Depth> depth) {
  CheckReadable(path);
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) ReadFailure(path, OIIO::geterror());
  const OIIO::ImageSpec& spec = in->spec();
  if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0 || spec.depth > 1) {
    ReadFailure(path, "not a two-dimensional image");
  }
  if (spec.width > kMaxSide || spec.height > kMaxSide) {
    ReadFailure(path, "larger than " + std::to_string(kMaxSide) + " pixels");
  }
  // A header of a few bytes can declare gigapixels: refuse what the decoded
  // samples and our copies could not fit in this machine's memory, rather
  // than letting the allocation run into the out-of-memory killer.
  const double needed = static_cast<double>(spec.width) * spec.height *
                        (static_cast<double>(spec.nchannels) + 8) * sizeof(float);
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && pageSize > 0 && needed > static_cast<double>(pages) * pageSize) {
    ReadFailure(path, "too large for this machine's memory");
  }

  ReadResult result;
  const auto basetype = static_cast<OIIO::TypeDesc::BASETYPE>(spec.format.basetype);
  if (basetype == OIIO::TypeDesc::UINT8) {
    result.samples = Depth::Bits8;
  } else if (basetype == OIIO::TypeDesc::UINT16) {
    result.samples = Depth::Bits16;
  } else {
    result.samples = Depth::Float;
  }
  const Depth wanted = depth.value_or(result.samples);

  const int n = spec.nchannels;
  const size_t count = static_cast<size_t>(spec.width) * spec.height * n;
  const ChannelMap map = MapChannels(spec);
  // A 16-bit file promotes to float from its own values; every other change
  // of depth goes through the image at the file's depth.
  const bool promote16 = result.samples == Depth::Bits16 && wanted == Depth::Float;
  Image& image = result.image;
  image = Image(spec.width, spec.height, promote16 ? Depth::Float : result.samples);
  auto fill = [&](auto* argb, auto opaque, auto&& value) {
    const size_t pixels = static_cast<size_t>(image.width) * image.height;
    for (size_t i = 0; i < pixels; ++i) {
      for (int c = 0; c < 4; ++c) {
        argb[i * 4 + c] = map.source[c] < 0 ? opaque : value(i * n + map.source[c], c);
      }
    }
  };
  bool ok = false;
  if (result.samples == Depth::Float) {
    std::vector<float> pixels(count);
    ok = in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data());
    if (ok) {
      fill(image.argbFloat.data(), 1.0f,
           [&](size_t i, int c) { return c == 0 ? LimitAlpha(pixels[i]) : pixels[i]; });
    }
  } else if (result.samples == Depth::Bits16) {
    std::vector<uint16_t> pixels(count);
    ok = in->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT16, pixels.data());
    if (ok && promote16) {
      fill(image.argbFloat.data(), 1.0f,
           [&](size_t i, int) { return static_cast<float>(pixels[i]) / 65535.0f; });
    } else if (ok) {
      fill(image.argb.data(), image.Full(), [&](size_t i, int) { return From16(pixels[i]); });
    }
  } else {
    std::vector<uint8_t> pixels(count);
    ok = in->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT8, pixels.data());
    if (ok) {
      fill(image.argb.data(), image.Full(),
           [&](size_t i, int) { return static_cast<uint16_t>(pixels[i]); });
    }
  }
  if (!ok) ReadFailure(path, in->geterror());
  if (image.depth != wanted) image = ToDepth(image, wanted);
  return result;
}

bool IsWritableFormat(const std::string& path) { return KindOf(path) != FileKind::Unknown; }

Narrowing WriteImage(const std::string& path, const Image& image) {
  const FileKind kind = KindOf(path);
  if (kind == FileKind::Unknown)
    throw std::runtime_error("cannot write " + path + ": unknown format");
  const bool alpha = kind != FileKind::Jpeg;
  const int n = alpha ? 4 : 3;
  const size_t pixelCount = static_cast<size_t>(image.width) * image.height;

  OIIO::TypeDesc type = OIIO::TypeDesc::UINT8;
  std::vector<uint8_t> bytes;
  std::vector<uint16_t> words;
  std::vector<float> floats;
  const void* data = nullptr;
  // File channel order is red, green, blue[, alpha]; ours is alpha first.
  auto pack = [&](auto& buffer, const auto& argb, auto&& convert) {
    buffer.resize(pixelCount * n);
    for (size_t i = 0; i < pixelCount; ++i) {
      const auto* p = &argb[i * 4];
      for (int c = 0; c < 3; ++c) buffer[i * n + c] = convert(p[c + 1]);
      if (alpha) buffer[i * n + 3] = convert(p[0]);
    }
    data = buffer.data();
  };
  Narrowing narrowing;
  if (image.IsFloat() && (kind == FileKind::Exr || kind == FileKind::Tiff)) {
    type = OIIO::TypeDesc::FLOAT;
    pack(floats, image.argbFloat, [](float v) { return v; });
  } else if (image.IsFloat() && kind == FileKind::Png) {
    type = OIIO::TypeDesc::UINT16;
    narrowing.fileBits = 16;
    pack(words, image.argbFloat,
         [&](float v) { return Quantize<uint16_t>(v, 65535.0, narrowing.clamped); });
  } else if (image.IsFloat()) {
    narrowing.fileBits = 8;
    pack(bytes, image.argbFloat,
         [&](float v) { return Quantize<uint8_t>(v, 255.0, narrowing.clamped); });
  } else if (kind == FileKind::Exr) {
    type = OIIO::TypeDesc::FLOAT;
    const float full = image.Full();
    pack(floats, image.argb, [&](uint16_t v) { return static_cast<float>(v) / full; });
  } else if (image.depth == Depth::Bits16 && kind != FileKind::Jpeg) {
    type = OIIO::TypeDesc::UINT16;
    pack(words, image.argb, To16);
  } else if (image.depth == Depth::Bits16) {
    pack(bytes, image.argb, [](uint16_t v) { return static_cast<uint8_t>(To8(v)); });
  } else {
    pack(bytes, image.argb, [](uint16_t v) { return static_cast<uint8_t>(v); });
  }

  OIIO::ImageSpec spec(image.width, image.height, n, type);
  if (alpha) {
    spec.alpha_channel = 3;
    spec.attribute("oiio:UnassociatedAlpha", 1);
  }
  if (kind == FileKind::Jpeg) spec.attribute("CompressionQuality", 95);

  const fs::path target(path);
  // Hidden, next to the target (so the rename stays on one file system),
  // keeping the extension for writers that look at it.
  std::string tempName(".");
  tempName += target.stem().string();
  tempName += ".tmp";
  tempName += std::to_string(::getpid());
  tempName += target.extension().string();
  const fs::path temp = target.parent_path() / tempName;
  std::error_code ec;
  if (const fs::path folder = target.parent_path();
      !folder.empty() && !fs::is_directory(folder, ec)) {
    throw std::runtime_error("cannot write " + path + ": no folder " + folder.string());
  }
  auto out = OIIO::ImageOutput::create(path);
  if (!out) throw std::runtime_error("cannot write " + path + ": " + OIIO::geterror());
  auto fail = [&](std::string why) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    if (const size_t nl = why.find('\n'); nl != std::string::npos) why.resize(nl);
    throw std::runtime_error("cannot write " + path + (why.empty() ? "" : ": " + why));
  };
  if (!out->open(temp.string(), spec)) fail(out->geterror());
  const bool written = out->write_image(type, data);
  const bool closed = out->close();
  if (!written || !closed) fail(out->geterror());
  fs::rename(temp, target, ec);
  if (ec) fail(ec.message());
  return narrowing;
}

}  // namespace qbcli
