// The vendrake program without an X display: it says why on one line and
// ends with status 1.
#include <gtest/gtest.h>

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vendrake {
namespace {

TEST(Program, WithoutADisplayItSaysSoAndEndsWithStatusOne)
{
    test::TTempFolder folder;
    test::WritePlaneScene(folder / "ZuzezurAdor.y3d");
    // DISPLAY unset, and naming a server that does not exist.
    using TDisplay = std::optional<std::string>;
    for (const TDisplay& display : {TDisplay(), TDisplay(":4095")}) {
        test::TProgram program(VENDRAKE_PROGRAM, folder.Path(), display);
        ASSERT_TRUE(program.Wait(30));
        EXPECT_EQ(program.ExitStatus(), 1);
        const std::string err = program.Stderr();
        EXPECT_EQ(err.rfind("vendrake: cannot open X display", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(program.Stdout(), "");
    }
}

TEST(Program, CommandLine)
{
    test::TTempFolder folder;
    // Help goes to standard output before anything else is tried.
    test::TProgram help(VENDRAKE_PROGRAM, folder.Path(), std::nullopt, {"--help"});
    ASSERT_TRUE(help.Wait(30));
    EXPECT_EQ(help.ExitStatus(), 0);
    EXPECT_EQ(help.Stdout().rfind("usage: vendrake [SCENE.y3d] [--music FILE] [--window] [--loop | --exit-at-end] "
                                  "[--frames N] [--stats]\n",
                                  0),
              0u)
        << help.Stdout();
    EXPECT_EQ(help.Stderr(), "");

    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"--frames"}, "vendrake: --frames needs a number of frames\n"},
        {{"--frames", "0"}, "vendrake: --frames needs a whole number from 1 up, not '0'\n"},
        {{"--frames", "12x"}, "vendrake: --frames needs a whole number from 1 up, not '12x'\n"},
        {{"--frames", "99999999999999999999"},
         "vendrake: --frames needs a whole number from 1 up, not '99999999999999999999'\n"},
        {{"--fast"}, "vendrake: unknown option '--fast'\n"},
        {{"a.y3d", "--loop", "--exit-at-end"}, "vendrake: --loop and --exit-at-end exclude each other\n"},
    };
    for (const auto& [args, message] : bad) {
        test::TProgram program(VENDRAKE_PROGRAM, folder.Path(), std::nullopt, args);
        ASSERT_TRUE(program.Wait(30));
        EXPECT_EQ(program.ExitStatus(), 2) << message;
        const std::string err = program.Stderr();
        EXPECT_EQ(err.substr(0, err.find('\n') + 1), message);
        EXPECT_NE(err.find("usage: vendrake"), std::string::npos) << err;
        EXPECT_EQ(program.Stdout(), "");
    }

    // Files that cannot be read end the start-up before the display is
    // opened, named as they were given.
    test::WritePlaneScene(folder / "here.y3d");
    const std::pair<std::vector<std::string>, std::string> unreadable[] = {
        {{"gone.y3d"}, "vendrake: gone.y3d: No such file or directory\n"},
        {{"."}, "vendrake: .: is a folder, not a file\n"},
        {{"here.y3d", "--music", "gone.mp3"}, "vendrake: --music gone.mp3: No such file or directory\n"},
    };
    for (const auto& [args, message] : unreadable) {
        test::TProgram program(VENDRAKE_PROGRAM, folder.Path(), std::nullopt, args);
        ASSERT_TRUE(program.Wait(30));
        EXPECT_EQ(program.ExitStatus(), 1) << message;
        EXPECT_EQ(program.Stderr(), message);
    }
}

} // namespace
} // namespace vendrake
