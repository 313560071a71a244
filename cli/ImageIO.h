// Image files through OpenImageIO, with the conventions the tests rely on:
//  - 8-bit files map 1:1 to 8-bit channels;
//  - 16-bit files: an internal value v (0..32768) is written as
//    round(v * 65535 / 32768) and a file value p is read as
//    round(p * 32768 / 65535), so every internal value survives a round trip;
//  - float files hold v / 32768 (v / 255 for 8-bit images); values read are
//    clamped to 0..1;
//  - a file without alpha reads as opaque, a grey file fills red, green and
//    blue; alpha is straight both ways.
// The output format follows the extension: .png and .tif/.tiff at the
// image's depth (8 or 16 bits), .exr as 32-bit float, .jpg/.jpeg as 8-bit
// RGB (alpha dropped).
#pragma once

#include <string>

#include "cli/Image.h"

namespace qbcli {

// What a file stores; the default processing depth follows it.
enum class FileSamples { Bits8, Bits16, Float };

struct ReadResult {
  Image image;  // 8-bit for Bits8 files, deep otherwise
  FileSamples samples = FileSamples::Bits8;
};

// Throws std::runtime_error naming the file on any failure.
ReadResult ReadImage(const std::string& path);

// Whether the extension of `path` names a format WriteImage writes.
bool IsWritableFormat(const std::string& path);

// Writes to a temporary file in the same folder and renames it over `path`,
// so an existing file is replaced whole or not at all. Throws
// std::runtime_error naming the file.
void WriteImage(const std::string& path, const Image& image);

}  // namespace qbcli
