#pragma once
// Image file encoders for the demo's textures and for rendered frames:
// Targa (24 or 32 bits, plain or run-length coded, either row order), PNG
// (libpng) and JPEG (libjpeg). Encoding the same image gives the same bytes.
#include "tools/demo/textures.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vendrake::demo {

// Rows bottom first unless topFirst (descriptor bit 5); 32-bit images
// declare 8 alpha bits. Run-length packets never cross a row.
std::vector<std::uint8_t> EncodeTarga(const TImage& image, bool runLength, bool topFirst);
std::vector<std::uint8_t> EncodePng(const TImage& image);
// Baseline, 4:2:0, the integer transform; RGB images only.
std::vector<std::uint8_t> EncodeJpeg(const TImage& image, int quality);

// Writes bytes to a file, replacing it; raises the stream error on failure.
void WriteFileBytes(const std::string& fileName, const std::vector<std::uint8_t>& bytes);

} // namespace vendrake::demo
