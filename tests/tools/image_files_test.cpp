// The demo's image encoders, read back with the program's own image readers.
#include "stream/stream.h"
#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "tools/demo/image_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vendrake {
namespace {

using demo::TImage;

// Long runs (past the 128 pixels a packet can hold), short runs and noise.
TImage TestImage(int channels)
{
    TImage image(300, 7, channels);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const bool noisy = y >= 4 || (x > 200 && x % 3 == 0);
            const double v = noisy ? ((x * 37 + y * 91) % 256) / 255.0 : (x < 150 ? 0.2 : 0.7);
            image.Set(x, y, v, y / 7.0, x < 2 ? 1.0 : 0.5, (x % 5) / 4.0);
        }
    return image;
}

TBitmap Decode(const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    return ReadImageByContent(stream);
}

// The bitmap holds B, G, R(, A), rows top first.
void ExpectSamePixels(const TImage& image, const TBitmap& bitmap, const std::string& what)
{
    ASSERT_EQ(bitmap.Width(), image.Width) << what;
    ASSERT_EQ(bitmap.Height(), image.Height) << what;
    ASSERT_EQ(BitsPerPixel(bitmap.PixelFormat()), 8 * image.Channels) << what;
    const std::size_t n = std::size_t(image.Channels);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const std::uint8_t* want = &image.Pixels[(std::size_t(y) * std::size_t(image.Width) + std::size_t(x)) * n];
            const std::uint8_t* got = bitmap.ScanLine(y) + std::size_t(x) * n;
            const bool same = got[0] == want[2] && got[1] == want[1] && got[2] == want[0] && (n == 3 || got[3] == want[3]);
            ASSERT_TRUE(same) << what << ": pixel " << x << ", " << y;
        }
}

TEST(DemoImages, TargaAndPngReadBackExactly)
{
    for (int channels : {3, 4}) {
        const TImage image = TestImage(channels);
        for (bool runLength : {false, true})
            for (bool topFirst : {false, true}) {
                const std::vector<std::uint8_t> bytes = demo::EncodeTarga(image, runLength, topFirst);
                ExpectSamePixels(image, Decode(bytes),
                                 "Targa " + std::to_string(channels * 8) + (runLength ? " run-length" : " plain") +
                                     (topFirst ? " top first" : " bottom first"));
                EXPECT_EQ(bytes[2], runLength ? 10 : 2);
                EXPECT_EQ(bytes[17] & 0x20, topFirst ? 0x20 : 0);
                if (!runLength) {
                    EXPECT_EQ(bytes.size(), 18 + image.Pixels.size());
                }
            }
        ExpectSamePixels(image, Decode(demo::EncodePng(image)), "PNG " + std::to_string(channels * 8));
    }
    // Run-length coding pays off on flat areas.
    TImage flat(256, 256, 3);
    EXPECT_LT(demo::EncodeTarga(flat, true, false).size(), flat.Pixels.size() / 50);
}

TEST(DemoImages, JpegReadsBackClose)
{
    TImage image(64, 48, 3);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            image.Set(x, y, x / 63.0, y / 47.0, 0.5);
    const std::vector<std::uint8_t> bytes = demo::EncodeJpeg(image, 92);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    const TBitmap bitmap = Decode(bytes);
    ASSERT_EQ(bitmap.Width(), 64);
    ASSERT_EQ(bitmap.Height(), 48);
    ASSERT_EQ(BitsPerPixel(bitmap.PixelFormat()), 24);
    long error = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
                error += std::abs(int(bitmap.ScanLine(y)[x * 3 + c]) - int(image.Pixels[std::size_t((y * 64 + x) * 3 + 2 - c)]));
    EXPECT_LT(double(error) / (64 * 48 * 3), 3.0);

    EXPECT_THROW(demo::EncodeJpeg(TImage(4, 4, 4), 90), std::invalid_argument);
    TImage broken(4, 4, 3);
    broken.Pixels.pop_back();
    EXPECT_THROW(demo::EncodeTarga(broken, false, false), std::invalid_argument);
}

} // namespace
} // namespace vendrake
