#include "render/light.h"

#include "stream/chunk.h"
#include "stream/stream.h"
#include "scene/gl_entry_points.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

// The light record as the file holds it; the unused words carry noise to
// show that nothing reads them.
struct TLightFields {
    std::string Name = "Omni01";
    bool Spot = false, Directional = false;
    float Red = 1, Green = 1, Blue = 1, Multiplier = 1;
    bool Diffuse = false, Specular = false, Attenuation = false;
    float Distance = 0, Cone = 0;
    std::int32_t On = 1; // the word written for a flag that is on

    void Write(TStream& s) const
    {
        s.WriteInt32(21);
        s.WriteInt32(3);
        s.WriteInt32(0);
        s.WriteInt32(static_cast<std::int32_t>(Name.size()));
        s.WriteBuffer(Name.data(), Name.size());
        const auto flag = [&](bool on) { s.WriteInt32(on ? On : 0); };
        const auto noise = [&] { s.WriteInt32(0x7F7F7F7F); };
        noise();
        noise();
        flag(Spot);
        flag(Directional);
        for (float v : {Red, Green, Blue, Multiplier})
            s.WriteSingle(v);
        noise();
        noise();
        flag(Diffuse);
        flag(Specular);
        flag(Attenuation);
        noise();
        s.WriteSingle(Distance);
        noise();
        s.WriteSingle(Cone);
        for (int i = 0; i < 7; ++i)
            noise();
    }
};

std::shared_ptr<TgrLight> ReadLight(const TLightFields& fields)
{
    TMemoryStream s;
    fields.Write(s);
    EXPECT_EQ(s.Size(), 16 + 96 + static_cast<std::int64_t>(fields.Name.size()));
    s.Seek(0);
    auto light = std::static_pointer_cast<TgrLight>(TgrLight::ClassRef().Create());
    EXPECT_TRUE(light->Is<TgrPositional>());
    EXPECT_TRUE(light->ReadFromStream(s, false));
    EXPECT_EQ(s.Position(), s.Size());
    return light;
}

class TMarker : public TgrTree {
    VENDRAKE_NODE_CLASS(TMarker, TgrTree)
public:
    explicit TMarker(float id = 0) : FId(id) {}
    void Action() override
    {
        gl.glVertex2f(FId, 0);
        TgrTree::Action();
    }

private:
    float FId;
};

std::string Lightfv(GLenum light, GLenum pname, std::vector<float> values)
{
    return RecordedCall("glLightfv", light, pname, values);
}
std::string Lightf(GLenum light, GLenum pname, float value)
{
    return RecordedCall("glLightf", light, pname, value);
}
std::string MaxLights(GLint n)
{
    return RecordedCall("glGetIntegerv", GL_MAX_LIGHTS, std::vector<GLint>{n});
}

} // namespace

