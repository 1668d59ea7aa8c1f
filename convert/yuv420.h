#pragma once
// Rendered frames as the video encoders take them: full-range R'G'B' to
// studio-range BT.709 Y'CbCr with the chroma halved both ways (4:2:0).
#include <cstddef>
#include <cstdint>

namespace vendrake {

enum class TPixelLayout {
    Rgb,  // R, G, B: 3 bytes a pixel
    Bgra, // B, G, R, A: 4 bytes, the alpha ignored
};

// The three planes a picture is written into, rows the given bytes apart.
struct TYuv420Planes {
    std::uint8_t* Y = nullptr;
    int YStride = 0;
    std::uint8_t* Cb = nullptr;
    std::uint8_t* Cr = nullptr;
    int CStride = 0;
};

// Converts `width` by `height` pixels (both even), rows `stride` bytes apart
// from `firstRow` at the top (negative for bottom-up rows). Each chroma
// sample is that of the mean of its 2 by 2 pixels.
void ConvertToYuv420(const std::uint8_t* firstRow, std::ptrdiff_t stride, int width, int height, TPixelLayout layout,
                     const TYuv420Planes& out);

} // namespace vendrake
