// y3d render draws through GLX when an X display is there and through EGL
// when none is: the same picture either way.
#include "tests/support/spawn.h"
#include "tests/support/x_helpers.h"
#include "tests/tools/demo_support.h"

#include "tools/y3d/render.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <sys/wait.h>

namespace vendrake {
namespace {

std::vector<std::uint8_t> Frame(const std::string& scene, double seconds, bool offscreen)
{
    y3d::TFramePainter painter(scene, 320, 240, true);
    EXPECT_EQ(painter.Offscreen(), offscreen);
    painter.Paint(seconds);
    return painter.ReadBack();
}

TEST(RenderOnADisplay, GlxAndEglPaintTheSameFrames)
{
    const std::string display = test::TestDisplay();
    ASSERT_FALSE(display.empty()) << "this test needs an X server";
    test::TScratchFolder folder;
    const std::string scene = test::WriteDemoScene(folder);
    for (double seconds : {12.0, 72.0}) {
        const std::vector<std::uint8_t> glx = Frame(scene, seconds, false);
        ::unsetenv("DISPLAY");
        const std::vector<std::uint8_t> egl = Frame(scene, seconds, true);
        ::setenv("DISPLAY", display.c_str(), 1);
        EXPECT_TRUE(glx == egl) << "at " << seconds << " s";
    }
}

// A display whose server has no GLX (a remote one, say) is no reason to fail:
// the frames come from EGL, as with no display at all.
TEST(RenderOnADisplay, ADisplayWithoutGlxPaintsOffScreen)
{
    test::TScratchFolder folder;
    const std::string scene = test::WriteDemoScene(folder);
    const std::vector<std::uint8_t> egl = [&] {
        const char* display = std::getenv("DISPLAY");
        const std::string saved = display ? display : "";
        ::unsetenv("DISPLAY");
        std::vector<std::uint8_t> frame = Frame(scene, 12.0, true);
        if (display)
            ::setenv("DISPLAY", saved.c_str(), 1);
        return frame;
    }();

    // The server writes the display number it chose to its standard output.
    const std::string numberFile = folder / "xvfb.number";
    const pid_t server = test::SpawnProcess("/usr/bin/Xvfb",
                                            {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp",
                                             "-extension", "GLX"},
                                            numberFile, folder / "xvfb.log");
    std::string number;
    for (int i = 0; i < 1000 && number.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream(numberFile) >> number;
    }
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    const std::vector<std::uint8_t> frame = Frame(scene, 12.0, true);
    if (display)
        ::setenv("DISPLAY", saved.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    EXPECT_TRUE(frame == egl);
}

} // namespace
} // namespace vendrake