TEST(Light, RecordBecomesOpenGLParameters)
{
    TGLRecorder rec;

    // Diffuse only, multiplied; reading turns the global ambient light off.
    TLightFields f;
    f.Red = 1, f.Green = 0.5f, f.Blue = 0, f.Multiplier = 2;
    f.Diffuse = true;
    const auto diffuse = ReadLight(f);
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glLightModelfv", GL_LIGHT_MODEL_AMBIENT,
                                             std::vector<float>{0, 0, 0, 0})}));
    EXPECT_EQ(diffuse->Id, 21);
    EXPECT_EQ(diffuse->ParentId, 3);
    EXPECT_EQ(diffuse->Name, "Omni01");
    EXPECT_EQ(diffuse->Diffuse, (TVector4{2, 1, 0, 1}));
    EXPECT_EQ(diffuse->Specular, (TVector4{0, 0, 0, 0}));
    EXPECT_EQ(diffuse->Ambient, (TVector4{0, 0, 0, 0}));
    EXPECT_EQ(diffuse->Position, (TVector4{0, 0, 0, 1}));
    EXPECT_FALSE(diffuse->IsSpot);
    EXPECT_FALSE(diffuse->Attenuated);

    // Spot with a 90 degree cone, attenuation distance 10, specular only,
    // directional; any positive word counts as on.
    f = TLightFields{};
    f.On = 42;
    f.Spot = f.Attenuation = f.Specular = f.Directional = true;
    f.Cone = 90;
    f.Distance = 10;
    f.Red = 0.5f, f.Green = 0.25f, f.Blue = 1, f.Multiplier = 0.5f;
    const auto spot = ReadLight(f);
    EXPECT_TRUE(spot->IsSpot);
    EXPECT_EQ(spot->SpotCutoff, 45.0f);
    EXPECT_NEAR(spot->SpotExponent, 26.98f, 0.005f);
    EXPECT_EQ(spot->SpotExponent, static_cast<float>(128.0 / std::sqrt(22.5)));
    EXPECT_EQ(spot->SpotDirection, (TVector3{0, 0, -1}));
    EXPECT_TRUE(spot->Attenuated);
    EXPECT_EQ(spot->ConstantAttenuation, 1.0f);
    EXPECT_EQ(spot->LinearAttenuation, 0.0f);
    EXPECT_EQ(spot->QuadraticAttenuation, 0.04f);
    EXPECT_EQ(spot->Specular, (TVector4{0.25f, 0.125f, 0.5f, 1}));
    EXPECT_EQ(spot->Diffuse, (TVector4{0, 0, 0, 0}));
    EXPECT_EQ(spot->Position, (TVector4{0, 0, 0, 0}));

    // A zero distance and a negative or NaN cone would hand OpenGL infinity
    // and NaN, which pass its range checks: the light stays unattenuated and
    // round.
    for (const float cone : {-30.0f, std::nanf("")}) {
        f.Cone = cone;
        f.Distance = 0;
        const auto degenerate = ReadLight(f);
        EXPECT_FALSE(degenerate->IsSpot);
        EXPECT_FALSE(degenerate->Attenuated);
        EXPECT_EQ(degenerate->Specular, (TVector4{0.25f, 0.125f, 0.5f, 1}));
    }

    // Negative words are off.
    f.On = -1;
    const auto off = ReadLight(f);
    EXPECT_FALSE(off->IsSpot);
    EXPECT_FALSE(off->Attenuated);
    EXPECT_EQ(off->Position, (TVector4{0, 0, 0, 1}));
    EXPECT_EQ(off->Specular, (TVector4{0, 0, 0, 0}));
}

