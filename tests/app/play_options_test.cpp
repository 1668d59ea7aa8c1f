#include "app/play_options.h"

#include <gtest/gtest.h>

namespace vendrake {
namespace {

TEST(FrameStats, CountsUpToTheLimitAndRatesTheFramesAfterTheFirst)
{
    // Started at 1 s; first swap 84.25 ms later, then one frame every 20 ms.
    const std::int64_t start = 1'000'000'000;
    TFrameStats stats(start, 4);
    EXPECT_EQ(stats.Report(0, "", 800, 600), "no frame shown; peak memory 0.0 MiB; no sound output; mode 800x600");
    std::int64_t t = start + 84'250'000;
    EXPECT_FALSE(stats.FrameShown(t));
    EXPECT_EQ(stats.Report(3 << 20, "alsa", 1280, 720),
              "first frame 84.2 ms after start; 1 frame; peak memory 3.0 MiB; sound through alsa; "
              "centred on 1280x720");
    EXPECT_FALSE(stats.FrameShown(t += 20'000'000));
    EXPECT_FALSE(stats.FrameShown(t += 20'000'000));
    EXPECT_TRUE(stats.FrameShown(t += 20'000'000));
    // Frames painted while the program winds down are not counted.
    EXPECT_FALSE(stats.FrameShown(t += 500'000'000));
    EXPECT_EQ(stats.Frames(), 4);
    EXPECT_EQ(stats.Report(std::int64_t(61) << 20, "pulse", 800, 600),
              "first frame 84.2 ms after start; 4 frames, 50.0 per second after the first; peak memory 61.0 MiB; "
              "sound through pulse; mode 800x600");

    TFrameStats unlimited(0, 0);
    for (int i = 0; i < 1000; ++i)
        EXPECT_FALSE(unlimited.FrameShown(i));
    EXPECT_EQ(unlimited.Frames(), 1000);
}

} // namespace
} // namespace vendrake
