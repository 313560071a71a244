// Feeds arbitrary bytes to the command-line tool's image loading as a file.
// The first byte picks the file name's extension (each format the tool
// writes, and one it does not, which leaves the choice of reader to the
// contents) and the depth it is read at (the file's own, 8, 16 or float);
// the rest is the file. Every input must end in a consistent image (size,
// depth, integer channels in range, float alpha in [0, 1]) or in the tool's
// one kind of failure, a std::runtime_error naming the file.
#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/ImageIO.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kExtensions[] = {".png", ".tif", ".exr", ".jpg", ".tiff", ".jpeg", ".img"};

// Files that declare more pixels than this are left out: the tool reads up
// to 30000 x 30000 by design, and a few bytes of header would otherwise ask
// the fuzzer for gigabytes.
constexpr int64_t kMostPixels = int64_t{512} * 512;

fs::path Folder() {
  static const fs::path folder = [] {
    const fs::path shm("/dev/shm");
    fs::path base = fs::is_directory(shm) ? shm : fs::temp_directory_path();
    fs::path f = base / ("qb-fuzz-image-" + std::to_string(::getpid()));
    fs::create_directories(f);
    return f;
  }();
  return folder;
}

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "broken invariant: %s\n", what.c_str());
  std::abort();
}

bool DeclaresTooManyPixels(const std::string& path) {
  try {
    qbcli::CheckReadable(path);
  } catch (const std::runtime_error&) {
    return false;  // ReadImage refuses it too
  }
  auto in = OIIO::ImageInput::open(path);
  if (!in) {
    OIIO::geterror();  // clears the thread's pending error
    return false;
  }
  const OIIO::ImageSpec& spec = in->spec();
  return int64_t{spec.width} * spec.height > kMostPixels ||
         int64_t{spec.width} * spec.height * spec.nchannels > 4 * kMostPixels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OIIO::attribute("threads", 1);
  OIIO::attribute("exr_threads", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  constexpr size_t kExtensionCount = std::size(kExtensions);
  const std::string path =
      (Folder() / (std::string("input") + kExtensions[data[0] % kExtensionCount])).string();
  constexpr std::optional<qbcli::Depth> kDepths[] = {std::nullopt, qbcli::Depth::Bits8,
                                                     qbcli::Depth::Bits16, qbcli::Depth::Float};
  const std::optional<qbcli::Depth> depth = kDepths[data[0] / kExtensionCount % std::size(kDepths)];
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  if (DeclaresTooManyPixels(path)) return 0;
  try {
    const qbcli::ReadResult result = qbcli::ReadImage(path, depth);
    const qbcli::Image& image = result.image;
    if (image.width <= 0 || image.height <= 0) Broken("an empty image");
    const size_t samples = static_cast<size_t>(image.width) * image.height * 4;
    const size_t held = image.IsFloat() ? image.argbFloat.size() : image.argb.size();
    if (held != samples || image.argb.size() + image.argbFloat.size() != samples)
      Broken("pixels do not match the size and depth");
    if (image.depth != depth.value_or(result.samples)) Broken("depth is not the one asked for");
    for (uint16_t v : image.argb) {
      if (v > image.Full()) Broken("a channel above full scale: " + std::to_string(v));
    }
    for (size_t i = 0; i < image.argbFloat.size(); i += 4) {
      const float alpha = image.argbFloat[i];
      if (!(alpha >= 0.0f && alpha <= 1.0f)) Broken("alpha outside 0..1: " + std::to_string(alpha));
    }
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind("cannot read " + path, 0) != 0)
      Broken(std::string("a failure that does not name the file: ") + e.what());
  }
  return 0;
}
