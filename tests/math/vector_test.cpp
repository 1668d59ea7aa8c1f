#include "math/vector.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vendrake;

TEST(Vector, NormalizeRoundsTheLengthAndKeepsZero)
{
    EXPECT_EQ(TVector::Normalize({0, 0, 0}), (TVector3{0, 0, 0}));
    const TVector3 n = TVector::Normalize({3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);

    // The reciprocal is taken of the float-rounded length and rounded again:
    // (1, 1, 1) gives 1/float(sqrt 3) rounded to float, not 1/sqrt(3).
    const float len = static_cast<float>(std::sqrt(3.0));
    const float inv = static_cast<float>(1.0 / len);
    EXPECT_EQ(TVector::Normalize({1, 1, 1}).x, inv);
}

TEST(Vector, AddAndColourScale)
{
    EXPECT_EQ(TVector::Add({1, 2, 3}, {0.5f, -2, 4}), (TVector3{1.5f, 0, 7}));
    EXPECT_EQ(TColor::Scale({0.5f, 1, 0.25f}, 2), (TVector3{1, 2, 0.5f}));
    EXPECT_EQ(TColor::Make(0.1f, 0.2f, 0.3f, 0.4f), (TVector4{0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(TVector::Make4(1, 2, 3, 4).w, 4.0f);
}
