#include "render/targa.h"

#include "stream/stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace vendrake;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct TTga {
    std::uint8_t IDLength = 0, ColorMapType = 0, ImageType = 2;
    std::uint16_t ColorMapLength = 0;
    std::uint8_t ColorMapEntrySize = 0;
    std::uint16_t Width = 2, Height = 2;
    std::uint8_t PixelDepth = 24, Descriptor = 0;

    // The header followed by body.
    Bytes With(const Bytes& body) const
    {
        Bytes b{IDLength, ColorMapType, ImageType, 0, 0,
                std::uint8_t(ColorMapLength), std::uint8_t(ColorMapLength >> 8), ColorMapEntrySize,
                0, 0, 0, 0,
                std::uint8_t(Width), std::uint8_t(Width >> 8), std::uint8_t(Height), std::uint8_t(Height >> 8),
                PixelDepth, Descriptor};
        b.insert(b.end(), body.begin(), body.end());
        return b;
    }
};

// Row y of the bitmap without its padding.
Bytes Row(const TBitmap& g, int y)
{
    const std::size_t n = std::size_t(g.Width()) * std::size_t((BitsPerPixel(g.PixelFormat()) + 7) / 8);
    return Bytes(g.ScanLine(y), g.ScanLine(y) + n);
}

TTargaGraphic Read(TMemoryStream& s)
{
    TTargaGraphic g;
    g.ReadImage(s);
    return g;
}

