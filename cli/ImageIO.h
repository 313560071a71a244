// Image files through OpenImageIO, with the conventions the tests rely on.
//
// Reading, at the file's own depth (8-bit files at 8 bits, 16-bit files at
// 16, anything else as float) or at the depth asked for:
//  - 8-bit files map 1:1 to 8-bit channels;
//  - 16-bit files: a file value p (0..65535) reads as round(p * 32768 / 65535)
//    and an internal value v (0..32768) is written as round(v * 65535 / 32768),
//    so every internal value survives a round trip;
//  - float files (EXR, half or float; float TIFF; any other sample type,
//    normalised) read as float with their colour unchanged: above 1,
//    negative, NaN and infinite values all reach the effect as they are.
//    Alpha is coverage: limited to [0, 1], NaN as 0, the colour under it
//    kept. Read at 8 or 16 bits, a float file is limited to [0, 1] and
//    rounded (ToDepth);
//  - an integer file read as float promotes from its file value, c / 255 or
//    p / 65535 (one float division, the nearest float), so both ends of its
//    scale are exact. An internal 16-bit image becomes float as v / 32768
//    (ToDepth), the effect's own full scale: 65535 in a file and 32768
//    inside are both 1.0;
//  - a file without alpha reads as opaque, a grey file fills red, green and
//    blue; alpha is straight both ways.
//
// Writing follows the extension: .exr as 32-bit float (integer images as
// v / 255 or v / 32768, float images unchanged); .png at 8 or 16 bits, float
// images as 16; .tif/.tiff at the image's depth, float images as 32-bit
// float; .jpg/.jpeg as 8-bit RGB (alpha dropped). A float image in an
// integer file is limited to [0, 1] (NaN as 0) and rounded from the float,
// round(f * 65535) or round(f * 255).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cli/Image.h"

namespace qbcli {

struct ReadResult {
  Image image;
  Depth samples = Depth::Bits8;  // what the file stores, whatever the image holds
};

// Throws std::runtime_error naming the file, as ReadImage would, where the
// file is missing or damaged in a way the image library cannot be trusted
// to survive; ReadImage checks this first.
void CheckReadable(const std::string& path);

// Throws std::runtime_error naming the file on any failure.
ReadResult ReadImage(const std::string& path, std::optional<Depth> depth = std::nullopt);

// Whether the extension of `path` names a format WriteImage writes.
bool IsWritableFormat(const std::string& path);

// What writing a float image into an integer file cost.
struct Narrowing {
  int fileBits = 0;    // 0: nothing was narrowed
  size_t clamped = 0;  // samples outside [0, 1], NaN included
};

// Writes to a temporary file in the same folder and renames it over `path`,
// so an existing file is replaced whole or not at all. Throws
// std::runtime_error naming the file.
Narrowing WriteImage(const std::string& path, const Image& image);

}  // namespace qbcli
