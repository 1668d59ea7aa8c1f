#include "anim/anim_prs.h"
#include "stream/stream.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vendrake;

namespace {

std::vector<std::uint8_t> Payload(std::int32_t kind, std::int32_t format, std::int32_t floats, std::int32_t count,
                      std::int32_t step, const std::vector<std::vector<float>>& records)
{
    TMemoryStream s;
    for (std::int32_t v : {5, 9, kind, format, floats, count, step})
        s.WriteInt32(v);
    for (const auto& r : records)
        for (float f : r)
            s.WriteSingle(f);
    return s.Bytes();
}

std::string Mult(const TMatrix4& m)
{
    return RecordedCall("glMultMatrixf", std::vector<float>(m.m.begin(), m.m.end()));
}

std::string ReadError(TMemoryStream& s)
{
    TgrAnimPRS node;
    try {
        node.ReadFromStream(s, false);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(AnimPRS, PositionTrackDrivesTheTranslation)
{
    TMemoryStream s(Payload(2, 1, 8, 3, 10,
                              {{0, 0, 0, 7, 7, 7, 7, 7}, {10, 0, 0, 7, 7, 7, 7, 7}, {10, 10, 0, 7, 7, 7, 7, 7}}));
    TgrAnimPRS node;
    node.ReadFromStream(s, false);
    EXPECT_EQ(s.Position(), s.Size()); // the extra floats of each record are consumed
    EXPECT_EQ(node.Id, 5);
    EXPECT_EQ(node.OwnerId, 9);
    ASSERT_TRUE(node.PositionTrack);
    EXPECT_FALSE(node.RotationTrack);
    EXPECT_EQ(node.PositionTrack->Interpolation, TAnim::Linear);
    EXPECT_TRUE(node.PositionTrack->AutoTangents);
    EXPECT_EQ(node.PositionTrack->Keys.Get(2)->Time, 20.0f);

    ASSERT_TRUE(node.PositionTrack->Evaluate(15));
    TMatrix4 expected = TMatrix::Identity();
    expected[12] = 10;
    expected[13] = 5;
    TGLRecorder rec;
    node.Action();
    EXPECT_EQ(rec.Log(), (std::vector<std::string>{"glPushMatrix()", Mult(expected), "glPopMatrix()"}));

    // A camera's transform applies the inverse.
    TMemoryStream t(Payload(2, 1, 3, 1, 10, {{1, 2, 3}}));
    TgrAnimPRS camera;
    camera.ReadFromStream(t, false);
    camera.Inverted = true;
    camera.PositionTrack->Evaluate(0);
    const TMatrix4 m = camera.CurrentMatrix();
    EXPECT_EQ(m[12], -1.0f);
    EXPECT_EQ(m[13], -2.0f);
    EXPECT_EQ(m[14], -3.0f);
    EXPECT_EQ(m[0], 1.0f);
}

TEST(AnimPRS, RotationsStayInOneHemisphere)
{
    const float s = std::sqrt(0.5f);
    // q, -q, q: the same orientation with alternating signs.
    TMemoryStream p(Payload(4, 1, 7, 3, 5,
                              {{0, 0, 0, 0, 0, s, s}, {1, 0, 0, 0, 0, -s, -s}, {2, 0, 0, 0, 0, s, s}}));
    TgrAnimPRS node;
    node.ReadFromStream(p, false);
    ASSERT_TRUE(node.RotationTrack);
    EXPECT_EQ(node.RotationTrack->Interpolation, TAnim::Slerp);
    EXPECT_EQ(node.PositionTrack->Interpolation, TAnim::KochanekBartels);
    const TAnimKey* first = node.RotationTrack->Keys.Get(0);
    for (int k = 1; k < 3; ++k)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(node.RotationTrack->Keys.Get(k)->Values[c].Value, first->Values[c].Value) << k << c;
    node.RotationTrack->Evaluate(3.7);
    EXPECT_NEAR(node.RotationTrack->Values[2].Value, s, 1e-6);
    EXPECT_NEAR(node.RotationTrack->Values[3].Value, s, 1e-6);

    // A zero record becomes the identity; a w a rounding step above 1 does not
    // turn into NaN.
    TMemoryStream z(Payload(4, 1, 7, 2, 1, {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 1e-4f, 0, 0, 1.0000001f}}));
    TgrAnimPRS zero;
    zero.ReadFromStream(z, false);
    const TAnimKey* id = zero.RotationTrack->Keys.Get(0);
    EXPECT_EQ(id->Values[0].Value, 0.0);
    EXPECT_EQ(id->Values[3].Value, 1.0);
    for (int c = 0; c < 4; ++c)
        EXPECT_FALSE(std::isnan(zero.RotationTrack->Keys.Get(1)->Values[c].Value));

    // Before any evaluation the values are zero: identity rotation, origin.
    EXPECT_EQ(zero.CurrentMatrix(), TMatrix::Identity());
}

TEST(AnimPRS, UnreadTracksAndRejectedRecordShapes)
{
    // Key format other than 1: five words and no tracks.
    TMemoryStream f(Payload(4, 2, 7, 99, 99, {}));
    TgrAnimPRS plain;
    plain.ReadFromStream(f, false);
    EXPECT_EQ(f.Position(), 20);
    EXPECT_FALSE(plain.PositionTrack);
    // Unknown kind: count and step are read, the records are not.
    TMemoryStream u(Payload(3, 1, 7, 1, 1, {{1, 2, 3, 4, 5, 6, 7}}));
    plain.ReadFromStream(u, false);
    EXPECT_EQ(u.Position(), 28);
    EXPECT_FALSE(plain.PositionTrack);

    TMemoryStream shortRecords(Payload(2, 1, 2, 1, 1, {{1, 2}}));
    EXPECT_EQ(ReadError(shortRecords),
              "Stream read error in memory at byte offset 16: key records of 2 floats for track kind 2 "
              "(expected 3 to 10)");
    TMemoryStream noRotation(Payload(4, 1, 6, 1, 1, {{1, 2, 3, 4, 5, 6}}));
    EXPECT_NE(ReadError(noRotation).find("6 floats for track kind 4 (expected 7 to 10)"), std::string::npos);
    TMemoryStream tooLong(Payload(2, 1, 11, 1, 1, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}));
    EXPECT_NE(ReadError(tooLong).find("11 floats"), std::string::npos);
    TMemoryStream negative(Payload(2, 1, 3, -1, 1, {}));
    EXPECT_EQ(ReadError(negative), "Stream read error in memory at byte offset 20: negative key count -1");
    TMemoryStream huge(Payload(4, 1, 10, 0x7FFFFFFF, 1, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}));
    EXPECT_EQ(ReadError(huge), "Stream read error in memory at byte offset 20: 2147483647 keys of 10 floats "
                               "need 85899345880 bytes, 40 remain");
}
