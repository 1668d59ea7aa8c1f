#include "render/material.h"

#include "stream/chunk.h"
#include "stream/stream.h"
#include "scene/gl_entry_points.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <array>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

// What the file says about a material, before any conversion.
struct TMaterialFields {
    std::int32_t Id = 5, ParentId = -1, Reserved = 77;
    std::string Name = "Mat01";
    std::int32_t Shading = 1, TwoSided = 0, Wireframe = 0;
    float LineWidth = 1;
    std::array<float, 4> Ambient{0.1f, 0.2f, 0.3f, 0.4f};
    std::array<float, 4> Diffuse{0.5f, 0.6f, 0.7f, 0.8f};
    std::array<float, 4> Specular{0.9f, 0.9f, 0.9f, 1.0f};
    std::array<float, 4> Emission{0.01f, 0.02f, 0.03f, 0.04f};
    float Shininess = 0.25f, Level = 0.5f;
    std::int32_t Tail1 = 123, Tail2 = -9;

    void Write(TStream& s) const
    {
        s.WriteInt32(Id);
        s.WriteInt32(ParentId);
        s.WriteInt32(Reserved);
        s.WriteInt32(static_cast<std::int32_t>(Name.size()));
        s.WriteBuffer(Name.data(), Name.size());
        for (std::int32_t v : {Shading, TwoSided, Wireframe})
            s.WriteInt32(v);
        s.WriteSingle(LineWidth);
        for (const auto* c : {&Ambient, &Diffuse, &Specular, &Emission})
            for (float v : *c)
                s.WriteSingle(v);
        s.WriteSingle(Shininess);
        s.WriteSingle(Level);
        s.WriteInt32(Tail1);
        s.WriteInt32(Tail2);
    }
};

std::shared_ptr<TgrMaterial> ReadMaterial(const TMaterialFields& fields)
{
    TMemoryStream s;
    fields.Write(s);
    EXPECT_EQ(s.Size(), 112 + static_cast<std::int64_t>(fields.Name.size()));
    s.Seek(0);
    // Created through the class reference, as the loader does.
    auto material = std::static_pointer_cast<TgrMaterial>(TgrMaterial::ClassRef().Create());
    EXPECT_TRUE(material->Is<TgrMaterial>());
    EXPECT_TRUE(material->ReadFromStream(s, false));
    EXPECT_EQ(s.Position(), s.Size()) << "the payload is consumed exactly";
    return material;
}

// Logs through GL so its place among the material's calls shows.
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

std::string Material(GLenum face, GLenum pname, TVector4 c)
{
    return RecordedCall("glMaterialfv", face, pname, std::vector<float>{c.x, c.y, c.z, c.w});
}

} // namespace

