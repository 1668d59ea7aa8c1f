#include "app/res_change.h"
#include "tests/platform/xorg/mode_probe.h"

namespace vendrake {
namespace {

using probe::ReadScreen;
using probe::ShowsSize;
using ResChangeTest = probe::TModeSwitchTest;

TEST_F(ResChangeTest, AppliesTheRequestAndRestoresTheUsersMode)
{
    {
        TResChange change;
        change.SetWidth(800);
        change.SetHeight(600);
        change.Restore();  // before any Apply: harmless
        ExpectBase();

        change.Apply();
        const std::optional<probe::TScreenState> now = ReadScreen();
        ASSERT_TRUE(ShowsSize(now, 800, 600));
        EXPECT_EQ(now->Depth, Base.Depth);
        change.Restore();
        ExpectBase();

        change.Apply();
        EXPECT_TRUE(ShowsSize(ReadScreen(), 800, 600));
    }
    // Destroying the changer restores as well.
    ExpectBase();
}

TEST_F(ResChangeTest, AZeroDimensionStaysAsItIs)
{
    probe::TScopedMode wide(1024, 600, 60.0);
    TResChange change;
    change.SetWidth(0);
    change.SetHeight(600);
    change.Apply();
    EXPECT_TRUE(ShowsSize(ReadScreen(), 1024, 600));
    change.Restore();
    ExpectBase();

    // 800x768 does not exist: the display stays as it is.
    change.SetWidth(800);
    change.SetHeight(0);
    change.Apply();
    ExpectBase();
}

} // namespace
} // namespace vendrake
