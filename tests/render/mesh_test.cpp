#include "render/mesh.h"

#include "stream/chunk.h"
#include "stream/stream.h"
#include "scene/gl_entry_points.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

// A mesh payload as the scene file holds it. The counts are written as given,
// so a test can make them disagree with the arrays.
struct TPayload {
    std::string Name = "Box01";
    std::uint32_t Flags = 0x4A; // position 3, normal, set 0 with 2 components
    std::int32_t VertexCount = 0, IndexCount = 0, FaceCount = 0;
    std::vector<float> Vertices;
    std::vector<std::int32_t> Indices;
    std::vector<TgrMeshFace> Faces;

    // Fills the arrays and sets the counts to match.
    TPayload& With(std::uint32_t flags, std::vector<float> vertices, std::int32_t stride,
                   std::vector<std::int32_t> indices = {}, std::vector<TgrMeshFace> faces = {})
    {
        Flags = flags;
        VertexCount = static_cast<std::int32_t>(vertices.size()) / stride;
        Vertices = std::move(vertices);
        IndexCount = static_cast<std::int32_t>(indices.size());
        Indices = std::move(indices);
        FaceCount = static_cast<std::int32_t>(faces.size());
        Faces = std::move(faces);
        return *this;
    }

    std::vector<std::uint8_t> Bytes(bool withHeader = false) const
    {
        TMemoryStream s;
        if (withHeader)
            TChunkHeader{ChunkGroupKey, TgrPrimitive::TypeKey, 0, 0, 0}.Write(s);
        for (std::int32_t v : {3, 1, 77, static_cast<std::int32_t>(Name.size())})
            s.WriteInt32(v);
        s.WriteBuffer(Name.data(), Name.size());
        for (float v : {10.0f, 20.0f, 30.0f, 0.0f, 0.0f, 0.0f, 1.0f}) // placement, unused
            s.WriteSingle(v);
        s.WriteUInt32(Flags);
        for (std::int32_t v : {VertexCount, IndexCount, FaceCount})
            s.WriteInt32(v);
        for (float v : Vertices)
            s.WriteSingle(v);
        for (std::int32_t v : Indices)
            s.WriteInt32(v);
        for (const TgrMeshFace& f : Faces)
            s.WriteBuffer(&f, sizeof f);
        return s.Bytes();
    }
};

// Offsets in a payload named "Box01": the three counts, then the vertices.
constexpr int VertexCountAt = 16 + 5 + 28 + 4;
constexpr int IndexCountAt = VertexCountAt + 4;
constexpr int FaceCountAt = VertexCountAt + 8;
constexpr int VerticesAt = VertexCountAt + 12;

std::shared_ptr<TgrPrimitive> Read(const TPayload& payload, bool withHeader = false)
{
    TMemoryStream s(payload.Bytes(withHeader));
    // Created through the class reference, as the loader does.
    auto mesh = std::static_pointer_cast<TgrPrimitive>(TgrPrimitive::ClassRef().Create());
    EXPECT_TRUE(mesh->ReadFromStream(s, withHeader));
    EXPECT_EQ(s.Position(), s.Size()) << "the payload is consumed exactly";
    return mesh;
}