std::string ReadError(const Bytes& file)
{
    TMemoryStream s(file);
    try {
        TTargaGraphic g;
        g.ReadImage(s);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(Targa, PlainRowsFollowTheDescriptorAndSkipTheImageID)
{
    const Bytes pixels{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TTga tga;
    TMemoryStream bottomFirst(tga.With(pixels));
    const TTargaGraphic a = Read(bottomFirst);
    EXPECT_EQ(a.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Row(a, 1), (Bytes{1, 2, 3, 4, 5, 6})); // first stored row is the bottom one
    EXPECT_EQ(Row(a, 0), (Bytes{7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(bottomFirst.Position(), 30);

    tga.Descriptor = 0x20;
    tga.IDLength = 5;
    Bytes body{'i', 'm', 'a', 'g', 'e'};
    body.insert(body.end(), pixels.begin(), pixels.end());
    TMemoryStream topFirst(tga.With(body));
    const TTargaGraphic b = Read(topFirst);
    EXPECT_EQ(Row(b, 0), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Row(b, 1), (Bytes{7, 8, 9, 10, 11, 12}));
    EXPECT_TRUE(b.ImageProperties.TopDown);

    // 32 bits keep the fourth byte; 15 and 16 bits keep their words as stored.
    TTga rgba;
    rgba.Width = 1;
    rgba.Height = 1;
    rgba.PixelDepth = 32;
    TMemoryStream s32(rgba.With({10, 20, 30, 40}));
    const TTargaGraphic c = Read(s32);
    EXPECT_EQ(c.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(c.ImageProperties.ColorScheme, TColorScheme::csRGBA);
    EXPECT_EQ(Row(c, 0), (Bytes{10, 20, 30, 40}));
    for (std::uint8_t depth : {15, 16}) {
        rgba.PixelDepth = depth;
        TMemoryStream s16(rgba.With({0x1F, 0x7C}));
        const TTargaGraphic d = Read(s16);
        EXPECT_EQ(d.PixelFormat(), TPixelFormat::pf15bit);
        EXPECT_EQ(d.ScanLine(0)[0], 0x1F);
        EXPECT_EQ(d.ScanLine(0)[1], 0x7C);
        EXPECT_EQ(d.ImageProperties.BitsPerSample, 5);
    }
}

TEST(Targa, RunLengthPacketsRunAcrossRows)
{
    // 3 x 2 pixels, top first: a run of 4 fills the first row and one pixel
    // of the second; a raw packet of 2 finishes it. Trailing bytes are left.
    TTga tga;
    tga.ImageType = 10;
    tga.Width = 3;
    tga.Descriptor = 0x20;
    const Bytes body{0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE};
    TMemoryStream s(tga.With(body));
    const TTargaGraphic g = Read(s);
    EXPECT_EQ(Row(g, 0), (Bytes{1, 2, 3, 1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(Row(g, 1), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(s.Position(), 18 + 11); // right after the consumed packets
    EXPECT_EQ(g.ImageProperties.Compression, TCompressionType::ctRLE);

    // A raw packet of 3 crossing from the bottom row into the one above.
    tga.Width = 2;
    tga.Descriptor = 0;
    TMemoryStream raw(tga.With({0x02, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0x80, 4, 4, 4}));
    const TTargaGraphic r = Read(raw);
    EXPECT_EQ(Row(r, 1), (Bytes{1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(Row(r, 0), (Bytes{3, 3, 3, 4, 4, 4}));

    // 8-bit grey and 32-bit runs.
    tga.ImageType = 11;
    tga.PixelDepth = 8;
    tga.Width = 5;
    tga.Height = 1;
    TMemoryStream grey(tga.With({0x84, 9}));
    EXPECT_EQ(Row(Read(grey), 0), (Bytes{9, 9, 9, 9, 9}));
    tga.ImageType = 10;
    tga.PixelDepth = 32;
    tga.Width = 2;
    TMemoryStream rgba(tga.With({0x81, 1, 2, 3, 4}));
    EXPECT_EQ(Row(Read(rgba), 0), (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
}

TEST(Targa, DecoderStopsAtTheEndOfItsSourceAndResumes)
{
    TTargaRLEDecoder decoder(24);
    const Bytes source{0x83, 1, 2, 3, 0x02, 4, 4, 4, 5, 5, 5, 6};
    std::vector<std::uint8_t> dest(3 * 8, 0xAA);
    const std::uint8_t* cursor = source.data();
    // The raw packet's third pixel is not all there: two pixels come out of
    // it, and its one byte stays unread.
    EXPECT_EQ(decoder.Decode(cursor, source.data() + source.size(), dest.data(), 8), 6u);
    EXPECT_EQ(cursor, source.data() + 11);
    EXPECT_EQ(dest[17], 5);
    EXPECT_EQ(dest[18], 0xAA);
    // The next call finishes the packet before reading a new header.
    const Bytes more{6, 6, 6, 0x80, 7, 7, 7};
    cursor = more.data();
    EXPECT_EQ(decoder.Decode(cursor, more.data() + more.size(), dest.data() + 18, 2), 2u);
    EXPECT_EQ((Bytes(dest.begin() + 18, dest.end())), (Bytes{6, 6, 6, 7, 7, 7}));
    EXPECT_EQ(cursor, more.data() + more.size());

    // A run whose value is cut off leaves even its header unread.
    TTargaRLEDecoder fresh(32);
    const Bytes cut{0x85, 1, 2};
    cursor = cut.data();
    EXPECT_EQ(fresh.Decode(cursor, cut.data() + cut.size(), dest.data(), 4), 0u);
    EXPECT_EQ(cursor, cut.data());
}

TEST(Targa, ColourMapsAndGreyBecomePalettes)
{
    // Colour-mapped, 24-bit entries B, G, R; pixels index them.
    TTga mapped;
    mapped.ImageType = 1;
    mapped.ColorMapType = 1;
    mapped.ColorMapLength = 2;
    mapped.ColorMapEntrySize = 24;
    mapped.PixelDepth = 8;
    mapped.Width = 2;
    mapped.Height = 1;
    TMemoryStream s(mapped.With({10, 20, 30, 40, 50, 60, 1, 0}));
    const TTargaGraphic g = Read(s);
    EXPECT_EQ(g.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(g.ImageProperties.ColorScheme, TColorScheme::csIndexed);
    ASSERT_EQ(g.Palette.size(), 2u);
    EXPECT_EQ(g.Palette[0], (TRGBQuad{10, 20, 30, 0}));
    EXPECT_EQ(g.Palette[1], (TRGBQuad{40, 50, 60, 0}));
    EXPECT_EQ(Row(g, 0), (Bytes{1, 0}));

    // 16-bit entries take two bytes each: red 31, then green 31.
    mapped.ColorMapEntrySize = 16;
    TMemoryStream s16(mapped.With({0x00, 0x7C, 0xE0, 0x03, 0, 1}));
    const TTargaGraphic g16 = Read(s16);
    ASSERT_EQ(g16.Palette.size(), 2u);
    EXPECT_EQ(g16.Palette[0], (TRGBQuad{0, 0, 255, 0}));
    EXPECT_EQ(g16.Palette[1], (TRGBQuad{0, 255, 0, 0}));
    EXPECT_EQ(Row(g16, 0), (Bytes{0, 1}));
    EXPECT_EQ(s16.Position(), s16.Size());

    // Grey gets a ramp; a colour map in front of grey pixels is skipped,
    // not read as pixels.
    TTga grey = mapped;
    grey.ImageType = 3;
    grey.ColorMapEntrySize = 24;
    TMemoryStream sg(grey.With({1, 1, 1, 2, 2, 2, 200, 7}));
    const TTargaGraphic gg = Read(sg);
    ASSERT_EQ(gg.Palette.size(), 256u);
    EXPECT_EQ(gg.Palette[200], (TRGBQuad{200, 200, 200, 0}));
    EXPECT_EQ(gg.ImageProperties.ColorScheme, TColorScheme::csG);
    EXPECT_EQ(Row(gg, 0), (Bytes{200, 7}));

    // A true-colour image consumes its colour map before the pixels.
    TTga rgb;
    rgb.ColorMapType = 1;
    rgb.ColorMapLength = 1;
    rgb.ColorMapEntrySize = 32;
    rgb.Width = 1;
    rgb.Height = 1;
    TMemoryStream st(rgb.With({9, 9, 9, 9, 1, 2, 3}));
    EXPECT_EQ(Row(Read(st), 0), (Bytes{1, 2, 3}));
}

TEST(Targa, ContentTestChecksValueSetsAndRestoresThePosition)
{
    auto accepts = [](const TTga& tga, std::size_t bodyBytes = 12) {
        Bytes file{0xAB, 0xCD}; // the image starts at offset 2
        const Bytes image = tga.With(Bytes(bodyBytes, 0));
        file.insert(file.end(), image.begin(), image.end());
        TMemoryStream s(file);
        s.Seek(2);
        const bool result = TTargaGraphic::CanLoad(s);
        EXPECT_EQ(s.Position(), 2);
        return result;
    };
    TTga tga;
    EXPECT_TRUE(accepts(tga));
    EXPECT_FALSE(accepts(tga, 0)); // a bare 18-byte header
    EXPECT_TRUE(accepts(tga, 1));
    for (std::uint8_t type : {0, 1, 3, 9, 10, 11})
        EXPECT_TRUE(accepts(TTga{.ImageType = type})) << int(type);
    for (std::uint8_t type : {4, 8, 12, 32})
        EXPECT_FALSE(accepts(TTga{.ImageType = type})) << int(type);
    EXPECT_FALSE(accepts(TTga{.ColorMapType = 2}));
    EXPECT_FALSE(accepts(TTga{.ColorMapEntrySize = 8}));
    EXPECT_TRUE(accepts(TTga{.ColorMapEntrySize = 15}));
    EXPECT_FALSE(accepts(TTga{.PixelDepth = 7}));
    EXPECT_FALSE(accepts(TTga{.PixelDepth = 64}));

    TMemoryStream empty;
    EXPECT_FALSE(TTargaGraphic::CanLoad(empty));
    EXPECT_EQ(empty.Position(), 0);
}

TEST(Targa, DamagedFilesRaiseErrorsNamingTheProblem)
{
    TTga tga;
    // Plain data cut short: refused before reading, with the numbers.
    EXPECT_EQ(ReadError(tga.With({1, 2, 3, 4, 5, 6, 7})),
              "Stream read error in memory at byte offset 18: pixel data of a 2 x 2 image needs 12 bytes, 7 left");
    // Run-length data that ends inside the second row.
    tga.ImageType = 10;
    EXPECT_EQ(ReadError(tga.With({0x81, 1, 2, 3, 0x00})),
              "Stream read error in memory at byte offset 23: run-length data ends in row 1 after 0 of 2 pixels");
    EXPECT_EQ(ReadError(tga.With({0x83})),
              "Stream read error in memory at byte offset 18: pixel data of a 2 x 2 image needs at least 4 bytes, "
              "1 left");

    // Header-sized nonsense: absurd dimensions are refused before any
    // allocation, a colour map or image ID past the end, unsupported values.
    TTga huge{.ImageType = 10, .Width = 65535, .Height = 65535, .PixelDepth = 32};
    EXPECT_NE(ReadError(huge.With(Bytes(64, 0))).find("offset 12: image of 65535 x 65535 pixels at 32 bits "
                                                       "exceeds the bitmap limit"),
              std::string::npos);
    TTga wide{.ImageType = 10, .Width = 65535, .Height = 4000, .PixelDepth = 32};
    EXPECT_NE(ReadError(wide.With(Bytes(64, 0))).find("needs at least"), std::string::npos);
    TTga mapped{.ColorMapType = 1, .ImageType = 1, .ColorMapLength = 300, .ColorMapEntrySize = 32,
                .PixelDepth = 8};
    EXPECT_EQ(ReadError(mapped.With(Bytes(40, 0))),
              "Stream read error in memory at byte offset 18: colour map of 300 entries needs 1200 bytes, 40 left");
    EXPECT_NE(ReadError(TTga{.IDLength = 200}.With(Bytes(12, 0))).find("image ID of 200 bytes"), std::string::npos);
    EXPECT_NE(ReadError(TTga{.ImageType = 0}.With(Bytes(12, 0))).find("offset 2: Targa image type 0"),
              std::string::npos);
    EXPECT_NE(ReadError(TTga{.PixelDepth = 12}.With(Bytes(12, 0))).find("offset 16: unsupported Targa pixel depth 12"),
              std::string::npos);
    EXPECT_NE(ReadError(Bytes(10, 0)).find("wanted 18 bytes"), std::string::npos);

    // No pixels is an empty bitmap, not an error.
    TMemoryStream none(TTga{.Width = 0, .Height = 3}.With({}));
    const TTargaGraphic g = Read(none);
    EXPECT_EQ(g.Width(), 0);
    EXPECT_EQ(g.Height(), 3);
}
