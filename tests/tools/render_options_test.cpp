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
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1"}), "give one of --out FRAME.png, --out-dir DIR or --video FILE");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--out", "f.png", "--out-dir", "d"}),
              "give one of --out FRAME.png, --out-dir DIR or --video FILE");
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

TEST(RenderOptions, VideosAndSpans)
{
    const y3d::TRenderOptions plain = ParseRenderOptions({"s.y3d", "--video", "v.mp4"});
    EXPECT_TRUE(plain.Span);
    EXPECT_DOUBLE_EQ(plain.From, 0);
    EXPECT_LT(plain.To, 0); // the scene's end
    EXPECT_DOUBLE_EQ(plain.Fps, 60);
    EXPECT_EQ(plain.Crf, 18);
    EXPECT_EQ(plain.Width, 800);
    EXPECT_EQ(plain.Height, 600);
    EXPECT_EQ(plain.Music, "");

    const y3d::TRenderOptions full = ParseRenderOptions({"s.y3d", "--video", "v.WEBM", "--from", "10", "--to", "14",
                                                         "--fps", "25", "--crf", "60", "--music", "m.mp3"});
    EXPECT_DOUBLE_EQ(full.From, 10);
    EXPECT_DOUBLE_EQ(full.To, 14);
    EXPECT_DOUBLE_EQ(full.Fps, 25);
    EXPECT_EQ(full.Crf, 60);
    EXPECT_EQ(full.Music, "m.mp3");

    // PNG sequences take a span too, and keep --time and --frames.
    const y3d::TRenderOptions pngs = ParseRenderOptions({"s.y3d", "--from", "2", "--to", "3", "--out-dir", "d"});
    EXPECT_TRUE(pngs.Span);
    EXPECT_DOUBLE_EQ(pngs.Fps, 25);
    EXPECT_TRUE(ParseRenderOptions({"s.y3d", "--out-dir", "d"}).Span);
    EXPECT_FALSE(ParseRenderOptions({"s.y3d", "--time", "2", "--out-dir", "d"}).Span);

    EXPECT_EQ(Refusal({"s.y3d", "--video", "v.avi"}),
              "v.avi: unknown video type \".avi\" (.mp4 or .mkv for H.264, .webm for VP9)");
    EXPECT_EQ(Refusal({"s.y3d", "--video", "v.mkv", "--crf", "52"}), "--crf: 52 is outside 0 to 51 for .mkv");
    EXPECT_EQ(Refusal({"s.y3d", "--video", "v.mp4", "--time", "3"}),
              "a video takes --from and --to, not --time and --frames");
    EXPECT_EQ(Refusal({"s.y3d", "--video", "v.mp4", "--size", "801x600"}),
              "--size: a video's width and height must be even");
    EXPECT_EQ(Refusal({"s.y3d", "--video", "v.mp4", "--from", "5", "--to", "5"}), "the span from 5 s to 5 s is empty");
    EXPECT_EQ(Refusal({"s.y3d", "--crf", "20", "--out-dir", "d"}), "--crf needs --video");
    EXPECT_EQ(Refusal({"s.y3d", "--music", "m.mp3", "--out-dir", "d"}), "--music needs --video");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--from", "2", "--out", "f.png"}),
              "--from and --to need --out-dir or --video");
    EXPECT_EQ(Refusal({"s.y3d", "--time", "1", "--to", "2", "--out-dir", "d"}),
              "--time and --frames or --from and --to, not both");
    EXPECT_EQ(Refusal({"s.y3d", "--frames", "4", "--out-dir", "d"}), "--frames goes with --time");
}

} // namespace
} // namespace vendrake