// The read error for a payload, or "" when it reads.
std::string ReadError(const std::vector<std::uint8_t>& bytes)
{
    TMemoryStream s(bytes);
    TgrPrimitive mesh;
    try {
        mesh.ReadFromStream(s, false);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "";
}

// A unit quad of two triangles in the z = 0 plane, flags 0x4A: position,
// normal (0, 0, 1), texture coordinates.
std::vector<float> Quad()
{
    return {0, 0, 0, 0, 0, 1, 0, 0, //
            1, 0, 0, 0, 0, 1, 1, 0, //
            1, 1, 0, 0, 0, 1, 1, 1, //
            0, 1, 0, 0, 0, 1, 0, 1};
}

// Stands in for a material: logs its paint and its restore through GL.
class TFakeMaterial : public TgrTree {
    VENDRAKE_NODE_CLASS(TFakeMaterial, TgrTree)
public:
    explicit TFakeMaterial(GLuint id = 0) : FId(id) { AutoRestore = false; }
    void Action() override
    {
        gl.glPushName(FId);
        TgrTree::Action();
    }
    void RestoreState() override
    {
        TgrTree::RestoreState();
        gl.glLoadName(FId);
    }

private:
    GLuint FId;
};

std::string Applied(GLuint material) { return RecordedCall("glPushName", material); }
std::string Restored(GLuint material) { return RecordedCall("glLoadName", material); }

TgrTreePtr MaterialTree(int count)
{
    auto tree = std::make_shared<TgrTree>();
    for (int i = 0; i < count; ++i)
        tree->AddChild(std::make_shared<TFakeMaterial>(static_cast<GLuint>(i)));
    return tree;
}

// The recorder prints client-array pointers as "ptr"; this notes, in call
// order, where they point: float offsets into the mesh's vertex buffer
// ("v+3") and entry offsets into its index list ("i+6"). Install it after
// the recorder.
class TPointerProbe {
public:
    explicit TPointerProbe(const TgrPrimitive& mesh)
        : FVertices(mesh.Vertices().data()), FIndices(mesh.Indices().data()), FSaved(gl)
    {
        Active = this;
        gl.glVertexPointer = [](GLint size, GLenum type, GLsizei stride, const GLvoid* p) {
            Active->NoteVertex(p);
            Active->FSaved.glVertexPointer(size, type, stride, p);
        };
        gl.glTexCoordPointer = [](GLint size, GLenum type, GLsizei stride, const GLvoid* p) {
            Active->NoteVertex(p);
            Active->FSaved.glTexCoordPointer(size, type, stride, p);
        };
        gl.glNormalPointer = [](GLenum type, GLsizei stride, const GLvoid* p) {
            Active->NoteVertex(p);
            Active->FSaved.glNormalPointer(type, stride, p);
        };
        gl.glColorPointer = [](GLint size, GLenum type, GLsizei stride, const GLvoid* p) {
            Active->NoteVertex(p);
            Active->FSaved.glColorPointer(size, type, stride, p);
        };
        gl.glDrawElements = [](GLenum mode, GLsizei count, GLenum type, const GLvoid* p) {
            Active->Pointers.push_back("i+" + std::to_string(static_cast<const std::int32_t*>(p) - Active->FIndices));
            Active->FSaved.glDrawElements(mode, count, type, p);
        };
    }
    ~TPointerProbe()
    {
        gl = FSaved;
        Active = nullptr;
    }
    TPointerProbe(const TPointerProbe&) = delete;
    TPointerProbe& operator=(const TPointerProbe&) = delete;

    Lines Pointers;

private:
    void NoteVertex(const void* p)
    {
        Pointers.push_back("v+" + std::to_string(static_cast<const float*>(p) - FVertices));
    }

    const float* FVertices;
    const std::int32_t* FIndices;
    TGLEntryPoints FSaved;
    static inline TPointerProbe* Active = nullptr;
};

// A child that shows in the log where it is painted.
class TMarker : public TgrTree {
    VENDRAKE_NODE_CLASS(TMarker, TgrTree)
public:
    void Action() override
    {
        gl.glPassThrough(7);
        TgrTree::Action();
    }
};

const std::string PushClient = RecordedCall("glPushClientAttrib", GL_CLIENT_VERTEX_ARRAY_BIT);
std::string Enable(GLenum array) { return RecordedCall("glEnableClientState", array); }

} // namespace

TEST(MeshLayout, FlagsChooseTheRecord)
{
    TgrPrimitive mesh;
    EXPECT_EQ(mesh.Flags(), 0x400002u);
    EXPECT_EQ(mesh.Stride(), 0) << "not laid out before the first vertex count";
    mesh.SetVertexCount(4);
    EXPECT_EQ(mesh.Stride(), 3);
    EXPECT_EQ(mesh.Vertices().size(), 12u);

    mesh.SetFlags(0x4A);
    EXPECT_EQ(mesh.Stride(), 8);
    EXPECT_EQ(mesh.PositionOffset(), 0);
    EXPECT_EQ(mesh.NormalOffset(), 3);
    EXPECT_EQ(mesh.ColorOffset(), 6);
    EXPECT_EQ(mesh.TexCoordOffsets()[0], 6);
    EXPECT_EQ(mesh.TexCoordOffsets()[1], 8);
    EXPECT_EQ(mesh.Vertices().size(), 32u) << "the buffer follows the new stride";

    mesh.SetFlags(0x1002);
    EXPECT_EQ(mesh.Stride(), 11) << "sets 3 to 7 take four times their components";

    // Precedence inside a group: 4 over 3 over 2, RGBA over RGB, 3 over 2.
    mesh.SetFlags(0x7 | 0x30 | 0xC0);
    EXPECT_EQ(mesh.NormalOffset(), 4);
    EXPECT_EQ(mesh.TexCoordOffsets()[0], 8);
    EXPECT_EQ(mesh.Stride(), 11);

    // Every set, each offset taken before its set is added.
    mesh.SetFlags(TMeshFlag::Position2 | TMeshFlag::TexCoord2(0) | TMeshFlag::TexCoord3(2) |
                  TMeshFlag::TexCoord2(3) | TMeshFlag::TexCoord3(7));
    EXPECT_EQ(mesh.TexCoordOffsets(), (std::array<std::int32_t, 8>{2, 4, 4, 7, 15, 15, 15, 15}));
    EXPECT_EQ(mesh.Stride(), 27);
    EXPECT_EQ(mesh.Vertices().size(), 4u * 27u);
}

