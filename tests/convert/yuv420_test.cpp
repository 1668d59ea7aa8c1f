// Rendered pixels as the video encoders take them: BT.709's studio-range
// values for the primaries, chroma from each 2 by 2 block's mean, in both
// pixel layouts and from bottom-up rows.
#include "convert/yuv420.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace vendrake {
namespace {

using TRgb = std::array<std::uint8_t, 3>;

TEST(Yuv420, StudioRangeBt709AndChromaFromEachBlocksMean)
{
    constexpr TRgb Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, White{255, 255, 255}, Black{0, 0, 0};
    // Three 2 by 2 blocks: red over blue, white over black, all green.
    const std::array<std::array<TRgb, 6>, 2> picture{{{Red, Red, White, White, Green, Green},
                                                      {Blue, Blue, Black, Black, Green, Green}}};
    for (const TPixelLayout layout : {TPixelLayout::Rgb, TPixelLayout::Bgra}) {
        SCOPED_TRACE(layout == TPixelLayout::Rgb ? "RGB" : "BGRA");
        const int size = layout == TPixelLayout::Rgb ? 3 : 4;
        // Bottom row first, as OpenGL reads them.
        std::vector<std::uint8_t> rows;
        for (int y = 1; y >= 0; --y)
            for (const TRgb& c : picture[std::size_t(y)]) {
                const TRgb bytes = layout == TPixelLayout::Rgb ? c : TRgb{c[2], c[1], c[0]};
                rows.insert(rows.end(), bytes.begin(), bytes.end());
                if (size == 4)
                    rows.push_back(0); // alpha, ignored
            }
        std::vector<std::uint8_t> y(6 * 2), cb(3), cr(3);
        ConvertToYuv420(rows.data() + 6 * size, -6 * size, 6, 2, layout, {y.data(), 6, cb.data(), cr.data(), 3});
        EXPECT_EQ(y, (std::vector<std::uint8_t>{63, 63, 235, 235, 173, 173, 32, 32, 16, 16, 173, 173}));
        // Red and blue average to (127.5, 0, 127.5); white and black to grey.
        EXPECT_EQ(cb, (std::vector<std::uint8_t>{171, 128, 42}));
        EXPECT_EQ(cr, (std::vector<std::uint8_t>{179, 128, 26}));
    }
}

} // namespace
} // namespace vendrake
