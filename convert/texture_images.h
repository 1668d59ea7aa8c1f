#pragma once
// Texture images on their way between scene files and other formats: which
// bytes the player can read as they are, and PNG for the rest.
#include <cstdint>
#include <string>
#include <vector>

namespace vendrake {

// Whether the player's image readers decode these bytes (Targa, PNG, JPEG).
bool PlayerReadsImage(const std::vector<std::uint8_t>& bytes);
// Whether the bytes are a PNG or a JPEG file, the two formats glTF allows.
bool IsPngOrJpeg(const std::vector<std::uint8_t>& bytes);

// Pixels, rows top first, `channels` bytes each (1 grey, 2 grey and alpha,
// 3 RGB, 4 RGBA), as a PNG file.
std::vector<std::uint8_t> EncodePng(const std::uint8_t* pixels, int width, int height, int channels);
// Any image the converter can decode (PNG, JPEG, Targa, BMP, GIF, PSD, PNM,
// HDR and others), as a PNG file. Raises std::runtime_error naming `what`
// when it cannot be decoded.
std::vector<std::uint8_t> ConvertToPng(const std::vector<std::uint8_t>& bytes, const std::string& what);

} // namespace vendrake