TEST(MeshRead, PayloadAndThePaintRoutineItsCountsSelect)
{
    TPayload quad;
    quad.With(0x4A, Quad(), 8, {0, 1, 2, 0, 2, 3}, {{GL_TRIANGLES, 1, 0, 3}, {GL_TRIANGLES, 0, 3, 3}});
    for (bool withHeader : {false, true}) {
        const auto mesh = Read(quad, withHeader);
        EXPECT_EQ(mesh->Name, "Box01");
        EXPECT_EQ(mesh->Id, 3);
        EXPECT_EQ(mesh->ParentId, 1);
        EXPECT_EQ(mesh->Flags(), 0x4Au);
        EXPECT_EQ(mesh->Stride(), 8);
        EXPECT_EQ(mesh->VertexCount(), 4);
        EXPECT_EQ(std::vector<float>(mesh->Vertices().begin(), mesh->Vertices().end()), Quad());
        EXPECT_EQ(std::vector<std::int32_t>(mesh->Indices().begin(), mesh->Indices().end()),
                  (std::vector<std::int32_t>{0, 1, 2, 0, 2, 3}));
        ASSERT_EQ(mesh->FaceCount(), 2);
        EXPECT_EQ(mesh->Faces()[1].MaterialIndex, 0);
        EXPECT_EQ(mesh->Faces()[1].FirstIndex, 3);
        EXPECT_EQ(mesh->PaintMethod, &TgrPrimitive::PaintFaces);
        EXPECT_TRUE(mesh->Is<TgrPositional>());

        // The loader's order: materials, then the routine again.
        mesh->SetMaterials(MaterialTree(2));
        mesh->ChoosePaintMethod();
        EXPECT_EQ(mesh->PaintMethod, &TgrPrimitive::PaintMaterialFaces);
    }

    TPayload plain;
    plain.Name = "";
    plain.With(0x2, {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3);
    const auto unindexed = Read(plain); // an empty name: the flags follow the placement at once
    EXPECT_EQ(unindexed->Name, "");
    EXPECT_EQ(unindexed->Stride(), 3);
    EXPECT_EQ(unindexed->PaintMethod, &TgrPrimitive::PaintFakeArray);

    std::vector<std::int32_t> indices(36);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<std::int32_t>(i % 3);
    plain.With(0x2, {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3, indices);
    const auto indexed = Read(plain);
    EXPECT_EQ(indexed->PaintMethod, &TgrPrimitive::PaintVertexArray);
    indexed->SetMaterials(MaterialTree(1));
    indexed->ChoosePaintMethod();
    EXPECT_EQ(indexed->PaintMethod, &TgrPrimitive::PaintVertexArray) << "no faces, no materials";
}

TEST(MeshRead, RejectsWhatWouldReachOutsideItsBuffers)
{
    TPayload p;
    p.With(0x4A, Quad(), 8, {0, 1, 2, 0, 2, 3}, {{GL_TRIANGLES, 0, 0, 3}, {GL_TRIANGLES, 0, 3, 3}});
    ASSERT_EQ(ReadError(p.Bytes()), "");
    const int indicesAt = VerticesAt + 4 * 8 * 4, facesAt = indicesAt + 6 * 4;
    auto at = [](int offset) { return "byte offset " + std::to_string(offset) + ":"; };

    struct TCase {
        std::function<void(TPayload&)> Damage;
        std::vector<std::string> Message;
    };
    const std::vector<TCase> cases = {
        {[](TPayload& b) { b.VertexCount = -1; }, {at(VertexCountAt), "negative vertex count -1", "'Box01'"}},
        {[](TPayload& b) { b.IndexCount = -3; }, {at(IndexCountAt), "negative index count -3"}},
        {[](TPayload& b) { b.FaceCount = std::numeric_limits<std::int32_t>::min(); },
         {at(FaceCountAt), "negative face count -2147483648"}},
        // Counts the rest of the stream cannot hold, checked before anything
        // is allocated, in 64 bits: the widest record is 80 floats.
        {[](TPayload& b) { b.VertexCount = 6; }, {at(VertexCountAt), "vertex count 6 needs 192 bytes, but only 184"}},
        {[](TPayload& b) { b.Flags = 0x3FFFFF, b.VertexCount = std::numeric_limits<std::int32_t>::max(); },
         {"vertex count 2147483647 needs 687194767040 bytes"}},
        {[](TPayload& b) { b.IndexCount = 0x40000000; },
         {at(IndexCountAt), "index count 1073741824 needs 4294967296 bytes, but only 56"}},
        {[](TPayload& b) { b.FaceCount = 3; }, {at(FaceCountAt), "face count 3 needs 48 bytes, but only 32"}},
        // Index values past the vertices, also negative ones (drawn unsigned).
        {[](TPayload& b) { b.Indices[5] = 4; }, {at(indicesAt + 20), "index 4 (entry 5) is outside the 4 vertices"}},
        {[](TPayload& b) { b.Indices[1] = -1; }, {at(indicesAt + 4), "index -1 (entry 1)"}},
        // Face ranges that leave the index list, without overflowing on the way.
        {[](TPayload& b) { b.Faces[1].Count = 4; },
         {at(facesAt + 16), "face 1 (FirstIndex 3, Count 4) reaches outside the 6 indices"}},
        {[](TPayload& b) { b.Faces[0].FirstIndex = -1; }, {at(facesAt), "face 0 (FirstIndex -1, Count 3)"}},
        {[](TPayload& b) { b.Faces[0].Count = -2; }, {"face 0 (FirstIndex 0, Count -2)"}},
        {[](TPayload& b) { b.Faces[1].FirstIndex = std::numeric_limits<std::int32_t>::max(); },
         {"face 1 (FirstIndex 2147483647, Count 3)"}},
    };
    for (const TCase& c : cases) {
        TPayload bad = p;
        c.Damage(bad);
        const std::string error = ReadError(bad.Bytes());
        for (const std::string& part : c.Message)
            EXPECT_NE(error.find(part), std::string::npos) << "\"" << error << "\" lacks \"" << part << "\"";
    }

    // Even if a caller swallowed the error, the mesh draws nothing with it.
    TPayload bad = p;
    bad.Indices[0] = 99;
    TMemoryStream s(bad.Bytes());
    TgrPrimitive mesh;
    EXPECT_THROW(mesh.ReadFromStream(s, false), EReadError);
    TGLRecorder rec;
    mesh.PaintVertexArray(mesh);
    mesh.PaintFaces(mesh);
    EXPECT_EQ(rec.Log(), Lines{});
}

TEST(MeshMaterials, AFaceOutsideTheMaterialTreeIsRejected)
{
    TPayload p;
    p.With(0x4A, Quad(), 8, {0, 1, 2, 0, 2, 3}, {{GL_TRIANGLES, 1, 0, 3}, {GL_TRIANGLES, 2, 3, 3}});
    const auto mesh = Read(p);
    try {
        mesh->SetMaterials(MaterialTree(2));
        FAIL() << "face 1 selects a third material";
    } catch (const EMeshError& e) {
        EXPECT_STREQ(e.what(), "Mesh error in mesh 'Box01' (Id 3): face 1 selects material 2, but the "
                               "material tree holds 2 materials");
    }
    EXPECT_EQ(mesh->Materials(), nullptr) << "the tree is not taken";
    mesh->ChoosePaintMethod();
    EXPECT_EQ(mesh->PaintMethod, &TgrPrimitive::PaintFaces);

    mesh->Faces()[1].MaterialIndex = -1;
    EXPECT_THROW(mesh->SetMaterials(MaterialTree(3)), EMeshError);
    mesh->Faces()[1].MaterialIndex = 2;
    const auto tree = MaterialTree(3);
    mesh->SetMaterials(tree);
    EXPECT_EQ(mesh->Materials(), tree);
    mesh->SetMaterials(nullptr);
    EXPECT_EQ(mesh->Materials(), nullptr);
}

TEST(MeshPaint, FakeArrayHandsGLTheInterleavedBuffer)
{
    // Position 3, normal, RGBA, set 0 with 3 components: 13 floats a record.
    TgrPrimitive mesh;
    mesh.SetFlags(0x2 | 0x8 | 0x20 | 0x80);
    mesh.SetVertexCount(3);
    mesh.ChoosePaintMethod();
    ASSERT_EQ(mesh.PaintMethod, &TgrPrimitive::PaintFakeArray);

    TGLRecorder rec;
    TPointerProbe probe(mesh);
    mesh.Action();
    EXPECT_EQ(rec.Log(), (Lines{PushClient, Enable(GL_VERTEX_ARRAY), "glVertexPointer(3, 5126, 52, ptr)",
                                Enable(GL_TEXTURE_COORD_ARRAY), "glTexCoordPointer(2, 5126, 52, ptr)",
                                Enable(GL_NORMAL_ARRAY), "glNormalPointer(5126, 52, ptr)",
                                Enable(GL_COLOR_ARRAY), RecordedCall("glEnable", GL_COLOR_MATERIAL),
                                "glColorPointer(4, 5126, 52, ptr)", "glDrawArrays(4, 0, 3)",
                                "glPopClientAttrib()"}));
    EXPECT_EQ(probe.Pointers, (Lines{"v+0", "v+10", "v+3", "v+6"}));

    // RGB only goes out with three components; position 4 and 2.
    rec.ClearLog();
    probe.Pointers.clear();
    mesh.SetFlags(0x4 | 0x10);
    mesh.Action();
    mesh.SetFlags(0x1);
    mesh.Action();
    EXPECT_EQ(probe.Pointers, (Lines{"v+0", "v+4", "v+0"}));
    EXPECT_EQ(rec.Log()[2], "glVertexPointer(4, 5126, 28, ptr)");
    EXPECT_EQ(rec.Log()[5], "glColorPointer(3, 5126, 28, ptr)");
    EXPECT_EQ(rec.Log()[10], "glVertexPointer(2, 5126, 8, ptr)");
}

TEST(MeshPaint, VertexArrayDrawsTheIndicesThenWhiteNormalLines)
{
    TPayload p;
    p.With(0x4A, {0, 0, 0, 0, 0, 1, 0, 0, //
                  2, 0, 0, 0.6f, 0, 0.8f, 1, 0, //
                  0, 2, 1, 0, -1, 0, 0, 1},
           8, {0, 1, 2});
    const auto mesh = Read(p);
    TGLRecorder rec;
    TPointerProbe probe(*mesh);
    mesh->Action();
    EXPECT_EQ(rec.Log(), (Lines{PushClient, Enable(GL_VERTEX_ARRAY), "glVertexPointer(3, 5126, 32, ptr)",
                                Enable(GL_TEXTURE_COORD_ARRAY), "glTexCoordPointer(2, 5126, 32, ptr)",
                                Enable(GL_NORMAL_ARRAY), "glNormalPointer(5126, 32, ptr)",
                                "glDrawElements(4, 3, 5125, ptr)", "glPopClientAttrib()",
                                RecordedCall("glPushAttrib", 0x000FFFFF), "glColor3f(1, 1, 1)",
                                RecordedCall("glDisable", GL_TEXTURE_CUBE_MAP_ARB),
                                RecordedCall("glDisable", GL_LIGHTING), RecordedCall("glBegin", GL_LINES),
                                "glVertex3fv({0, 0, 0})", "glVertex3f(0, 0, 5)", //
                                "glVertex3fv({2, 0, 0})", "glVertex3f(5, 0, 4)", //
                                "glVertex3fv({0, 2, 1})", "glVertex3f(0, -3, 1)", //
                                "glEnd()", "glPopAttrib()"}));
    EXPECT_EQ(probe.Pointers, (Lines{"v+0", "v+6", "v+3", "i+0"}));

    // Records without a normal have no line to show.
    p.With(0x42, {0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1, 0}, 5, {0, 1, 2});
    const auto bare = Read(p);
    rec.ClearLog();
    bare->Action();
    EXPECT_EQ(rec.Log().back(), "glPopClientAttrib()");
    EXPECT_EQ(rec.Log().size(), 7u);
}

TEST(MeshPaint, FacesDrawTheirRangesAndSwitchMaterialsOnlyWhenTheyChange)
{
    TPayload p;
    p.With(0x2 | 0x80, {0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 1, 0}, 6,
           {0, 1, 2, 0, 2, 3, 1, 2, 3},
           {{GL_TRIANGLES, 2, 0, 3}, {GL_TRIANGLE_FAN, 2, 3, 3}, {GL_TRIANGLES, 0, 6, 3}});
    const auto mesh = Read(p);
    ASSERT_EQ(mesh->PaintMethod, &TgrPrimitive::PaintFaces);
    const Lines arrays{PushClient, Enable(GL_VERTEX_ARRAY), "glVertexPointer(3, 5126, 24, ptr)",
                       Enable(GL_TEXTURE_COORD_ARRAY), "glTexCoordPointer(3, 5126, 24, ptr)"};
    const std::string face0 = "glDrawElements(4, 3, 5125, ptr)", face1 = "glDrawElements(6, 3, 5125, ptr)";

    TGLRecorder rec;
    TPointerProbe probe(*mesh);
    mesh->Action();
    Lines expected = arrays;
    expected.insert(expected.end(), {face0, face1, face0, "glPopClientAttrib()"});
    EXPECT_EQ(rec.Log(), expected);
    EXPECT_EQ(probe.Pointers, (Lines{"v+0", "v+3", "i+0", "i+3", "i+6"}));

    // Materials 2, 2, 0: 2 applied once, restored, 0 applied, restored at the end.
    mesh->SetMaterials(MaterialTree(3));
    mesh->ChoosePaintMethod();
    rec.ClearLog();
    mesh->Action();
    expected = arrays;
    expected.insert(expected.end(), {Applied(2), face0, face1, Restored(2), Applied(0), face0, Restored(0),
                                     "glPopClientAttrib()"});
    EXPECT_EQ(rec.Log(), expected);

    // A face edited out of range is skipped; a material that left the tree is
    // neither painted nor restored.
    mesh->Faces()[1].FirstIndex = 7;
    mesh->Materials()->Delete(2);
    rec.ClearLog();
    mesh->Action();
    expected = arrays;
    expected.insert(expected.end(), {face0, Applied(0), face0, Restored(0), "glPopClientAttrib()"});
    EXPECT_EQ(rec.Log(), expected);
}

TEST(MeshPaint, ActionWrapsTheMeshAndPaintsTheChildren)
{
    TPayload p;
    p.With(0x2, {0, 0, 0, 1, 0, 0, 0, 1, 0}, 3);
    const auto mesh = Read(p);
    mesh->AddChild(std::make_shared<TMarker>());
    const Lines own{PushClient, Enable(GL_VERTEX_ARRAY), "glVertexPointer(3, 5126, 12, ptr)",
                    "glDrawArrays(4, 0, 3)", "glPopClientAttrib()"};
    const std::string child = "glPassThrough(7)";

    TGLRecorder rec;
    glExtensions.NV_vertex_array_range = true;
    mesh->Action();
    Lines expected{Enable(GL_VERTEX_ARRAY_RANGE_NV)};
    expected.insert(expected.end(), own.begin(), own.end());
    expected.insert(expected.end(), {RecordedCall("glDisableClientState", GL_VERTEX_ARRAY_RANGE_NV), child});
    EXPECT_EQ(rec.Log(), expected);
    glExtensions.NV_vertex_array_range = false;

    rec.ClearLog();
    mesh->SetEnabled(false);
    mesh->Action();
    EXPECT_EQ(rec.Log(), Lines{child}) << "a disabled mesh still paints its children";
    mesh->SetEnabled(true);
    mesh->PaintChildren = false;
    rec.ClearLog();
    mesh->Action();
    EXPECT_EQ(rec.Log(), own);
    mesh->PaintChildren = true;

    // The display list holds the mesh's own painting; Action calls it and
    // goes on to the children.
    rec.ClearLog();
    EXPECT_TRUE(mesh->BuildList());
    expected = {"glGenLists(1)", RecordedCall("glNewList", 1, GL_COMPILE)};
    expected.insert(expected.end(), own.begin(), own.end());
    expected.push_back("glEndList()");
    EXPECT_EQ(rec.Log(), expected);
    EXPECT_EQ(mesh->DisplayList(), 1u);
    rec.ClearLog();
    mesh->Action();
    EXPECT_EQ(rec.Log(), (Lines{"glCallList(1)", child}));
    mesh->DeleteList();
    EXPECT_EQ(mesh->DisplayList(), 0u);
    rec.ClearLog();
    mesh->Action();
    EXPECT_EQ(rec.Log().front(), PushClient);

    // A list made while a context is current goes with the mesh in that
    // context.
    ASSERT_TRUE(ActivateContext(nullptr, TGLRecorder::Context()));
    auto listed = Read(p);
    listed->BuildList();
    rec.ClearLog();
    listed.reset();
    EXPECT_EQ(rec.Log(), Lines{"glDeleteLists(2, 1)"});
    DeactivateContext();
}

TEST(MeshPaint, PlainIsImmediateMode)
{
    // Position 3, RGB, set 0 and set 1 with 2 components: 10 floats a record.
    TgrPrimitive mesh;
    mesh.SetFlags(0x2 | 0x10 | 0x40 | 0x100);
    mesh.SetVertexCount(2);
    for (std::size_t i = 0; i < 20; ++i)
        mesh.Vertices()[i] = static_cast<float>(i);
    ASSERT_EQ(mesh.PaintMethod, &TgrPrimitive::PaintPlain);

    TGLRecorder rec;
    rec.Provide({"glMultiTexCoord2fvARB"});
    mesh.Action();
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glEnable", GL_COLOR_MATERIAL), RecordedCall("glBegin", GL_TRIANGLES),
                                "glColor3fv({3, 4, 5})", "glTexCoord2fv({6, 7})",
                                "glMultiTexCoord2fvARB(33985, {8, 9})", "glVertex3fv({0, 1, 2})",
                                "glColor3fv({13, 14, 15})", "glTexCoord2fv({16, 17})",
                                "glMultiTexCoord2fvARB(33985, {18, 19})", "glVertex3fv({10, 11, 12})",
                                "glEnd()"}));

    // Normals and four components; set 1 needs the extension entry point.
    gl.glMultiTexCoord2fvARB = nullptr;
    mesh.SetFlags(0x4 | 0x8 | 0x20 | 0x80 | 0x100);
    mesh.SetVertexCount(1);
    rec.ClearLog();
    mesh.PaintPlain(mesh);
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glEnable", GL_COLOR_MATERIAL), RecordedCall("glBegin", GL_TRIANGLES),
                                "glNormal3fv({4, 5, 6})", "glColor4fv({7, 8, 9, 10})",
                                "glTexCoord3fv({11, 12, 13})", "glVertex4fv({0, 1, 2, 3})", "glEnd()"}));
}

