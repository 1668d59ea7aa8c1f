#include "platform/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vendrake;

TEST(Bitmap, RowsArePaddedAndResizingKeepsTheCorner)
{
    TBitmap b(3, 2, TPixelFormat::pf24bit);
    EXPECT_EQ(b.RowBytes(), 12u); // 9 bytes padded to 12
    b.ScanLine(0)[0] = 1;
    b.ScanLine(1)[8] = 2;
    b.SetSize(5, 3);
    EXPECT_EQ(b.RowBytes(), 16u);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(1)[8], 2);
    EXPECT_EQ(b.ScanLine(2)[0], 0);
    EXPECT_EQ(TBitmap(5, 1, TPixelFormat::pf1bit).RowBytes(), 4u);
    EXPECT_EQ(TBitmap(9, 1, TPixelFormat::pf4bit).RowBytes(), 8u);
    EXPECT_EQ(TBitmap(3, 1, TPixelFormat::pf15bit).RowBytes(), 8u);
    b.SetWidth(-4);
    EXPECT_EQ(b.Width(), 0);
    EXPECT_THROW(TBitmap(1 << 20, 1 << 20, TPixelFormat::pf32bit), EBitmapSize);
}

TEST(Bitmap, NearestNeighbourStretch)
{
    TBitmap src(2, 2, TPixelFormat::pf32bit);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            src.ScanLine(y)[x * 4] = static_cast<std::uint8_t>(10 * y + x + 1);
    TBitmap dst(4, 4, TPixelFormat::pf32bit);
    src.StretchTo(dst, {0, 0, 4, 4});
    const int expected[4][4] = {{1, 1, 2, 2}, {1, 1, 2, 2}, {11, 11, 12, 12}, {11, 11, 12, 12}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dst.ScanLine(y)[x * 4], expected[y][x]) << x << "," << y;

    // Shrinking samples, and a rectangle partly outside is clipped.
    TBitmap small(1, 1, TPixelFormat::pf32bit);
    dst.StretchTo(small, {0, 0, 1, 1});
    EXPECT_EQ(small.ScanLine(0)[0], 1);
    TBitmap edge(2, 2, TPixelFormat::pf32bit);
    src.StretchTo(edge, {-1, -1, 3, 3});
    EXPECT_EQ(edge.ScanLine(0)[0], 1);
    EXPECT_EQ(edge.ScanLine(1)[4], 12);

    // Packed 4-bit pixels keep their nibble order, and the palette comes along.
    TBitmap four(2, 1, TPixelFormat::pf4bit);
    four.ScanLine(0)[0] = 0x3A;
    four.Palette.resize(16);
    four.Palette[3].Red = 200;
    TBitmap wide(4, 1, TPixelFormat::pf4bit);
    four.StretchTo(wide, {0, 0, 4, 1});
    EXPECT_EQ(wide.ScanLine(0)[0], 0x33);
    EXPECT_EQ(wide.ScanLine(0)[1], 0xAA);
    EXPECT_EQ(wide.Palette[3].Red, 200);
}

TEST(Bitmap, VerticalOnlyStretchCopiesWholeRowsAndSizesAreKnownUpFront)
{
    TBitmap src(3, 2, TPixelFormat::pf24bit);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i)
            src.ScanLine(y)[i] = static_cast<std::uint8_t>(100 * y + i);
    TBitmap tall(3, 4, TPixelFormat::pf24bit);
    src.StretchTo(tall, {0, 0, 3, 4});
    for (int y = 0; y < 4; ++y)
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(tall.ScanLine(y)[i], 100 * (y / 2) + i) << y << "," << i;
    EXPECT_EQ(tall.ScanLine(0)[9], 0); // the row padding stays untouched

    // Same width, shifted left by one pixel: the visible part only.
    TBitmap shifted(3, 2, TPixelFormat::pf24bit);
    src.StretchTo(shifted, {-1, 0, 2, 2});
    EXPECT_EQ(shifted.ScanLine(1)[0], 103);
    EXPECT_EQ(shifted.ScanLine(1)[5], 108);
    EXPECT_EQ(shifted.ScanLine(1)[6], 0);

    EXPECT_EQ(TBitmap::BytesFor(3, 2, TPixelFormat::pf24bit), 24u);
    EXPECT_EQ(TBitmap::BytesFor(65535, 65535, TPixelFormat::pf32bit), 65535ull * 65535 * 4);
    EXPECT_EQ(TBitmap::BytesFor(-5, 7, TPixelFormat::pf8bit), 0u);
    EXPECT_EQ(TBitmap::BytesFor(5, -7, TPixelFormat::pf8bit), 0u);
}

TEST(Bitmap, GrownPixelsAndRowPaddingAreZero)
{
    TBitmap b(4, 4, TPixelFormat::pf24bit);
    b.ScanLine(0)[0] = 9;
    b.SetSize(3, 5); // 9 bytes of pixels padded to 12
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Height(), 5);
    EXPECT_EQ(b.RowBytes(), 12u);
    for (int y = 0; y < 5; ++y)
        for (int x = 9; x < 12; ++x)
            EXPECT_EQ(b.ScanLine(y)[x], 0) << x << "," << y;
    // Resizing again keeps the corner.
    for (int y = 0; y < 5; ++y)
        std::fill(b.ScanLine(y), b.ScanLine(y) + 9, std::uint8_t(7));
    b.SetSize(4, 6);
    EXPECT_EQ(b.ScanLine(4)[8], 7);
    EXPECT_EQ(b.ScanLine(5)[0], 0);

    TBitmap g(0, 0, TPixelFormat::pf4bit);
    g.SetSize(3, 2); // 12 bits used of 32: bytes 2 and 3 are padding
    EXPECT_EQ(g.RowBytes(), 4u);
    EXPECT_EQ(g.ScanLine(1)[2], 0);
    EXPECT_EQ(g.ScanLine(1)[3], 0);

    EXPECT_THROW(b.SetSize(1 << 20, 1 << 20), EBitmapSize);
    EXPECT_EQ(b.Width(), 4); // a refused size changes nothing
    b.SetSize(-1, 3);
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.RowBytes(), 0u);
}
