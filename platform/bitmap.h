#pragma once
// An in-memory bitmap laid out the way device-independent bitmaps are: rows
// top first, each padded to a multiple of 4 bytes, pixels as B, G, R[, A];
// 1-, 4- and 8-bit pixels index a palette.
#include "platform/zeroed_vector.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace vendrake {

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// 0 for the device-dependent and custom formats.
int BitsPerPixel(TPixelFormat format);

struct TRGBQuad {
    std::uint8_t Blue = 0, Green = 0, Red = 0, Reserved = 0;
    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

struct TBitmapRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// Raised when a bitmap would be larger than the limit below.
class EBitmapSize : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TBitmap {
public:
    // Pixel memory of one bitmap is capped so that a bad image header cannot
    // ask for an unbounded allocation.
    static constexpr std::uint64_t MaxBytes = std::uint64_t(1) << 30;

    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat format);

    // Pixel memory a bitmap of this size and format takes, row padding
    // included, so readers can refuse an image before allocating it.
    static std::uint64_t BytesFor(int width, int height, TPixelFormat format);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    // Resizing keeps the pixels of the overlapping top-left area; new pixels
    // are 0. Negative sizes count as 0. Raises EBitmapSize beyond MaxBytes.
    void SetWidth(int width) { SetSize(width, FHeight); }
    void SetHeight(int height) { SetSize(FWidth, height); }
    void SetSize(int width, int height);
    // Changing the format clears the pixels.
    void SetPixelFormat(TPixelFormat format);

    // Bytes in one row, padding included.
    std::size_t RowBytes() const { return FRowBytes; }
    // Row y, 0 = top; y must lie in 0..Height-1.
    std::uint8_t* ScanLine(int y) { return FPixels.data() + std::size_t(y) * FRowBytes; }
    const std::uint8_t* ScanLine(int y) const { return FPixels.data() + std::size_t(y) * FRowBytes; }

    std::vector<TRGBQuad> Palette;

    // Nearest-neighbour copy of this whole bitmap into rect of dest, which
    // must have the same pixel format; parts of rect outside dest are clipped.
    void StretchTo(TBitmap& dest, const TBitmapRect& rect) const;

private:
    int FWidth = 0;
    int FHeight = 0;
    TPixelFormat FPixelFormat = TPixelFormat::pf24bit;
    std::size_t FRowBytes = 0;
    // New pixel blocks come zeroed from calloc, so a large image a reader is
    // about to fill is not cleared in a pass of its own first.
    TZeroedVector<std::uint8_t> FPixels;
    static std::size_t RowBytesFor(int width, TPixelFormat format);
};

} // namespace vendrake