TEST(MeshPaint, NothingOutsideTheBuffersReachesGL)
{
    TgrPrimitive mesh;
    mesh.SetFlags(0x2);
    mesh.SetVertexCount(3);
    mesh.SetIndices(std::vector<std::int32_t>{0, 1, 3});
    mesh.SetFaceCount(1);
    mesh.Faces()[0] = {GL_TRIANGLES, 0, 0, 3};
    mesh.ChoosePaintMethod();
    ASSERT_EQ(mesh.PaintMethod, &TgrPrimitive::PaintFaces);

    TGLRecorder rec;
    mesh.PaintFaces(mesh);
    mesh.PaintVertexArray(mesh);
    EXPECT_EQ(rec.Log(), Lines{}) << "index 3 names no vertex";
    mesh.SetIndices(std::vector<std::int32_t>{0, 1, 2});
    mesh.PaintVertexArray(mesh);
    EXPECT_EQ(rec.Log().size(), 5u);

    // A vertex count that shrinks below the indices, and records without a position.
    rec.ClearLog();
    mesh.SetVertexCount(2);
    mesh.PaintFaces(mesh);
    mesh.SetVertexCount(3);
    mesh.SetFlags(0x8);
    mesh.PaintFakeArray(mesh);
    mesh.PaintFaces(mesh);
    EXPECT_EQ(rec.Log(), Lines{});
    EXPECT_THROW(mesh.SetVertexCount(-1), std::invalid_argument);
    EXPECT_EQ(mesh.VertexCount(), 3);
}

