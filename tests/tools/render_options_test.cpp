// The render command's line: what it accepts and what it refuses.
#include "tools/y3d/render.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vendrake {
namespace {

using y3d::ParseRenderOptions;

std::string Refusal(const std::vector<std::string>& args)
{
    try {
        ParseRenderOptions(args);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(RenderOptions, FrameAndSequence)
{
    const y3d::TRenderOptions one = ParseRenderOptions({"scene.y3d", "--time", "12.5", "--out", "f.png"});
    EXPECT_EQ(one.SceneFile, "scene.y3d");
    EXPECT_DOUBLE_EQ(one.Time, 12.5);
    EXPECT_EQ(one.Width, 800);
    EXPECT_EQ(one.Height, 600);
    EXPECT_EQ(one.Frames, 1);
    EXPECT_TRUE(one.Planes);
    EXPECT_EQ(one.Out, "f.png");

    const y3d::TRenderOptions many = ParseRenderOptions(
        {"--time", "3", "--frames", "40", "--fps", "20", "--size", "320x200", "--no-planes", "s.y3d", "--out-dir", "d"});
    EXPECT_EQ(many.SceneFile, "s.y3d");
    EXPECT_EQ(many.Frames, 40);
    EXPECT_DOUBLE_EQ(many.Fps, 20);
    EXPECT_EQ(many.Width, 320);
    EXPECT_EQ(many.Height, 200);
    EXPECT_FALSE(many.Planes);
    EXPECT_EQ(many.OutDir, "d");
}

TEST(RenderOptions, RefusesWhatItCannotDo)
{
    EXPECT_EQ(Refusal({"--time", "1", "--out", "f.png"}), "no scene file given");
    EXPECT_EQ(Refusal({"s.y3d", "--out", "f.png"}), "--time is required");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1"}), "give either --out FRAME.png or --out-dir DIR");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--out", "f.png", "--out-dir", "d"}),
              "give either --out FRAME.png or --out-dir DIR");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--frames", "3", "--out", "f.png"}), "--frames needs --out-dir");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "soon", "--out", "f.png"}), "--time: \"soon\" is not a number");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "-1", "--out", "f.png"}), "--time: -1 is outside 0 to 1000000 seconds");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "nan", "--out", "f.png"}), "--time: \"nan\" is not a number");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--size", "800", "--out", "f.png"}),
              "--size: \"800\" is not WIDTHxHEIGHT");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--size", "99999x10", "--out", "f.png"}),
              "--size: 99999 is not a whole number from 16 to 8192");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--frames", "0", "--out-dir", "d"}),
              "--frames: 0 is not a whole number from 1 to 100000");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--fps", "0", "--out-dir", "d"}), "--fps: 0 is outside 0 to 1000");
    EXPECT_EQ(Refusal({"s.y3d", "--time"}), "--time needs a value");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--zoom", "2", "--out", "f.png"}), "unknown option --zoom");
    EXPECT_EQ(Refusal({"a.y3d", "b.y3d", "--time", "1", "--out", "f.png"}), "more than one scene file: a.y3d and b.y3d");
}

} // namespace
} // namespace vendrake
