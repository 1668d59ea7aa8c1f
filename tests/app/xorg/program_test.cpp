// The vendrake program on Xorg's dummy driver: the screen is 800 by 600
// while it runs, and the user's 1024 by 768 comes back however it ends.
#include "tests/platform/xorg/mode_probe.h"

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace vendrake {
namespace {

bool WaitUntil(const std::function<bool()>& condition, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Window FindForm()
{
    probe::TSession x;
    return x.Dpy ? test::FindProgramWindow(x.Dpy) : 0;
}

struct ProgramModes : probe::TModeSwitchTest {
    // Starts the program on a good scene and waits until it has switched
    // the screen and shows its window.
    std::unique_ptr<test::TProgram> StartRunning()
    {
        test::WritePlaneScene(Folder / "ZuzezurAdor.y3d");
        auto program = std::make_unique<test::TProgram>(VENDRAKE_PROGRAM, Folder.Path(), probe::DisplayName());
        EXPECT_TRUE(WaitUntil([&] { return !program->Running() || FindForm() != 0; }, 30)) << "no window";
        EXPECT_TRUE(program->Running()) << program->Stderr();
        EXPECT_TRUE(probe::ShowsSize(probe::ReadScreen(), 800, 600)) << "the screen was not switched";
        return program;
    }

    test::TTempFolder Folder;
};

TEST_F(ProgramModes, EscapeEndsTheRunAndGivesTheModeBack)
{
    auto program = StartRunning();
    const Window form = FindForm();
    ASSERT_NE(form, 0u);
    // Typed on the keyboard of the focused window: sent to the window
    // itself, the key release would find it gone.
    const std::string escape = "xdotool windowfocus --sync " + std::to_string(form) + " key Escape";
    ASSERT_EQ(std::system(escape.c_str()), 0);
    ASSERT_TRUE(program->Wait(5));
    EXPECT_EQ(program->ExitStatus(), 0);
    EXPECT_EQ(program->Stderr(), "");
    ExpectBase();
}

TEST_F(ProgramModes, InAWindowTheScreenKeepsItsMode)
{
    test::WritePlaneScene(Folder / "ZuzezurAdor.y3d");
    test::TProgram program(VENDRAKE_PROGRAM, Folder.Path(), probe::DisplayName(), {"--window", "--frames", "100"});
    ASSERT_TRUE(WaitUntil([&] { return !program.Running() || FindForm() != 0; }, 30)) << "no window";
    ExpectBase();
    ASSERT_TRUE(program.Wait(30));
    EXPECT_EQ(program.ExitStatus(), 0);
    EXPECT_EQ(program.Stderr(), "");
    ExpectBase();
}

TEST_F(ProgramModes, TerminationSignalsGiveTheModeBack)
{
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        auto program = StartRunning();
        program->Signal(signal);
        ASSERT_TRUE(program->Wait(5));
        EXPECT_EQ(program->TermSignal(), signal);
        ExpectBase();
    }
}

TEST_F(ProgramModes, AStartUpErrorGivesTheModeBackBeforeItIsReported)
{
    // The mode is switched before the scene is loaded; the missing file
    // then ends the start-up.
    test::TProgram program(VENDRAKE_PROGRAM, Folder.Path(), probe::DisplayName());
    ASSERT_TRUE(program.Wait(30));
    EXPECT_EQ(program.ExitStatus(), 1);
    const std::string err = program.Stderr();
    EXPECT_EQ(err.rfind("vendrake: ", 0), 0u) << err;
    EXPECT_NE(err.find("ZuzezurAdor.y3d"), std::string::npos) << err;
    ExpectBase();
}

} // namespace
} // namespace vendrake