TEST(MeshCounts, GrownBuffersAreZeroAndTheIndexRangeFollowsEveryChange)
{
    TgrPrimitive mesh;
    mesh.SetFlags(0x2); // three floats per vertex
    mesh.SetVertexCount(4);
    for (float& f : mesh.Vertices())
        f = 7;
    // Shrinking and growing again inside the same buffer gives zeros, not
    // the values that were there before.
    mesh.SetVertexCount(1);
    mesh.SetVertexCount(3);
    ASSERT_EQ(mesh.Vertices().size(), 9u);
    EXPECT_EQ(std::vector<float>(mesh.Vertices().begin(), mesh.Vertices().end()),
              (std::vector<float>{7, 7, 7, 0, 0, 0, 0, 0, 0}));
    // And past the buffer's capacity too.
    mesh.SetVertexCount(5000);
    EXPECT_EQ(mesh.Vertices()[2], 7);
    EXPECT_EQ(*std::max_element(mesh.Vertices().begin() + 3, mesh.Vertices().end()), 0.0f);
    mesh.SetVertexCount(3);

    mesh.SetIndices(std::vector<std::int32_t>{1, 2, 1, -1, 1, 2, 1, 2, 0, 2});
    EXPECT_FALSE(mesh.IndicesInRange()) << "a negative index";
    mesh.SetIndexCount(3); // {1, 2, 1}
    EXPECT_TRUE(mesh.IndicesInRange());
    mesh.SetIndexCount(6); // {1, 2, 1, 0, 0, 0}
    EXPECT_TRUE(mesh.IndicesInRange());
    EXPECT_EQ(mesh.Indices()[5], 0);
    mesh.SetVertexCount(2);
    EXPECT_FALSE(mesh.IndicesInRange()) << "index 2 with two vertices";
    mesh.SetIndexCount(1); // {1}
    EXPECT_TRUE(mesh.IndicesInRange());
    mesh.SetVertexCount(0);
    mesh.SetIndexCount(0);
    EXPECT_TRUE(mesh.IndicesInRange());
    mesh.SetIndexCount(2); // {0, 0} with no vertex
    EXPECT_FALSE(mesh.IndicesInRange());
}

