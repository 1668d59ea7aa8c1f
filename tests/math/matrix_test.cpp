#include "math/matrix.h"
#include "math/quaternion.h"

#include <gtest/gtest.h>

using namespace vendrake;

namespace {

TMatrix4 Translation(float x, float y, float z)
{
    TMatrix4 m = TMatrix::Identity();
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

TMatrix4 Sample()
{
    TMatrix4 m;
    for (int i = 0; i < 16; ++i)
        m[i] = static_cast<float>((i * 7 + 3) % 11) - 4.5f;
    return m;
}

void ExpectNear(const TMatrix4& a, const TMatrix4& b, float tolerance)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(a[i], b[i], tolerance) << "element " << i;
}

} // namespace

TEST(Matrix, MultiplyAppliesTheFirstArgumentFirst)
{
    const TMatrix4 a = Sample();
    EXPECT_EQ(TMatrix::Multiply(a, TMatrix::Identity()), a);
    EXPECT_EQ(TMatrix::Multiply(TMatrix::Identity(), a), a);

    const TMatrix4 t = TMatrix::Multiply(Translation(1, 2, 3), Translation(10, 20, 30));
    EXPECT_EQ(t[12], 11.0f);
    EXPECT_EQ(t[13], 22.0f);
    EXPECT_EQ(t[14], 33.0f);

    // Rotate 90 degrees about z after translating by x: in OpenGL's reading
    // the product is rotation * translation, so the translation turns too.
    const TMatrix4 r = TQuaternion::ToMatrix(TQuaternion::FromAxisAngle({90, 0, 0, 1}));
    const TMatrix4 rt = TMatrix::Multiply(Translation(1, 0, 0), r);
    EXPECT_NEAR(rt[12], r[0], 1e-6f);
    EXPECT_NEAR(rt[13], r[1], 1e-6f);
}

TEST(Matrix, InvertRotationPlusTranslation)
{
    TMatrix4 m = QuaternionToMatrix(0.1f, -0.4f, 0.7f, 0.55f);
    m[12] = 5;
    m[13] = -3;
    m[14] = 12;
    TMatrix4 inv;
    TMatrix::Invert(m, inv);
    ExpectNear(TMatrix::Multiply(m, inv), TMatrix::Identity(), 1e-5f);
    ExpectNear(TMatrix::Multiply(inv, m), TMatrix::Identity(), 1e-5f);
}

TEST(Matrix, InvertPivotsOnTheLargestEntry)
{
    // The first column's tiny first entry is not zero, but dividing by it
    // swamps the rest in float: the pivot search must take the largest
    // magnitude, negative ones included. The zero on the third diagonal entry
    // needs a row swap. The inverse is [1 -1; 1 0] and [-1/8 1/4; 1/2 0],
    // up to terms of order 1e-7.
    TMatrix4 m;
    const float rows[16] = {1e-7f, 1, 0, 0,
                            -1, 1, 0, 0,
                            0, 0, 0, 2,
                            0, 0, 4, 1};
    for (int i = 0; i < 16; ++i)
        m[i] = rows[i];
    TMatrix4 inv;
    TMatrix::Invert(m, inv);
    const float expected[16] = {1, -1, 0, 0,
                                1, 0, 0, 0,
                                0, 0, -0.125f, 0.25f,
                                0, 0, 0.5f, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(inv[i], expected[i], 1e-6f) << "element " << i;

    const TMatrix4 s = Sample();
    TMatrix4 sinv;
    TMatrix::Invert(s, sinv);
    ExpectNear(TMatrix::Multiply(sinv, s), TMatrix::Identity(), 1e-4f);
}

TEST(Matrix, InvertLeavesTheResultAloneWhenSingular)
{
    TMatrix4 zeroColumn = Sample();
    for (int r = 0; r < 4; ++r)
        zeroColumn[4 * r + 2] = 0;
    TMatrix4 result = Translation(7, 8, 9);
    TMatrix::Invert(zeroColumn, result);
    EXPECT_EQ(result, Translation(7, 8, 9));

    // Singular only after elimination: one row twice another.
    TMatrix4 twins;
    const float rows[16] = {1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 0};
    for (int i = 0; i < 16; ++i)
        twins[i] = rows[i];
    result = Translation(1, 1, 1);
    TMatrix::Invert(twins, result);
    EXPECT_EQ(result, Translation(1, 1, 1));
}
