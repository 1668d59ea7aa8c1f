#include "app/res_change.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vendrake {
namespace {

bool SameRecord(const DEVMODEA& a, const DEVMODEA& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The request carries width and height and nothing else: no depth, no refresh.
TEST(ResChange, RequestsOnlyWidthAndHeight)
{
    TResChange change;
    DEVMODEA expected{};
    expected.dmSize = 156;
    EXPECT_TRUE(SameRecord(change.RequestedMode(), expected));

    change.SetWidth(800);
    change.SetHeight(600);
    expected.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    expected.dmPelsWidth = 800;
    expected.dmPelsHeight = 600;
    EXPECT_TRUE(SameRecord(change.RequestedMode(), expected));

    change.SetWidth(0);
    expected.dmFields = DM_PELSHEIGHT;
    expected.dmPelsWidth = 0;
    EXPECT_TRUE(SameRecord(change.RequestedMode(), expected));

    change.SetHeight(0);
    change.SetWidth(640);
    expected.dmFields = DM_PELSWIDTH;
    expected.dmPelsWidth = 640;
    expected.dmPelsHeight = 0;
    EXPECT_TRUE(SameRecord(change.RequestedMode(), expected));
}

} // namespace
} // namespace vendrake
