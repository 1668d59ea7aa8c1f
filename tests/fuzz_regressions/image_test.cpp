#include "stream/stream.h"
#include "render/texture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vendrake;

namespace {

std::string LoadError(const std::vector<std::uint8_t>& bytes, int forcedWidth, int forcedHeight)
{
    TMemoryStream stream(bytes);
    TgrTexMap2d map;
    try {
        map.LoadImageStream(stream, forcedWidth, forcedHeight);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

// A 338-byte JPEG that claims 16385 x 16000 pixels decodes within the bitmap
// limit, but its power-of-two stretch (32768 x 16384) does not fit; that used
// to escape as a bare bitmap-size error naming neither the stream nor the
// image. Forced sides reach the same check without the big decode.
TEST(ImageRegressions, StretchBeyondTheBitmapLimitIsAReadError)
{
    const std::vector<std::uint8_t> pixel = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 7, 8, 9};
    EXPECT_EQ(LoadError(pixel, 65536, 32768),
              "Stream read error in memory at byte offset 0: image of 1 x 1 pixels stretched to 65536 x 32768 "
              "exceeds the bitmap limit");
    EXPECT_EQ(LoadError(pixel, 4, 2), "no error");
}
