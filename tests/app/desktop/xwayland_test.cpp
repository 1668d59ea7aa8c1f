// The vendrake program under Xwayland (weston's): the compositor owns the
// real outputs, and Xwayland emulates the mode change for the connection
// that asked for it, on that connection's windows.
#include "tests/support/weston_session.h"
#include "tests/support/x_helpers.h"

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"

#include <cstdlib>
#include <string>

namespace vendrake {
namespace {

TEST(ProgramOnXwayland, ItsWindowGetsTheEmulatedModeAndEscapeStillEndsIt)
{
    test::TWestonSession weston;
    test::TTempFolder folder;
    test::WritePlaneScene(folder / "ZuzezurAdor.y3d");
    test::TObserver observer(weston.Name());
    test::TProgram program(VENDRAKE_PROGRAM, folder.Path(), weston.Name(), {"--stats"});
    Window form = 0;
    ASSERT_TRUE(test::WaitUntil(
        [&] { return !program.Running() || (form = test::FindProgramWindow(observer.Get())) != 0; }, 30))
        << "no window";
    ASSERT_TRUE(program.Running()) << program.Stderr();

    // Left, top, width, height of the emulated monitor.
    const std::vector<long> emulated{0, 0, 800, 600};
    EXPECT_TRUE(test::WaitUntil(
        [&] { return observer.LongProperty(form, "_XWAYLAND_RANDR_EMU_MONITOR_RECTS") == emulated; }))
        << "no emulated 800x600 mode on the window";

    const std::string escape = "DISPLAY=" + weston.Name() + " xdotool windowfocus --sync " +
                               std::to_string(form) + " key Escape";
    ASSERT_EQ(std::system(escape.c_str()), 0);
    ASSERT_TRUE(program.Wait(5));
    EXPECT_EQ(program.ExitStatus(), 0);
    const std::string stats = program.Stderr();
    EXPECT_TRUE(stats.starts_with("vendrake: first frame ") && stats.ends_with("; mode 800x600\n")) << stats;
}

} // namespace
} // namespace vendrake
