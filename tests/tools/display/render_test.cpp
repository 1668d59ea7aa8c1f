// y3d render draws through GLX when an X display is there and through EGL
// when none is: the same picture either way.
#include "tests/support/x_helpers.h"
#include "tests/tools/demo_support.h"

#include "tools/y3d/render.h"

#include <cstdlib>

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

} // namespace
} // namespace vendrake