TEST(Light, ReadsBehindAChunkHeaderAndRejectsShortRecords)
{
    TMemoryStream s;
    TChunkHeader header;
    header.Write(s);
    TLightFields f;
    f.Name = std::string("L\0xx", 4);
    f.Diffuse = true;
    f.Multiplier = 3;
    f.Write(s);
    s.Seek(0);
    {
        TGLRecorder rec;
        TgrLight light;
        light.ReadFromStream(s, true);
        EXPECT_EQ(light.Name, "L");
        EXPECT_EQ(light.Diffuse, (TVector4{3, 3, 3, 1}));
        EXPECT_EQ(s.Position(), s.Size());
    }

    // Without any OpenGL bound (a tool reading the file) the light still loads.
    {
        const auto bound = std::exchange(gl.glLightModelfv, nullptr);
        s.Seek(0);
        TgrLight unbound;
        unbound.ReadFromStream(s, true);
        gl.glLightModelfv = bound;
        EXPECT_EQ(unbound.Diffuse, (TVector4{3, 3, 3, 1}));
    }

    const auto& bytes = s.Bytes();
    for (std::size_t cut : {std::size_t(20 + 16 + 4), bytes.size() - 1}) {
        TGLRecorder rec;
        TMemoryStream shortStream(std::span(bytes.data(), cut));
        TgrLight truncated;
        try {
            truncated.ReadFromStream(shortStream, true);
            ADD_FAILURE() << "no error for " << cut << " bytes";
        } catch (const EReadError& e) {
            EXPECT_NE(std::string(e.what()).find("byte offset 40: light record needs 96 bytes"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(rec.Log().empty()) << "a refused light changes no OpenGL state";
        EXPECT_EQ(truncated.Ambient, (TVector4{0.1f, 0.1f, 0.1f, 1}));
    }
}

TEST(Light, ActionProgramsEnablesMarksThenPaintsChildren)
{
    TGLRecorder rec;
    rec.SetIntegers(GL_MAX_LIGHTS, {8});
    // No flag on: black, unattenuated point light at the origin.
    auto plain = ReadLight(TLightFields{});
    plain->AddChild(std::make_shared<TMarker>(1));
    rec.ClearLog();
    plain->Action();
    const GLenum l0 = GL_LIGHT0;
    EXPECT_EQ(rec.Log(), (Lines{MaxLights(8), RecordedCall("glEnable", l0),
                                Lightfv(l0, GL_POSITION, {0, 0, 0, 1}), Lightfv(l0, GL_DIFFUSE, {0, 0, 0, 0}),
                                Lightfv(l0, GL_SPECULAR, {0, 0, 0, 0}), Lightfv(l0, GL_AMBIENT, {0, 0, 0, 0}),
                                Lightf(l0, GL_SPOT_CUTOFF, 180), Lightf(l0, GL_CONSTANT_ATTENUATION, 1),
                                Lightf(l0, GL_LINEAR_ATTENUATION, 0), Lightf(l0, GL_QUADRATIC_ATTENUATION, 0),
                                // The marker leaves point size 5 and white behind.
                                "glPointSize(5)", RecordedCall("glDisable", GL_LIGHTING),
                                RecordedCall("glBegin", GL_POINTS), "glColor3f(1, 1, 1)", "glVertex3fv({0, 0, 0})",
                                "glEnd()", RecordedCall("glEnable", GL_LIGHTING), "glVertex2f(1, 0)"}));

    // A spot, attenuated, as light 1, placed in eye coordinates.
    TLightFields f;
    f.Spot = f.Attenuation = f.Diffuse = true;
    f.Cone = 90;
    f.Distance = 10;
    auto spot = ReadLight(f);
    spot->SetNumber(1);
    spot->SetPosition({1, 2, 3, 1});
    spot->FixedToEye = true;
    rec.ClearLog();
    spot->Action();
    const GLenum l1 = GL_LIGHT1;
    const Lines log = rec.Log();
    ASSERT_EQ(log.size(), 22u);
    EXPECT_EQ(Lines(log.begin(), log.begin() + 5),
              (Lines{"glPushMatrix()", "glLoadIdentity()", MaxLights(8), RecordedCall("glEnable", l1),
                     Lightfv(l1, GL_POSITION, {1, 2, 3, 1})}));
    EXPECT_EQ(Lines(log.begin() + 8, log.begin() + 14),
              (Lines{Lightf(l1, GL_SPOT_CUTOFF, 45), Lightf(l1, GL_SPOT_EXPONENT, spot->SpotExponent),
                     Lightfv(l1, GL_SPOT_DIRECTION, {0, 0, -1}), Lightf(l1, GL_CONSTANT_ATTENUATION, 1),
                     Lightf(l1, GL_LINEAR_ATTENUATION, 0), Lightf(l1, GL_QUADRATIC_ATTENUATION, 0.04f)}));
    EXPECT_EQ(log[18], "glVertex3fv({1, 2, 3})");
    EXPECT_EQ(log.back(), "glPopMatrix()");
}

TEST(Light, ANumberTheDriverHasNoLightForPaintsNothing)
{
    TGLRecorder rec;
    rec.SetIntegers(GL_MAX_LIGHTS, {8});
    auto parent = std::make_shared<TgrTree>();
    auto light = parent->Add(std::make_shared<TgrLight>());
    light->AddChild(std::make_shared<TMarker>(1));
    parent->AddChild(std::make_shared<TMarker>(2));

    // A negative number would otherwise reach OpenGL as some other enum:
    // GL_LIGHT0 + this one is GL_DEPTH_TEST.
    const std::int32_t aliasOfDepthTest = GL_DEPTH_TEST - GL_LIGHT0;
    for (std::int32_t number : {8, 1000, -1, aliasOfDepthTest}) {
        light->SetNumber(number);
        rec.ClearLog();
        parent->Action();
        EXPECT_EQ(rec.Log(), (Lines{MaxLights(8), "glVertex2f(2, 0)"})) << number;
    }
    // Eye-fixed: only the matrix it pushed comes back.
    light->SetNumber(8);
    light->FixedToEye = true;
    rec.ClearLog();
    light->Action();
    EXPECT_EQ(rec.Log(), (Lines{"glPushMatrix()", "glLoadIdentity()", MaxLights(8), "glPopMatrix()"}));

    // The last light the driver has still works.
    light->SetNumber(7);
    light->FixedToEye = false;
    rec.ClearLog();
    light->Action();
    const Lines log = rec.Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], RecordedCall("glEnable", GL_LIGHT7));
    EXPECT_EQ(log.back(), "glVertex2f(1, 0)");
}
