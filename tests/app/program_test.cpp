// The vendrake program without an X display: it says why on one line and
// ends with status 1.
#include <gtest/gtest.h>

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"

#include <algorithm>

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

} // namespace
} // namespace vendrake
