#include "math/angle.h"
#include "math/quaternion.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vendrake;

namespace {
const float Cos45 = static_cast<float>(std::cos(std::numbers::pi / 4));
const float Sin45 = static_cast<float>(std::sin(std::numbers::pi / 4));
} // namespace

TEST(Quaternion, AxisAngleRoundTrip)
{
    const TQuat q = TQuaternion::FromAxisAngle({90, 0, 0, 1});
    EXPECT_EQ(q.w, Cos45);
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_EQ(q.z, Sin45);

    const TQuat aa = TQuaternion::ToAxisAngle(q);
    EXPECT_NEAR(aa.w, 90.0f, 1e-4f);
    EXPECT_EQ(aa.z, 1.0f);

    EXPECT_EQ(TQuaternion::ToAxisAngle({1, 0, 0, 0}), (TQuat{0, 1, 0, 0}));

    // The axis is used unnormalised.
    EXPECT_FLOAT_EQ(TQuaternion::FromAxisAngle({180, 0, 2, 0}).y, 2.0f);

    // The normalising round trip keeps w and rescales the vector part; a zero
    // vector part becomes the identity rotation.
    const TQuat n = TQuaternion::FromAxisAngle(TQuaternion::ToAxisAngle({0.5f, 2, 0, 0}));
    EXPECT_NEAR(n.w, 0.5f, 1e-6f);
    EXPECT_NEAR(n.x, std::sqrt(0.75f), 1e-6f);
    const TQuat id = TQuaternion::FromAxisAngle(TQuaternion::ToAxisAngle({-3, 0, 0, 0}));
    EXPECT_EQ(id, (TQuat{1, 0, 0, 0}));
}

TEST(Quaternion, ToAxisAngleToleratesWJustAboveOne)
{
    // A float quaternion normalised elsewhere can carry w = 1 + ulp.
    const TQuat aa = TQuaternion::ToAxisAngle({std::nextafter(1.0f, 2.0f), 1e-4f, 0, 0});
    EXPECT_FALSE(std::isnan(aa.w));
    EXPECT_EQ(aa.w, 0.0f);
    EXPECT_EQ(aa.x, 1.0f);
}

TEST(Quaternion, SlerpEndsThresholdsAndNoShortestArc)
{
    const TQuat p = TQuaternion::FromAxisAngle({30, 0, 1, 0});
    const TQuat q = TQuaternion::FromAxisAngle({100, 0, 1, 0});
    EXPECT_EQ(TQuaternion::Slerp(p, q, 0), p);
    const TQuat one = TQuaternion::Slerp(p, q, 1);
    EXPECT_NEAR(one.w, q.w, 1e-6f);
    EXPECT_NEAR(one.y, q.y, 1e-6f);
    const TQuat half = TQuaternion::Slerp(p, q, 0.5f);
    const TQuat mid = TQuaternion::FromAxisAngle({65, 0, 1, 0});
    EXPECT_NEAR(half.w, mid.w, 1e-6f);
    EXPECT_NEAR(half.y, mid.y, 1e-6f);

    for (float t : {0.0f, 0.3f, 1.0f})
        EXPECT_EQ(TQuaternion::Slerp(p, p, t), p);
    const TQuat minusP{-p.w, -p.x, -p.y, -p.z};
    EXPECT_EQ(TQuaternion::Slerp(p, minusP, 0.5f), p);

    // Just below the threshold (sin theta < 0.001) the first input comes back.
    const TQuat close = TQuaternion::FromAxisAngle({30.1f, 0, 1, 0});
    EXPECT_EQ(TQuaternion::Slerp(p, close, 0.5f), p);

    // No shortest-arc correction: with a negative dot product the
    // interpolation takes the long way round, through w < 0 territory.
    const TQuat a{1, 0, 0, 0};
    const TQuat b{-0.6f, 0, 0.8f, 0};
    const TQuat longWay = TQuaternion::Slerp(a, b, 0.5f);
    EXPECT_GT(longWay.w, 0.0f);
    EXPECT_NEAR(longWay.w * longWay.w + longWay.y * longWay.y, 1.0f, 1e-5f);
    EXPECT_NEAR(longWay.y / longWay.w, 0.8 / (1 - 0.6), 1e-4);
}

TEST(Quaternion, ToMatrixIsTransposedForOpenGL)
{
    const TMatrix4 m = TQuaternion::ToMatrix({Cos45, 0, 0, Sin45});
    EXPECT_NEAR(m[1], -1.0f, 1e-6f);
    EXPECT_NEAR(m[4], 1.0f, 1e-6f);
    EXPECT_NEAR(m[0], 0.0f, 1e-6f);
    EXPECT_EQ(m[10], 1.0f);
    EXPECT_EQ(m[15], 1.0f);
    for (int i : {3, 7, 11, 12, 13, 14})
        EXPECT_EQ(m[i], 0.0f);

    // Products are rounded to float before the sum: 1 - (yy + zz) with
    // yy = float(y * 2y) and zz = float(z * 2z).
    const TQuat q{0.1f, 0.3f, 0.7f, 0.2f};
    const double yy = static_cast<float>(double(q.y) * (q.y + q.y));
    const double zz = static_cast<float>(double(q.z) * (q.z + q.z));
    EXPECT_EQ(TQuaternion::ToMatrix(q)[0], static_cast<float>(1.0 - (yy + zz)));
}

TEST(Quaternion, QuaternionToMatrixNormalises)
{
    const TMatrix4 turn = QuaternionToMatrix(0, 0, 2, 0);
    EXPECT_EQ(turn, TQuaternion::ToMatrix({0, 0, 0, 1}));
    EXPECT_EQ(turn[0], -1.0f);
    EXPECT_EQ(turn[5], -1.0f);
    EXPECT_EQ(turn[10], 1.0f);

    EXPECT_EQ(QuaternionToMatrix(0, 0, 0, 0), TMatrix::Identity());

    // Vector part first: (x, y, z, w) = (0, 0, sin 45, cos 45) is the same
    // rotation as TQuat (cos 45, 0, 0, sin 45), whatever the length.
    const TMatrix4 a = QuaternionToMatrix(0, 0, 3 * Sin45, 3 * Cos45);
    const TMatrix4 b = TQuaternion::ToMatrix({Cos45, 0, 0, Sin45});
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(a[i], b[i], 1e-6f);
}

TEST(Angle, HugeArgumentsGiveZero)
{
    EXPECT_EQ(Sine(9.3e18), 0.0);
    EXPECT_EQ(Cosine(-9.3e18), 0.0);
    EXPECT_NE(Sine(9.2e18), 0.0);
    EXPECT_EQ(TQuaternion::FromAxisAngle({2e21f, 1, 0, 0}), (TQuat{0, 0, 0, 0}));
}
