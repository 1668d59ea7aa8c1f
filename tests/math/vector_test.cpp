#include "math/vector.h"

#include <gtest/gtest.h>

using namespace vendrake;

TEST(Vector, NormalizeRoundsTheLengthAndKeepsZero)
{
    EXPECT_EQ(TVector::Normalize({0, 0, 0}), (TVector3{0, 0, 0}));
    const TVector3 n = TVector::Normalize({3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);

    // The reciprocal is taken of the float-rounded length and rounded again:
    // for (5, 5, 5) that gives 0.57735020, one step below the 0.57735026 that
    // an unrounded length or reciprocal gives.
    const float c = 0.5773502f;
    EXPECT_EQ(TVector::Normalize({5, 5, 5}), (TVector3{c, c, c}));
}

TEST(Vector, AddAndColourScale)
{
    EXPECT_EQ(TVector::Add({1, 2, 3}, {0.5f, -2, 4}), (TVector3{1.5f, 0, 7}));
    EXPECT_EQ(TColor::Scale({0.5f, 1, 0.25f}, 2), (TVector3{1, 2, 0.5f}));
    EXPECT_EQ(TColor::Make(0.1f, 0.2f, 0.3f, 0.4f), (TVector4{0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(TVector::Make4(1, 2, 3, 4).w, 4.0f);
}