TEST(MeshNormals, FaceAndVertexNormals)
{
    TgrPrimitive mesh;
    EXPECT_EQ(mesh.FaceNormal({0, 1, 0}, {1, 0, 0}, {0, 0, 0}), (TVector3{0, 0, -1}));
    EXPECT_EQ(mesh.FaceNormal({1, 1, 1}, {2, 2, 2}, {3, 3, 3}), (TVector3{0, 0, 0})) << "degenerate";

    // Two triangles of three vertices each and a stray seventh vertex.
    mesh.SetFlags(0x2 | 0x8);
    mesh.SetVertexCount(7);
    const float positions[7][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {5, 5, 5}};
    for (std::int32_t i = 0; i < 7; ++i) {
        std::memcpy(mesh.VertexPtr(i), positions[i], sizeof positions[i]);
        mesh.SetNormal(i, 9, 9, 9);
    }
    auto normal = [&](std::int32_t i) {
        const float* n = mesh.NormalPtr(i);
        return TVector3{n[0], n[1], n[2]};
    };
    mesh.ComputeFlatNormals();
    for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(normal(i), (TVector3{0, 0, -1})) << i;
    EXPECT_EQ(normal(3), (TVector3{1, 0, 0}));
    EXPECT_EQ(normal(6), (TVector3{9, 9, 9})) << "not part of a whole triangle";

    // Indexed: vertex 0 is shared and keeps the last triangle's normal; a
    // trailing pair of indices is no triangle.
    mesh.SetIndices(std::vector<std::int32_t>{0, 1, 2, 0, 4, 5, 6, 6});
    mesh.ComputeIndexedFlatNormals();
    EXPECT_EQ(normal(0), (TVector3{1, 0, 0}));
    EXPECT_EQ(normal(1), (TVector3{0, 0, -1}));

    // Smooth: the shared vertex averages both planes; the rest keep their
    // own; a vertex in no triangle ends at zero; an out-of-range triangle and
    // a trailing pair are skipped.
    mesh.SetTriangleIndexCount(11);
    const std::int32_t triangles[11] = {0, 1, 2, 0, 4, 5, 1, 2, 7, 6, 6};
    std::copy(std::begin(triangles), std::end(triangles), mesh.TriangleIndices().begin());
    mesh.ComputeSmoothNormals();
    const float h = std::sqrt(0.5f);
    EXPECT_NEAR(normal(0).x, h, 1e-6);
    EXPECT_EQ(normal(0).y, 0.0f);
    EXPECT_NEAR(normal(0).z, -h, 1e-6);
    EXPECT_EQ(normal(1), (TVector3{0, 0, -1}));
    EXPECT_EQ(normal(4), (TVector3{1, 0, 0}));
    EXPECT_EQ(normal(3), (TVector3{0, 0, 0}));

    // Without normals in the records SetNormal has nowhere to write.
    mesh.SetFlags(0x2);
    mesh.SetNormal(0, 1, 1, 1);
    EXPECT_EQ(mesh.Vertices()[0], 0.0f);
}