TEST(Material, PayloadConvertsShininessLevelAndCodes)
{
    const TMaterialFields fields;
    const auto m = ReadMaterial(fields);
    EXPECT_EQ(m->Id, 5);
    EXPECT_EQ(m->ParentId, -1);
    EXPECT_EQ(m->Reserved, 77);
    EXPECT_EQ(m->Name, "Mat01");
    EXPECT_EQ(m->Shininess, 25.0f);
    // Only r, g and b follow the specular level.
    EXPECT_EQ(m->Specular, (TVector4{0.45f, 0.45f, 0.45f, 1.0f}));
    EXPECT_EQ(m->Ambient, (TVector4{0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(m->Diffuse, (TVector4{0.5f, 0.6f, 0.7f, 0.8f}));
    EXPECT_EQ(m->Emission, (TVector4{0.01f, 0.02f, 0.03f, 0.04f}));
    EXPECT_EQ(m->ShadeModel, GLenum(GL_SMOOTH));
    EXPECT_EQ(m->Face, GLenum(GL_FRONT));
    EXPECT_EQ(m->PolygonMode, GLenum(GL_FILL));

    // Shading: 0 is flat, 1 to 3 smooth, anything else keeps smooth.
    for (auto [code, model] : {std::pair{0, GL_FLAT}, {3, GL_SMOOTH}, {5, GL_SMOOTH}, {-1, GL_SMOOTH}}) {
        TMaterialFields f;
        f.Shading = code;
        EXPECT_EQ(ReadMaterial(f)->ShadeModel, GLenum(model)) << code;
    }
    // Two-sided and wireframe switch on for positive words only.
    TMaterialFields f;
    f.TwoSided = 1;
    f.Wireframe = 7;
    f.LineWidth = 2.5f;
    const auto wire = ReadMaterial(f);
    EXPECT_EQ(wire->Face, GLenum(GL_FRONT_AND_BACK));
    EXPECT_EQ(wire->PolygonMode, GLenum(GL_LINE));
    EXPECT_EQ(wire->LineWidth, 2.5f);
    f.TwoSided = -3;
    f.Wireframe = -1;
    EXPECT_EQ(ReadMaterial(f)->Face, GLenum(GL_FRONT));
    EXPECT_EQ(ReadMaterial(f)->PolygonMode, GLenum(GL_FILL));

    // Colours are kept as read, however far out of range.
    f.Diffuse = {3, -1, 0, 2};
    f.Level = 4;
    EXPECT_EQ(ReadMaterial(f)->Diffuse, (TVector4{3, -1, 0, 2}));
    EXPECT_EQ(ReadMaterial(f)->Specular, (TVector4{3.6f, 3.6f, 3.6f, 1}));
}

TEST(Material, ReadsBehindAChunkHeaderAndRejectsShortPayloads)
{
    TMemoryStream s;
    TChunkHeader header;
    header.Write(s);
    TMaterialFields fields;
    fields.Name = std::string("ab\0cd", 5);
    fields.Write(s);
    s.Seek(0);
    TgrMaterial m;
    m.ReadFromStream(s, true);
    EXPECT_EQ(m.Name, "ab");
    EXPECT_EQ(m.Shininess, 25.0f);
    EXPECT_EQ(s.Position(), s.Size());

    // A record cut short is refused before any field changes.
    const auto& bytes = s.Bytes();
    for (std::size_t cut : {std::size_t(20 + 16 + 5 + 60), bytes.size() - 1}) {
        TMemoryStream shortStream(std::span(bytes.data(), cut));
        TgrMaterial truncated;
        try {
            truncated.ReadFromStream(shortStream, true);
            ADD_FAILURE() << "no error for " << cut << " bytes";
        } catch (const EReadError& e) {
            EXPECT_NE(std::string(e.what()).find("byte offset 41"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("material record"), std::string::npos) << e.what();
        }
        EXPECT_EQ(truncated.Shininess, 4.0f);
    }
}

TEST(Material, ActionWithLightingSetsTheMaterialAndRestorePopsIt)
{
    TGLRecorder rec;
    rec.SetBooleans(GL_LIGHTING, {GL_TRUE});
    TMaterialFields fields;
    fields.Shading = 0;
    auto m = ReadMaterial(fields);
    m->AddChild(std::make_shared<TMarker>(1));
    rec.ClearLog();

    m->Action();
    const GLenum front = GL_FRONT;
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glPushAttrib", GL_LIGHTING_BIT),
                                RecordedCall("glShadeModel", GL_FLAT),
                                RecordedCall("glGetBooleanv", GL_LIGHTING, std::vector<GLboolean>{1}),
                                Material(front, GL_AMBIENT, m->Ambient),
                                Material(front, GL_DIFFUSE, m->Diffuse),
                                Material(front, GL_SPECULAR, m->Specular),
                                Material(front, GL_EMISSION, m->Emission),
                                RecordedCall("glMaterialfv", front, GL_SHININESS, std::vector<float>{25}),
                                RecordedCall("glPolygonMode", front, GL_FILL), "glVertex2f(1, 0)",
                                "glPopAttrib()"}));
}

TEST(Material, WithoutLightingTheDiffuseColourBecomesTheCurrentColour)
{
    TGLRecorder rec; // glGetBooleanv answers GL_FALSE
    TgrMaterial m;
    m.Diffuse = {0.25f, 0.5f, 0.75f, 1};
    m.Action();
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glPushAttrib", GL_LIGHTING_BIT),
                                RecordedCall("glShadeModel", GL_SMOOTH),
                                RecordedCall("glGetBooleanv", GL_LIGHTING, std::vector<GLboolean>{0}),
                                "glColor4fv({0.25, 0.5, 0.75, 1})",
                                RecordedCall("glPolygonMode", GL_FRONT_AND_BACK, GL_FILL), "glPopAttrib()"}));
}

TEST(Material, WireframeLeavesLineModeInForceAfterItsRestore)
{
    TGLRecorder rec;
    rec.SetBooleans(GL_LIGHTING, {GL_TRUE});
    TMaterialFields fields;
    fields.TwoSided = 1;
    fields.Wireframe = 1;
    fields.LineWidth = 2;
    auto m = ReadMaterial(fields);
    rec.ClearLog();
    m->Action();
    Lines log = rec.Log();
    ASSERT_EQ(log.size(), 11u);
    EXPECT_EQ(log[8], RecordedCall("glPolygonMode", GL_FRONT_AND_BACK, GL_LINE));
    EXPECT_EQ(log[9], "glLineWidth(2)");
    // Only the lighting group comes back; nothing resets the polygon mode.
    EXPECT_EQ(log[10], "glPopAttrib()");
}

TEST(Material, WithoutAutoRestoreThePopWaitsForTheParent)
{
    TGLRecorder rec;
    // As in the material tree: a non-restoring material with a non-restoring
    // texture-like child, followed by what the material applies to.
    auto parent = std::make_shared<TgrTree>();
    auto m = parent->Add(std::make_shared<TgrMaterial>());
    m->SetAutoRestore(false);
    auto chained = m->Add(std::make_shared<TgrMaterial>());
    chained->SetAutoRestore(false);
    parent->AddChild(std::make_shared<TMarker>(2));
    parent->Action();
    const Lines log = rec.Log();
    ASSERT_EQ(log.size(), 13u);
    EXPECT_EQ(log[10], "glVertex2f(2, 0)");
    EXPECT_EQ(log[11], "glPopAttrib()");
    EXPECT_EQ(log[12], "glPopAttrib()");

    // Applied by hand, as a mesh does around its face records.
    rec.ClearLog();
    m->Action();
    EXPECT_EQ(rec.Log().size(), 10u) << "nothing popped yet";
    rec.ClearLog();
    m->RestoreState();
    EXPECT_EQ(rec.Log(), (Lines{"glPopAttrib()", "glPopAttrib()"}));
}
