#include "render/image_readers.h"

#include "stream/stream.h"
#include "render/targa.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

using namespace vendrake;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct TPNGLayout {
    int Width = 2, Height = 1;
    int ColorType = PNG_COLOR_TYPE_RGB;
    int Depth = 8;
    bool Interlaced = false;
    std::vector<png_color> Palette;
    Bytes Transparency; // tRNS for palette images
};

TPNGLayout Layout(int width, int height, int colorType = PNG_COLOR_TYPE_RGB, int depth = 8)
{
    TPNGLayout layout;
    layout.Width = width;
    layout.Height = height;
    layout.ColorType = colorType;
    layout.Depth = depth;
    return layout;
}

void AppendTo(png_structp png, png_bytep data, std::size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Encodes rows of packed samples as libpng writes them.
Bytes EncodePNG(const TPNGLayout& layout, const std::vector<Bytes>& rows)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendTo, nullptr);
    png_set_IHDR(png, info, png_uint_32(layout.Width), png_uint_32(layout.Height), layout.Depth, layout.ColorType,
                 layout.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!layout.Palette.empty())
        png_set_PLTE(png, info, layout.Palette.data(), int(layout.Palette.size()));
    if (!layout.Transparency.empty())
        png_set_tRNS(png, info, layout.Transparency.data(), int(layout.Transparency.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (const Bytes& row : rows)
        pointers.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A width x height JPEG of one colour (R, G, B), or grey with one component.
Bytes EncodeJPEG(int width, int height, Bytes colour, bool progressive = false)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = int(colour.size());
    c.in_color_space = colour.size() == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    Bytes row;
    for (int x = 0; x < width; ++x)
        row.insert(row.end(), colour.begin(), colour.end());
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

Bytes SmallTarga()
{
    return {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0x20, 7, 8, 9};
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Rewrites the IHDR size of an encoded PNG and fixes its checksum.
Bytes WithPNGSize(Bytes png, std::uint32_t width, std::uint32_t height)
{
    auto put = [&png](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            png[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
    };
    put(16, width);
    put(20, height);
    put(29, Crc32(png.data() + 12, 17)); // over the type and the 13 data bytes
    return png;
}

Bytes Pixel(const TBitmap& b, int x, int y)
{
    const std::size_t n = std::size_t(BitsPerPixel(b.PixelFormat()) / 8);
    return Bytes(b.ScanLine(y) + std::size_t(x) * n, b.ScanLine(y) + std::size_t(x + 1) * n);
}

std::string DecodeError(const Bytes& data)
{
    TMemoryStream s(data);
    try {
        ReadImageByContent(s);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(ImageReaders, RegistryAsksTargaThenPNGAndFallsBackToJPEG)
{
    const auto& classes = FileFormatList().Classes();
    ASSERT_EQ(classes.size(), 2u);
    EXPECT_EQ(classes[0]->Name, "Targa");
    EXPECT_EQ(classes[1]->Name, "PNG");

    const Bytes tga = SmallTarga();
    const Bytes png = EncodePNG({}, {{255, 0, 0, 0, 0, 255}});
    const Bytes jpeg = EncodeJPEG(16, 8, {200, 40, 40});
    auto pick = [](const Bytes& data) {
        TMemoryStream s(data);
        const TGraphicExGraphicClass* found = FileFormatList().GraphicFromContent(s);
        EXPECT_EQ(s.Position(), 0);
        return found;
    };
    EXPECT_EQ(pick(tga), &TTargaGraphic::ClassRef());
    EXPECT_EQ(pick(png), &TPNGGraphic::ClassRef());
    EXPECT_EQ(pick(jpeg), nullptr);

    TMemoryStream st(tga);
    const TBitmap t = ReadImageByContent(st);
    EXPECT_EQ(t.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Pixel(t, 0, 0), (Bytes{7, 8, 9}));

    TMemoryStream sp(png);
    const TBitmap p = ReadImageByContent(sp);
    EXPECT_EQ(p.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Pixel(p, 0, 0), (Bytes{0, 0, 255})); // B, G, R
    EXPECT_EQ(Pixel(p, 1, 0), (Bytes{255, 0, 0}));
    EXPECT_EQ(sp.Position(), sp.Size());

    Bytes trailing = jpeg;
    trailing.insert(trailing.end(), {1, 2, 3});
    TMemoryStream sj(trailing);
    const TBitmap j = ReadImageByContent(sj);
    ASSERT_EQ(j.PixelFormat(), TPixelFormat::pf24bit);
    ASSERT_EQ(j.Width(), 16);
    ASSERT_EQ(j.Height(), 8);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{15, 7}, std::pair{8, 3}}) {
        const Bytes bgr = Pixel(j, x, y);
        EXPECT_NEAR(bgr[0], 40, 4);
        EXPECT_NEAR(bgr[1], 40, 4);
        EXPECT_NEAR(bgr[2], 200, 4);
    }
    EXPECT_EQ(sj.Position(), std::int64_t(jpeg.size())); // stops after the image
}

TEST(ImageReaders, PNGColourTypesBecomeBGROrBGRA)
{
    // Alpha channel: 32 bits.
    const TPNGLayout rgba = Layout(1, 1, PNG_COLOR_TYPE_RGB_ALPHA);
    TMemoryStream s1(EncodePNG(rgba, {{10, 20, 30, 40}}));
    const TBitmap a = ReadImageByContent(s1);
    EXPECT_EQ(a.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(Pixel(a, 0, 0), (Bytes{30, 20, 10, 40}));

    // Palette with transparency: expanded, with alpha.
    TPNGLayout indexed = Layout(2, 1, PNG_COLOR_TYPE_PALETTE, 4);
    indexed.Palette = {{1, 2, 3}, {4, 5, 6}};
    indexed.Transparency = {128};
    TMemoryStream s2(EncodePNG(indexed, {{0x01}}));
    const TBitmap b = ReadImageByContent(s2);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(Pixel(b, 0, 0), (Bytes{3, 2, 1, 128}));
    EXPECT_EQ(Pixel(b, 1, 0), (Bytes{6, 5, 4, 255}));

    // 16-bit grey: three equal bytes, scaled to 8 bits.
    const TPNGLayout grey = Layout(1, 2, PNG_COLOR_TYPE_GRAY, 16);
    TMemoryStream s3(EncodePNG(grey, {{0xFF, 0xFF}, {0x80, 0x00}}));
    const TBitmap g = ReadImageByContent(s3);
    EXPECT_EQ(g.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(Pixel(g, 0, 0), (Bytes{255, 255, 255}));
    EXPECT_EQ(Pixel(g, 0, 1), (Bytes{128, 128, 128}));

    // Interlaced rows land where they belong.
    TPNGLayout laced = Layout(9, 9, PNG_COLOR_TYPE_GRAY);
    laced.Interlaced = true;
    std::vector<Bytes> rows;
    for (int y = 0; y < 9; ++y) {
        Bytes row;
        for (int x = 0; x < 9; ++x)
            row.push_back(std::uint8_t(10 * y + x));
        rows.push_back(row);
    }
    TMemoryStream s4(EncodePNG(laced, rows));
    const TBitmap l = ReadImageByContent(s4);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(Pixel(l, x, y)[1], 10 * y + x) << x << "," << y;
}

TEST(ImageReaders, JPEGGreyAndProgressive)
{
    TMemoryStream grey(EncodeJPEG(8, 8, {90}));
    const TBitmap g = ReadImageByContent(grey);
    const Bytes p = Pixel(g, 3, 3);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
    EXPECT_NEAR(p[0], 90, 2);

    TMemoryStream progressive(EncodeJPEG(24, 16, {20, 220, 60}, true));
    const TBitmap c = ReadImageByContent(progressive);
    ASSERT_EQ(c.Width(), 24);
    EXPECT_NEAR(Pixel(c, 23, 15)[1], 220, 4);
}

TEST(ImageReaders, DamagedPNGAndJPEGRaiseErrorsQuietly)
{
    testing::internal::CaptureStderr();
    const Bytes png = EncodePNG(Layout(4, 4), std::vector<Bytes>(4, Bytes(12, 77)));
    const Bytes jpeg = EncodeJPEG(16, 16, {1, 2, 3});

    EXPECT_NE(DecodeError(Bytes(png.begin(), png.end() - 30)).find(": PNG: "), std::string::npos);
    EXPECT_NE(DecodeError(Bytes(jpeg.begin(), jpeg.end() - 40)).find("JPEG: Premature end of input file"),
              std::string::npos);
    EXPECT_NE(DecodeError({'h', 'e', 'l', 'l', 'o'}).find("JPEG: Not a JPEG file"), std::string::npos);
    // An image whose data breaks off is not kept half decoded.
    TJPEGImage reused;
    TMemoryStream whole(jpeg);
    reused.LoadFromStream(whole);
    EXPECT_EQ(reused.Width(), 16);
    std::size_t scan = 0; // the start-of-scan marker: the pixel data follows its 14 bytes
    while (scan + 1 < jpeg.size() && !(jpeg[scan] == 0xFF && jpeg[scan + 1] == 0xDA))
        ++scan;
    ASSERT_LT(scan + 16, jpeg.size());
    TMemoryStream cut(Bytes(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(scan + 16)));
    EXPECT_THROW(reused.LoadFromStream(cut), EReadError);
    EXPECT_EQ(reused.Width(), 0);
    EXPECT_EQ(reused.Height(), 0);
    EXPECT_NE(DecodeError({}).find("JPEG: "), std::string::npos);

    // Sizes are checked before anything is allocated for them: against the
    // bitmap limit, against libpng's limit, and against what the rest of the
    // file can inflate to.
    EXPECT_NE(DecodeError(WithPNGSize(png, 60000, 60000)).find("offset 16: PNG image of 60000 x 60000 pixels exceeds"),
              std::string::npos);
    EXPECT_NE(DecodeError(WithPNGSize(png, 2000000, 1)).find("PNG: "), std::string::npos);
    EXPECT_NE(DecodeError(WithPNGSize(png, 8000, 8000)).find("bytes of image data, more than"), std::string::npos);

    // Whatever the damage, decoding ends in an error that says where and in
    // which format, or in an image. Cutting off no more than the trailer
    // (PNG's IEND chunk, JPEG's end marker) loses no pixels and may still
    // decode. A flipped byte decodes only in PNG's trailer, to the whole
    // image, or in JPEG, where a warning never stops decoding: a changed size
    // field gives rows of filler.
    for (const auto& [file, trailer] : {std::pair{&png, 12u}, std::pair{&jpeg, 2u}}) {
        for (std::size_t cut = 0; cut + trailer < file->size(); ++cut) {
            TMemoryStream s(Bytes(file->begin(), file->begin() + std::ptrdiff_t(cut)));
            EXPECT_THROW(ReadImageByContent(s), EReadError) << cut;
        }
        for (std::size_t at = 0; at < file->size(); ++at) {
            Bytes broken = *file;
            broken[at] ^= 0x5A;
            TMemoryStream s(broken);
            try {
                const TBitmap b = ReadImageByContent(s);
                ASSERT_GT(b.Width(), 0) << at;
                ASSERT_GT(b.Height(), 0) << at;
                if (file == &png) {
                    ASSERT_EQ(std::pair(b.Width(), b.Height()), std::pair(4, 4)) << at;
                    EXPECT_EQ(Pixel(b, 3, 3), (Bytes{77, 77, 77})) << at;
                }
            } catch (const EReadError& e) {
                const std::string message = e.what();
                EXPECT_EQ(message.rfind("Stream read error in memory at byte offset ", 0), 0u) << at << ": " << message;
                EXPECT_TRUE(message.find(": PNG: ") != std::string::npos || message.find(": JPEG: ") != std::string::npos)
                    << at << ": " << message;
            }
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
