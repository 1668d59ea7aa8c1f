// The vendrake program under Xvfb, watched from outside: it shows moving
// frames in its window, ends on Escape or a close request, and reports
// start-up errors on one line. It runs as on a machine with the output
// modules installed but no sound server and no sound card, unless a test
// starts a sound server of its own.
#include "tests/support/x_helpers.h"

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"
#include "tests/support/pulse_server.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace vendrake {
namespace {

// Ten seconds of silence, MPEG-1 layer III at 128 kbit/s: frames whose side
// information is all zeros.
void WriteSilentSong(const std::string& path)
{
    std::vector<char> frame(417, 0);
    const unsigned char header[] = {0xFF, 0xFB, 0x90, 0x00};
    std::copy(std::begin(header), std::end(header), frame.begin());
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 383; ++i)
        out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
}

struct ProgramDisplay : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        // A session of its own, where no sound server runs.
        setenv("HOME", Session.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", Session.Path().c_str(), 1);
        unsetenv("PULSE_SERVER");
    }

    std::unique_ptr<test::TProgram> Start(std::vector<std::string> args = {})
    {
        return std::make_unique<test::TProgram>(VENDRAKE_PROGRAM, Folder.Path(), test::TestDisplay(),
                                                std::move(args));
    }

    Window SurfaceOf(Window form) const { return test::SurfaceOf(Observer.Get(), form); }

    // Every eighth pixel of every eighth row of the window.
    std::vector<unsigned long> Screenshot(Window window) const
    {
        std::vector<unsigned long> samples;
        XImage* image = XGetImage(Observer.Get(), window, 0, 0, 800, 600, AllPlanes, ZPixmap);
        if (!image)
            return samples;
        for (int y = 0; y < 600; y += 8)
            for (int x = 0; x < 800; x += 8)
                samples.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return samples;
    }

    static bool Uniform(const std::vector<unsigned long>& samples)
    {
        return std::all_of(samples.begin(), samples.end(), [&](unsigned long p) { return p == samples.front(); });
    }

    // Waits for the program's window and for a frame that is not all one colour.
    Window WaitForFrames(test::TProgram& program, std::vector<unsigned long>& first)
    {
        Window form = 0;
        EXPECT_TRUE(test::WaitUntil(
            [&] { return !program.Running() || (form = test::FindProgramWindow(Observer.Get())) != 0; }, 30))
            << "no window";
        if (!form)
            return 0;
        const Window surface = SurfaceOf(form);
        EXPECT_NE(surface, 0u);
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                first = Screenshot(surface);
                return !first.empty() && !Uniform(first);
            },
            30))
            << "the window shows no picture";
        return form;
    }

    test::TTempFolder Folder;
    test::TTempFolder Session;
    test::TObserver Observer;
};

TEST_F(ProgramDisplay, ShowsMovingFramesAndEndsOnEscape)
{
    test::WritePlaneScene(Folder / "ZuzezurAdor.y3d");
    WriteSilentSong(Folder / "vendrake.mp3");
    auto program = Start();
    std::vector<unsigned long> first;
    const Window form = WaitForFrames(*program, first);
    ASSERT_NE(form, 0u);
    // Xvfb has no 800x600 mode: the window covers the screen and the
    // picture keeps its size in the middle.
    const Window surface = SurfaceOf(form);
    EXPECT_EQ(Observer.RootArea(form), (test::TArea{0, 0, 1024, 768}));
    EXPECT_EQ(Observer.RootArea(surface), (test::TArea{112, 84, 800, 600}));

    // The box sweeps across the view: the picture changes.
    EXPECT_TRUE(test::WaitUntil([&] { return Screenshot(surface) != first; }, 10)) << "the picture stands still";

    // Typed on the keyboard of the focused window: sent to the window
    // itself, the key release would find it gone.
    const std::string escape = "xdotool windowfocus --sync " + std::to_string(form) + " key Escape";
    ASSERT_EQ(std::system(escape.c_str()), 0);
    ASSERT_TRUE(program->Wait(1)) << "still running a second after Escape";
    EXPECT_EQ(program->ExitStatus(), 0);
    EXPECT_EQ(program->Stdout(), "");
    EXPECT_EQ(program->Stderr(), "");
}

TEST_F(ProgramDisplay, ACloseRequestEndsItLikeEscape)
{
    test::WritePlaneScene(Folder / "ZuzezurAdor.y3d");
    auto program = Start();
    std::vector<unsigned long> first;
    const Window form = WaitForFrames(*program, first);
    ASSERT_NE(form, 0u);

    test::RequestClose(Observer.Get(), form);
    ASSERT_TRUE(program->Wait(1)) << "still running a second after the close request";
    EXPECT_EQ(program->ExitStatus(), 0);
    EXPECT_EQ(program->Stderr(), "");
}