TEST(MeshWrite, SaveLayoutWithAndWithoutHeader)
{
    TPayload p;
    p.With(0x2, {1, 2, 3, 4, 5, 6}, 3, {1, 0});
    const auto mesh = Read(p);

    TMemoryStream bare;
    EXPECT_TRUE(mesh->WriteToStream(bare, false));
    TMemoryStream expected;
    for (std::int32_t v : {3, 2, 2, 2, 0})
        expected.WriteInt32(v);
    for (float v : {1, 2, 3, 4, 5, 6})
        expected.WriteSingle(v);
    for (std::int32_t v : {1, 0})
        expected.WriteInt32(v);
    EXPECT_EQ(bare.Bytes(), expected.Bytes());

    // Framed as one chunk from where the stream stands, sized when done.
    TMemoryStream framed, framedExpected;
    framed.WriteInt32(-1);
    EXPECT_TRUE(mesh->WriteToStream(framed, true));
    framedExpected.WriteInt32(-1);
    TChunkHeader{0x5A454C4B, 0x4D455348, 0, 0, 20 + 52}.Write(framedExpected);
    framedExpected.WriteBuffer(expected.Bytes().data(), expected.Bytes().size());
    EXPECT_EQ(framed.Bytes(), framedExpected.Bytes());
    EXPECT_EQ(framed.Position(), framed.Size());

    // Without indices the list is left out.
    TgrPrimitive empty;
    TMemoryStream s;
    empty.WriteToStream(s, false);
    EXPECT_EQ(s.Size(), 20);
}

TEST(MeshAssign, CopiesTheDataAndChoosesTheRoutine)
{
    TPayload p;
    const auto source = Read(p.With(0x4A, Quad(), 8, {0, 1, 2, 0, 2, 3}, {{GL_TRIANGLES, 0, 0, 6}}));
    TgrPrimitive copy;
    EXPECT_TRUE(copy.Assign(*source));
    EXPECT_EQ(copy.Stride(), 8);
    EXPECT_TRUE(std::ranges::equal(copy.Vertices(), source->Vertices()));
    EXPECT_TRUE(std::ranges::equal(copy.Indices(), source->Indices()));
    EXPECT_EQ(copy.Faces()[0].Count, 6);
    EXPECT_EQ(copy.PaintMethod, &TgrPrimitive::PaintFaces);
}
