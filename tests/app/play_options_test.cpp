#include "app/play_options.h"

#include "tests/app/plane_scene.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <vector>

namespace vendrake {
namespace {

TPlayOptions Parse(std::initializer_list<const char*> args)
{
    std::vector<const char*> argv{"vendrake"};
    argv.insert(argv.end(), args);
    return ParsePlayOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(PlayOptions, TheOptionTable)
{
    const TPlayOptions none = Parse({});
    EXPECT_TRUE(none.Scene.empty() && none.Music.empty());
    EXPECT_FALSE(none.Window || none.Loop || none.ExitAtEnd || none.Stats || none.Help);
    EXPECT_EQ(none.Frames, 0);

    // The scene may come anywhere among the options.
    const TPlayOptions all =
        Parse({"--window", "shows/a b.y3d", "--music", "-song.mp3", "--loop", "--frames", "60", "--stats"});
    EXPECT_EQ(all.Scene, "shows/a b.y3d");
    EXPECT_EQ(all.Music, "-song.mp3");
    EXPECT_TRUE(all.Window && all.Loop && all.Stats);
    EXPECT_FALSE(all.ExitAtEnd);
    EXPECT_EQ(all.Frames, 60);
    EXPECT_TRUE(Parse({"--exit-at-end"}).ExitAtEnd);

    const std::pair<std::initializer_list<const char*>, std::string> bad[] = {
        {{"a.y3d", "b.y3d"}, "one scene at a time: 'a.y3d' and 'b.y3d'"},
        {{"--loop", "--exit-at-end"}, "--loop and --exit-at-end exclude each other"},
        {{"--music"}, "--music needs an MP3 file"},
        {{"--music", ""}, "--music needs an MP3 file"},
        {{"-"}, "unknown option '-'"},
        {{"--windowed"}, "unknown option '--windowed'"},
    };
    for (const auto& [args, message] : bad) {
        try {
            Parse(args);
            ADD_FAILURE() << "accepted: " << message;
        } catch (const EUsageError& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
}

TEST(PlayOptions, TheMusicIsTheOneGivenElseTheScenesOwnElseTheSharedOne)
{
    test::TTempFolder folder;
    const std::filesystem::path cwd = folder.Path();
    std::filesystem::create_directory(cwd / "show");
    auto touch = [](const std::string& path) { std::ofstream(path) << "x"; };
    touch(folder / "show/clip.y3d");

    // Nothing beside the scene: no music, and a line that says so.
    TPlayFiles files = ResolvePlayFiles(Parse({"show/clip.y3d"}), cwd);
    EXPECT_EQ(files.Scene, cwd / "show/clip.y3d");
    EXPECT_EQ(files.Folder, cwd / "show");
    EXPECT_EQ(files.Caption, "clip.y3d");
    EXPECT_TRUE(files.Music.empty());
    EXPECT_EQ(files.Notice, "no music for clip.y3d (looked for clip.mp3 and vendrake.mp3 beside it)");

    touch(folder / "show/vendrake.mp3");
    EXPECT_EQ(ResolvePlayFiles(Parse({"show/clip.y3d"}), cwd).Music, cwd / "show/vendrake.mp3");
    touch(folder / "show/clip.mp3");
    files = ResolvePlayFiles(Parse({"show/clip.y3d"}), cwd);
    EXPECT_EQ(files.Music, cwd / "show/clip.mp3");
    EXPECT_EQ(files.Notice, "");
    // --music is taken from the working directory, not the scene's.
    touch(folder / "song.mp3");
    EXPECT_EQ(ResolvePlayFiles(Parse({"show/clip.y3d", "--music", "song.mp3"}), cwd).Music, cwd / "song.mp3");

    // Without a scene, the working directory's files, as ever.
    files = ResolvePlayFiles(Parse({}), cwd);
    EXPECT_EQ(files.Scene, cwd / "ZuzezurAdor.y3d");
    EXPECT_EQ(files.Music, cwd / "vendrake.mp3");
    EXPECT_EQ(files.Folder, cwd);
    EXPECT_EQ(files.Caption, "Vendrake");
}

TEST(PlayOptions, WithoutASceneHereTheInstalledDemoPlays)
{
    test::TTempFolder folder;
    const std::filesystem::path cwd = folder.Path() / "here", demo = folder.Path() / "demo";
    std::filesystem::create_directory(cwd);
    std::filesystem::create_directory(demo);
    // No demo installed: the working directory's, whose absence loading reports.
    EXPECT_EQ(ResolvePlayFiles(Parse({}), cwd, demo).Folder, cwd);

    std::ofstream(demo / "ZuzezurAdor.y3d") << "x";
    TPlayFiles files = ResolvePlayFiles(Parse({}), cwd, demo);
    EXPECT_EQ(files.Scene, demo / "ZuzezurAdor.y3d");
    EXPECT_EQ(files.Music, demo / "vendrake.mp3");
    EXPECT_EQ(files.Folder, demo);
    std::ofstream(folder / "song.mp3") << "x";
    EXPECT_EQ(ResolvePlayFiles(Parse({"--music", "../song.mp3"}), cwd, demo).Music, cwd / "../song.mp3");

    // A scene in the working directory wins, as does a named one.
    std::ofstream(cwd / "ZuzezurAdor.y3d") << "x";
    EXPECT_EQ(ResolvePlayFiles(Parse({}), cwd, demo).Folder, cwd);
    std::ofstream(folder / "mine.y3d") << "x";
    EXPECT_EQ(ResolvePlayFiles(Parse({"../mine.y3d"}), cwd, demo).Folder, cwd / "..");
}

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
    // A monitor width of 0: an ordinary window.
    const std::string windowed = unlimited.Report(0, "", 0, 0);
    EXPECT_TRUE(windowed.ends_with("; no sound output; in a window")) << windowed;
}

} // namespace
} // namespace vendrake