TEST_F(ProgramDisplay, AFrameCountEndsItByItselfAndStatsReportTheFramesAndTheSound)
{
    test::WritePlaneScene(Folder / "ZuzezurAdor.y3d");
    WriteSilentSong(Folder / "vendrake.mp3");
    // No sound server: the output modules give up at once, the picture
    // starts without waiting for them and the exit does not wait either.
    auto program = Start({"--frames", "60", "--stats"});
    ASSERT_TRUE(program->Wait(15)) << "still running after 15 seconds";
    EXPECT_EQ(program->ExitStatus(), 0);
    EXPECT_EQ(program->Stdout(), "");
    const std::string err = program->Stderr();
    double first = 0, rate = 0, peak = 0;
    int frames = 0, end = 0;
    ASSERT_EQ(std::sscanf(err.c_str(),
                          "vendrake: first frame %lf ms after start; %d frames, %lf per second after the "
                          "first; peak memory %lf MiB; %n",
                          &first, &frames, &rate, &peak, &end),
              4)
        << err;
    EXPECT_EQ(frames, 60);
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 1000);
    EXPECT_GT(rate, 0);
    EXPECT_GT(peak, 1);
    // A machine with a sound card may have played through ALSA. The
    // script's Xvfb has no 800x600 mode.
    const std::string rest = err.substr(static_cast<std::size_t>(end));
    EXPECT_TRUE(rest == "no sound output; centred on 1024x768\n" ||
                rest == "sound through alsa; centred on 1024x768\n")
        << err;

    // With a sound server, the song plays through it.
    {
        test::TPulseServer server;
        setenv("PULSE_SERVER", server.Address().c_str(), 1);
        auto heard = Start({"--frames", "25", "--stats"});
        ASSERT_TRUE(heard->Wait(15));
        unsetenv("PULSE_SERVER");
        EXPECT_EQ(heard->ExitStatus(), 0);
        const std::string report = heard->Stderr();
        EXPECT_NE(report.find("; sound through pulse; centred on 1024x768\n"), std::string::npos) << report;
        EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
    }

    // One that takes the connection and never answers keeps neither the
    // picture nor the exit waiting.
    {
        test::TPulseServer server;
        kill(server.Pid(), SIGSTOP);
        setenv("PULSE_SERVER", server.Address().c_str(), 1);
        auto frozen = Start({"--frames", "25", "--stats"});
        const bool ended = frozen->Wait(15);
        unsetenv("PULSE_SERVER");
        kill(server.Pid(), SIGCONT);
        ASSERT_TRUE(ended) << "still running with a frozen sound server";
        EXPECT_EQ(frozen->ExitStatus(), 0);
        const std::string report = frozen->Stderr();
        EXPECT_NE(report.find("; no sound output; centred on 1024x768\n"), std::string::npos) << report;
    }

    // Without --stats it ends as quietly as after Escape.
    auto quiet = Start({"--frames", "2"});
    ASSERT_TRUE(quiet->Wait(60));
    EXPECT_EQ(quiet->ExitStatus(), 0);
    EXPECT_EQ(quiet->Stderr(), "");
}

TEST_F(ProgramDisplay, PlaysASceneFromAnotherFolderWithItsMusicToItsEnd)
{
    // Four seconds long, its song beside it, started from the folder above.
    std::filesystem::create_directory(Folder.Path() / "show");
    test::TPlaneScene clip;
    clip.BoxSeconds = 4;
    test::WritePlaneScene(Folder / "show/clip.y3d", clip);
    WriteSilentSong(Folder / "show/clip.mp3");
    test::TPulseServer server;
    setenv("PULSE_SERVER", server.Address().c_str(), 1);
    auto program = Start({"show/clip.y3d", "--exit-at-end", "--stats"});
    const bool ended = program->Wait(30);
    unsetenv("PULSE_SERVER");
    ASSERT_TRUE(ended) << "still running 30 seconds into a 4 second scene";
    EXPECT_EQ(program->ExitStatus(), 0);
    const std::string err = program->Stderr();
    double first = 0, rate = 0;
    int frames = 0;
    ASSERT_EQ(std::sscanf(err.c_str(), "vendrake: first frame %lf ms after start; %d frames, %lf per second", &first,
                          &frames, &rate),
              3)
        << err;
    // From the first frame to the last, the scene's length, give or take
    // the first frame's own time and the last frame's.
    const double shown = (frames - 1) / rate;
    EXPECT_GT(shown, 3.8) << err;
    EXPECT_LT(shown, 4.3) << err;
    EXPECT_NE(err.find("; sound through pulse; "), std::string::npos) << err;
}

TEST_F(ProgramDisplay, StartUpErrorsAreOneLineAndStatusOne)
{
    auto expectError = [&](const std::string& what) {
        auto program = Start();
        ASSERT_TRUE(program->Wait(30));
        EXPECT_EQ(program->ExitStatus(), 1);
        const std::string err = program->Stderr();
        EXPECT_EQ(err.rfind("vendrake: ", 0), 0u) << err;
        EXPECT_NE(err.find("ZuzezurAdor.y3d"), std::string::npos) << err;
        EXPECT_NE(err.find(what), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(program->Stdout(), "");
    };
    // No scene file in the working folder.
    expectError("No such file");
    // A mesh chunk that ends inside its payload.
    {
        TFileStream out(Folder / "ZuzezurAdor.y3d", TFileMode::Create);
        TSceneWriter(out).Raw(0x4D455348, {1, 2, 3, 4, 5});
    }
    expectError("byte offset");
}

} // namespace
} // namespace vendrake
