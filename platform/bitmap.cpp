#include "platform/bitmap.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vendrake {

int BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit: return 15;
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
    default: return 0;
    }
}

namespace {

int StorageBits(TPixelFormat format)
{
    const int bits = BitsPerPixel(format);
    return bits == 15 ? 16 : (bits == 0 ? 32 : bits);
}

// One destination row of a nearest-neighbour stretch, B bytes per pixel;
// column[x - x0] is the source column of destination column x.
template <std::size_t B>
void StretchRow(std::uint8_t* dst, const std::uint8_t* src, const int* column, int x0, int x1)
{
    for (int x = x0; x < x1; ++x)
        std::memcpy(dst + std::size_t(x) * B, src + std::size_t(column[x - x0]) * B, B);
}

} // namespace

TBitmap::TBitmap(int width, int height, TPixelFormat format) : FPixelFormat(format)
{
    SetSize(width, height);
}

std::size_t TBitmap::RowBytesFor(int width, TPixelFormat format)
{
    const std::uint64_t bits = std::uint64_t(std::max(width, 0)) * std::uint64_t(StorageBits(format));
    return static_cast<std::size_t>(((bits + 31) / 32) * 4);
}

std::uint64_t TBitmap::BytesFor(int width, int height, TPixelFormat format)
{
    return std::uint64_t(RowBytesFor(width, format)) * std::uint64_t(std::max(height, 0));
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight)
        return;
    const std::size_t rowBytes = RowBytesFor(width, FPixelFormat);
    const std::uint64_t total = BytesFor(width, height, FPixelFormat);
    if (total > MaxBytes)
        throw EBitmapSize("bitmap of " + std::to_string(width) + " x " + std::to_string(height) + " at " +
                          std::to_string(StorageBits(FPixelFormat)) + " bits per pixel is too large");
    decltype(FPixels) pixels(static_cast<std::size_t>(total)); // zero from calloc
    const std::size_t keepBytes = std::min(rowBytes, FRowBytes);
    const int keepRows = std::min(height, FHeight);
    for (int y = 0; keepBytes > 0 && y < keepRows; ++y)
        std::memcpy(pixels.data() + std::size_t(y) * rowBytes, ScanLine(y), keepBytes);
    FPixels = std::move(pixels);
    FRowBytes = rowBytes;
    FWidth = width;
    FHeight = height;
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == FPixelFormat)
        return;
    const int width = FWidth, height = FHeight;
    FPixelFormat = format;
    FWidth = FHeight = 0;
    FRowBytes = 0;
    FPixels.clear();
    SetSize(width, height);
}

void TBitmap::StretchTo(TBitmap& dest, const TBitmapRect& rect) const
{
    const int rw = rect.Right - rect.Left;
    const int rh = rect.Bottom - rect.Top;
    if (rw <= 0 || rh <= 0 || FWidth == 0 || FHeight == 0 || dest.FPixelFormat != FPixelFormat)
        return;
    const int bits = StorageBits(FPixelFormat);
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, dest.FWidth);
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, dest.FHeight);
    if (x0 >= x1 || y0 >= y1)
        return;
    // Source column for each destination column, computed once.
    std::vector<int> column(static_cast<std::size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x)
        column[std::size_t(x - x0)] = static_cast<int>(std::int64_t(x - rect.Left) * FWidth / rw);
    const bool sameWidth = rw == FWidth;
    for (int y = y0; y < y1; ++y) {
        const int sy = static_cast<int>(std::int64_t(y - rect.Top) * FHeight / rh);
        const std::uint8_t* src = ScanLine(sy);
        std::uint8_t* dst = dest.ScanLine(y);
        if (bits >= 8 && sameWidth) {
            // No horizontal scaling: the visible part of the row in one copy.
            const std::size_t b = std::size_t(bits / 8);
            std::memcpy(dst + std::size_t(x0) * b, src + std::size_t(x0 - rect.Left) * b,
                        std::size_t(x1 - x0) * b);
        } else if (bits >= 8) {
            switch (bits / 8) {
            case 1: StretchRow<1>(dst, src, column.data(), x0, x1); break;
            case 2: StretchRow<2>(dst, src, column.data(), x0, x1); break;
            case 3: StretchRow<3>(dst, src, column.data(), x0, x1); break;
            default: StretchRow<4>(dst, src, column.data(), x0, x1); break;
            }
        } else {
            // 1 and 4 bits: pixels packed from the high bits down.
            const int perByte = 8 / bits;
            const int mask = (1 << bits) - 1;
            for (int x = x0; x < x1; ++x) {
                const int sx = column[std::size_t(x - x0)];
                const int sshift = (perByte - 1 - sx % perByte) * bits;
                const int dshift = (perByte - 1 - x % perByte) * bits;
                const int v = (src[sx / perByte] >> sshift) & mask;
                std::uint8_t& d = dst[x / perByte];
                d = static_cast<std::uint8_t>((d & ~(mask << dshift)) | (v << dshift));
            }
        }
    }
    dest.Palette = Palette;
}

} // namespace vendrake
