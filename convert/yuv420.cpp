#include "convert/yuv420.h"

#include <bit>
#include <cstring>

namespace vendrake {

namespace {

// BT.709 weights, scaled to studio range: Y' from 16 to 235, Cb and Cr
// from 16 to 240 about 128. The chroma weights take the sum of four pixels.
constexpr float Kr = 0.2126f;
constexpr float Kb = 0.0722f;
constexpr float Kg = 1 - Kr - Kb;
constexpr float LumaScale = 219.0f / 255;
constexpr float ChromaScale = 224.0f / 255 / 4;
constexpr float YR = Kr * LumaScale, YG = Kg * LumaScale, YB = Kb * LumaScale;
constexpr float CbR = -Kr / (2 * (1 - Kb)) * ChromaScale, CbG = -Kg / (2 * (1 - Kb)) * ChromaScale,
                CbB = 0.5f * ChromaScale;
constexpr float CrR = 0.5f * ChromaScale, CrG = -Kg / (2 * (1 - Kr)) * ChromaScale,
                CrB = -Kb / (2 * (1 - Kr)) * ChromaScale;
// Every result lies inside its range, so adding a half and truncating rounds.
constexpr float LumaOffset = 16.5f;
constexpr float ChromaOffset = 128.5f;

std::uint8_t Luma(int r, int g, int b)
{
    return static_cast<std::uint8_t>(static_cast<int>(YR * float(r) + YG * float(g) + YB * float(b) + LumaOffset));
}

// Sums of four pixels' channels.
std::uint8_t Cb(int r, int g, int b)
{
    return static_cast<std::uint8_t>(static_cast<int>(CbR * float(r) + CbG * float(g) + CbB * float(b) + ChromaOffset));
}

std::uint8_t Cr(int r, int g, int b)
{
    return static_cast<std::uint8_t>(static_cast<int>(CrR * float(r) + CrG * float(g) + CrB * float(b) + ChromaOffset));
}

// B, G, R, A pixels read whole, as 32-bit words, which the compiler turns
// into vector code where separate byte loads would stay scalar.
constexpr int BlueShift = std::endian::native == std::endian::little ? 0 : 24;
constexpr int GreenShift = std::endian::native == std::endian::little ? 8 : 16;
constexpr int RedShift = std::endian::native == std::endian::little ? 16 : 8;

std::uint32_t Pixel(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int Channel(std::uint32_t pixel, int shift) { return static_cast<int>(pixel >> shift & 0xff); }

void BgraLuma(const std::uint8_t* __restrict row, int width, std::uint8_t* __restrict y)
{
    for (int x = 0; x < width; ++x) {
        const std::uint32_t p = Pixel(row + 4 * x);
        y[x] = Luma(Channel(p, RedShift), Channel(p, GreenShift), Channel(p, BlueShift));
    }
}

void BgraChroma(const std::uint8_t* __restrict upper, const std::uint8_t* __restrict lower, int pairs,
                std::uint8_t* __restrict cb, std::uint8_t* __restrict cr)
{
    for (int x = 0; x < pairs; ++x) {
        const std::uint32_t a = Pixel(upper + 8 * x), b = Pixel(upper + 8 * x + 4);
        const std::uint32_t c = Pixel(lower + 8 * x), d = Pixel(lower + 8 * x + 4);
        const auto sum = [&](int shift) { return Channel(a, shift) + Channel(b, shift) + Channel(c, shift) + Channel(d, shift); };
        const int r = sum(RedShift), g = sum(GreenShift), bl = sum(BlueShift);
        cb[x] = Cb(r, g, bl);
        cr[x] = Cr(r, g, bl);
    }
}

void RgbLuma(const std::uint8_t* __restrict row, int width, std::uint8_t* __restrict y)
{
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = row + 3 * x;
        y[x] = Luma(p[0], p[1], p[2]);
    }
}

void RgbChroma(const std::uint8_t* __restrict upper, const std::uint8_t* __restrict lower, int pairs,
               std::uint8_t* __restrict cb, std::uint8_t* __restrict cr)
{
    for (int x = 0; x < pairs; ++x) {
        const std::uint8_t* p = upper + 6 * x;
        const std::uint8_t* q = lower + 6 * x;
        const int r = p[0] + p[3] + q[0] + q[3], g = p[1] + p[4] + q[1] + q[4], b = p[2] + p[5] + q[2] + q[5];
        cb[x] = Cb(r, g, b);
        cr[x] = Cr(r, g, b);
    }
}

} // namespace

void ConvertToYuv420(const std::uint8_t* firstRow, std::ptrdiff_t stride, int width, int height, TPixelLayout layout,
                     const TYuv420Planes& out)
{
    const bool bgra = layout == TPixelLayout::Bgra;
    for (int row = 0; row + 1 < height; row += 2) {
        const std::uint8_t* upper = firstRow + stride * row;
        const std::uint8_t* lower = upper + stride;
        std::uint8_t* y = out.Y + std::ptrdiff_t(out.YStride) * row;
        std::uint8_t* cb = out.Cb + std::ptrdiff_t(out.CStride) * (row / 2);
        std::uint8_t* cr = out.Cr + std::ptrdiff_t(out.CStride) * (row / 2);
        if (bgra) {
            BgraLuma(upper, width, y);
            BgraLuma(lower, width, y + out.YStride);
            BgraChroma(upper, lower, width / 2, cb, cr);
        } else {
            RgbLuma(upper, width, y);
            RgbLuma(lower, width, y + out.YStride);
            RgbChroma(upper, lower, width / 2, cb, cr);
        }
    }
}

} // namespace vendrake
