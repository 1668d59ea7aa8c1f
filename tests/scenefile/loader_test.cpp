#include "anim/anim_prs.h"
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "scenefile/tree_text.h"
#include "render/light.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "scene/control.h"
#include "scene/gl_null.h"
#include "scene/transform.h"
#include "scene/viewport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vendrake;

namespace {

// Builds a scene file in memory with the writer and loads it.
struct TScene {
    TMemoryStream Stream;
    TSceneWriter Writer{Stream};
    TgrLoader Loader;
    TNullGL NoGL;

    TScene() { Loader.RegisterNodeClasses(); }

    void Load()
    {
        TMemoryStream in(Stream.Bytes());
        Loader.LoadFromStream(in);
        Loader.SortNodes();
        Loader.BuildMaterials();
    }
    std::string Tree()
    {
        Load();
        return TreeText(*Loader.BuildScene());
    }
    std::string Error()
    {
        try {
            Load();
            Loader.BuildScene();
        } catch (const ELoadError& e) {
            return e.what();
        }
        return "no error";
    }
};

TMeshDesc Triangle(std::int32_t id, std::int32_t parentId, const std::string& name)
{
    TMeshDesc m;
    m.Header = {id, parentId, 0, name};
    m.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.Indices = {0, 1, 2};
    return m;
}

TCameraDesc Camera(std::int32_t id, const std::string& name)
{
    TCameraDesc c;
    c.Header = {id, 0, 0, name};
    return c;
}

TTexMapDesc InlineTexture(const std::string& name, int bytesPerPixel)
{
    TTexMapDesc t;
    t.Header.Name = name;
    t.Inline = true;
    t.Width = t.Height = 2;
    t.BytesPerPixel = bytesPerPixel;
    t.Pixels.assign(static_cast<std::size_t>(4 * bytesPerPixel), 200);
    return t;
}

// Whether this process has the file open, by the links in /proc/self/fd.
bool HeldOpen(const std::string& path)
{
    const auto target = std::filesystem::canonical(path);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(fd.path(), error) == target)
            return true;
    }
    return false;
}

} // namespace

TEST(Loader, ShortFilesAndSkippedChunks)
{
    TScene tiny;
    tiny.Stream.WriteBuffer(std::vector<std::uint8_t>(20, 0xFF).data(), 20);
    EXPECT_EQ(tiny.Tree(), "TgrTree\n");
    EXPECT_EQ(tiny.Loader.Root->Count(), 0);

    // An unregistered chunk is skipped with what it nests; a Size 0 chunk is
    // just its header.
    TScene s;
    s.Writer.Raw(0x12345678, {1, 2, 3, 4}, [&] { s.Writer.Camera(Camera(1, "inner")); });
    s.Writer.Raw(ChunkTypeMesh, {});
    const std::int64_t emptyAt = s.Stream.Position() - 20;
    s.Stream.Seek(emptyAt + 16);
    s.Stream.WriteUInt32(0);
    s.Writer.Camera(Camera(2, "cam"));
    EXPECT_EQ(s.Tree(), "TgrTree\n  TgrViewPort \"cam\"\n");
    EXPECT_EQ(s.Loader.Root->Count(), 1);
}

TEST(Loader, OneNestedChunkOnly)
{
    TScene s;
    TMaterialDesc m;
    m.Header.Name = "mat";
    s.Writer.Material(m, [&] {
        s.Writer.Map({1, 0});
        s.Writer.Map({2, 0}); // read at top level, after the material
    });
    s.Writer.TexMap(InlineTexture("t", 3));
    s.Load();
    ASSERT_EQ(s.Loader.Root->Count(), 3);
    EXPECT_TRUE(s.Loader.Root->GetChild(0)->Is<TgrMaterial>());
    EXPECT_TRUE(s.Loader.Root->GetChild(0)->GetChild(0)->Is<TgrMap>());
    EXPECT_EQ(static_cast<TgrMap&>(*s.Loader.Root->GetChild(1)).MapKind, 2);
    EXPECT_EQ(s.Loader.Maps->Count(), 1);
}

TEST(Loader, ViewportMeshesAndTransforms)
{
    TScene plain;
    plain.Writer.Camera(Camera(1, "cam"));
    plain.Writer.Mesh(Triangle(2, 0, "box"));
    EXPECT_EQ(plain.Tree(), "TgrTree\n  TgrViewPort \"cam\"\n    TgrPrimitive \"box\"\n");

    // A camera placed by an animated transform: the transform takes its name
    // and applies the inverse. A mesh with a static transform; a child mesh
    // attached under the viewport and under its parent.
    TScene s;
    s.Writer.Camera(Camera(1, "cam"));
    TAnimTransformDesc anim;
    anim.OwnerId = 1;
    anim.Keys = {{0, 0, 5, 0, 0, 0, 1}, {0, 0, 9, 0, 0, 0, 1}};
    s.Writer.AnimTransform(anim);
    s.Writer.Mesh(Triangle(2, 0, "body"));
    s.Writer.Mesh(Triangle(3, 2, "arm"));
    s.Writer.Transform({2, {1, 2, 3}, {1, 0, 0, 0}});
    EXPECT_EQ(s.Tree(), "TgrTree\n"
                        "  TgrAnimPRS \"cam\"\n"
                        "    TgrViewPort \"cam\"\n"
                        "      TgrPRS \"body\"\n"
                        "        TgrPrimitive \"body\"\n"
                        "          TgrPrimitive \"arm\"\n"
                        "      TgrPrimitive \"arm\"\n");
    auto& camTransform = static_cast<TgrAnimPRS&>(*s.Loader.AnimTransforms->GetChild(0));
    EXPECT_TRUE(camTransform.Inverted);
    ASSERT_EQ(s.Loader.Anims().size(), 2u);
    EXPECT_EQ(s.Loader.Anims()[0], camTransform.PositionTrack.get());
    EXPECT_EQ(s.Loader.Anims()[1], camTransform.RotationTrack.get());
}

TEST(Loader, StaticCameraTransformIsInvertedOnce)
{
    TScene s;
    s.Writer.Transform({7, {1, 2, 3}, {1, 0, 0, 0}});
    s.Writer.Camera(Camera(7, "cam"));
    EXPECT_EQ(s.Tree(), "TgrTree\n  TgrPRS \"cam\"\n    TgrViewPort \"cam\"\n");
    auto& prs = static_cast<TgrPRS&>(*s.Loader.Transforms->GetChild(0));
    EXPECT_EQ(prs.Matrix[12], -1.0f);
    EXPECT_EQ(prs.Matrix[14], -3.0f);
    // Building again hands out the same scene and inverts nothing back.
    const TgrTreePtr scene = s.Loader.BuildScene();
    EXPECT_EQ(s.Loader.BuildScene(), scene);
    EXPECT_EQ(prs.Matrix[12], -1.0f);
    EXPECT_EQ(prs.Count(), 1);
}

TEST(Loader, SeveralCamerasUseTheLastOnesViewport)
{
    TScene s;
    s.Writer.Transform({1, {0, 0, 0}, {1, 0, 0, 0}});
    s.Writer.Camera(Camera(1, "first"));
    s.Writer.Transform({2, {0, 0, 0}, {1, 0, 0, 0}});
    s.Writer.Camera(Camera(2, "second"));
    s.Writer.Mesh(Triangle(3, 0, "m"));
    EXPECT_EQ(s.Tree(), "TgrTree\n"
                        "  TgrPRS \"first\"\n    TgrViewPort \"first\"\n"
                        "  TgrPRS \"second\"\n    TgrViewPort \"second\"\n      TgrPrimitive \"m\"\n");

    // Without any camera the meshes hang from the root.
    TScene none;
    none.Writer.Mesh(Triangle(3, 0, "m"));
    EXPECT_EQ(none.Tree(), "TgrTree\n  TgrPrimitive \"m\"\n");
}

TEST(Loader, LightsAreNumberedInFileOrder)
{
    TScene s;
    TLightDesc light;
    light.Header.Name = "a";
    s.Writer.Light(light);
    s.Writer.Camera(Camera(1, "cam"));
    light.Header.Name = "b";
    s.Writer.Light(light);
    // A light nested in a mesh stays the mesh's child and keeps number 0.
    TLightDesc nested;
    nested.Header.Name = "lamp";
    s.Writer.Mesh(Triangle(2, 0, "m"), [&] { s.Writer.Light(nested); });
    s.Load();
    ASSERT_EQ(s.Loader.Lights->Count(), 2);
    EXPECT_EQ(static_cast<TgrLight&>(*s.Loader.Lights->GetChild(0)).Number, 0);
    EXPECT_EQ(static_cast<TgrLight&>(*s.Loader.Lights->GetChild(1)).Number, 1);
    EXPECT_EQ(TreeText(*s.Loader.BuildScene()),
              "TgrTree\n  TgrViewPort \"cam\"\n    TgrPrimitive \"m\"\n      TgrLight \"lamp\"\n");
}

TEST(Loader, MaterialChains)
{
    TScene s;
    TMaterialDesc m;
    m.Header.Name = "glass";
    s.Writer.Material(m, [&] { s.Writer.Map({1, 1}); });
    m.Header.Name = "stone";
    s.Writer.Material(m, [&] { s.Writer.Map({1, 0}); });
    m.Header.Name = "plain";
    s.Writer.Material(m, [&] { s.Writer.Map({0, 0}); });
    s.Writer.TexMap(InlineTexture("rgb", 3));
    s.Writer.TexMap(InlineTexture("rgba", 4));
    s.Load();
    s.Loader.BuildMaterials(); // again: nothing is added twice
    EXPECT_EQ(TreeText(*s.Loader.MaterialTree), "TgrTree\n"
                                                "  TgrMaterial \"glass\"\n"
                                                "    TgrMap\n"
                                                "    TgrTexture\n"
                                                "      TgrBlend\n"
                                                "  TgrMaterial \"stone\"\n"
                                                "    TgrMap\n"
                                                "    TgrTexture\n"
                                                "  TgrMaterial \"plain\"\n"
                                                "    TgrMap\n"
                                                "    TgrTexture\n");
    const auto& glass = *s.Loader.MaterialTree->GetChild(0);
    EXPECT_FALSE(glass.AutoRestore);
    auto& texture = static_cast<TgrTexture&>(*glass.GetChild(1));
    EXPECT_FALSE(texture.AutoRestore);
    EXPECT_EQ(texture.GetTexMap().get(), s.Loader.TexMaps->GetChild(1).get());
    EXPECT_FALSE(texture.GetTexMap()->AutoRestore);
    EXPECT_EQ(texture.GetTexEnv()->asSimple()->Mode, 2);
    auto& blend = static_cast<TgrBlend&>(*texture.GetChild(0));
    EXPECT_EQ(blend.SourceFactor, GL_SRC_ALPHA);
    EXPECT_EQ(blend.DestFactor, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_FALSE(blend.AutoRestore);
    // Map kind 0 keeps the default environment mode.
    auto& plain = static_cast<TgrTexture&>(*s.Loader.MaterialTree->GetChild(2)->GetChild(1));
    EXPECT_EQ(plain.GetTexEnv()->asSimple()->Mode, 1);
}

TEST(Loader, RegistrationReplacesEntriesWithTheSameKeys)
{
    TgrLoader loader;
    loader.RegisterNodeClasses();
    ASSERT_EQ(loader.Classes().size(), 8u);
    EXPECT_EQ(loader.Classes()[0].TypeKey, ChunkTypeMesh);
    EXPECT_EQ(loader.Classes()[7].TypeKey, ChunkTypeLight);
    loader.RegisterNodeClass(TgrPRS::ClassRef(), ChunkGroupKey, ChunkTypeCamera);
    EXPECT_EQ(loader.Classes().size(), 8u);
    EXPECT_EQ(loader.FindNodeClass(ChunkGroupKey, ChunkTypeCamera), &TgrPRS::ClassRef());
    EXPECT_EQ(loader.Classes().back().TypeKey, ChunkTypeCamera);
    EXPECT_EQ(loader.FindNodeClass(0, ChunkTypeCamera), nullptr);
}

TEST(Loader, MalformedFilesAreRejected)
{
    auto sizeAt = [](TScene& s, std::int64_t at, std::uint32_t size) {
        const std::int64_t keep = s.Stream.Position();
        s.Stream.Seek(at + 16);
        s.Stream.WriteUInt32(size);
        s.Stream.Seek(keep);
    };
    {
        TScene s;
        s.Writer.Camera(Camera(1, "cam"));
        sizeAt(s, 0, 12);
        EXPECT_EQ(s.Error(), "memory: chunk CAMR at byte offset 0: chunk size 12 is below the 20-byte header");
    }
    {
        TScene s;
        s.Writer.Camera(Camera(1, "cam"));
        sizeAt(s, 0, 1000);
        EXPECT_EQ(s.Error(), "memory: chunk CAMR at byte offset 0: chunk size 1000 runs past the end of the "
                             "file (55 bytes)");
    }
    {
        TScene s;
        s.Writer.Camera(Camera(1, "cam"));
        s.Writer.Camera(Camera(2, "next"));
        sizeAt(s, 0, 40); // the payload needs 35 bytes
        EXPECT_EQ(s.Error(), "memory: chunk CAMR at byte offset 0: payload of 35 bytes reads past the chunk's "
                             "end (size 40)");
    }
    {
        TScene s; // a nested map claiming the material's last byte and more
        TMaterialDesc m;
        s.Writer.Material(m, [&] { s.Writer.Map({1, 0}); });
        s.Writer.Camera(Camera(1, "cam"));
        // The map follows the material's 20-byte header and 112-byte payload;
        // the material ends after the map's 44 bytes.
        sizeAt(s, 132, 64);
        EXPECT_EQ(s.Error(), "memory: chunk MMAP at byte offset 132: chunk size 64 runs past the end of the chunk "
                             "it is nested in (byte 176)");
    }
    {
        TScene s; // a camera chunk cut short by the end of the file
        s.Writer.Raw(ChunkTypeCamera, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9});
        EXPECT_NE(s.Error().find("memory: chunk CAMR at byte offset 0: Stream read error in memory"),
                  std::string::npos);
    }
    {
        TScene s; // chunks nested deeper than the bound
        std::function<void(int)> nest = [&](int level) {
            s.Writer.Map({1, 0}, level < 100 ? TSceneWriter::TNested([&, level] { nest(level + 1); })
                                             : TSceneWriter::TNested());
        };
        nest(0);
        EXPECT_NE(s.Error().find("nested more than 64 chunks deep"), std::string::npos);
    }
    {
        TScene s; // a mesh that is its own parent, and a loop of two
        s.Writer.Camera(Camera(1, "cam"));
        s.Writer.Mesh(Triangle(5, 5, "self"));
        EXPECT_EQ(s.Error(), "memory: mesh \"self\" (Id 5) is its own ancestor through ParentId 5");
        TScene loop;
        loop.Writer.Mesh(Triangle(5, 6, "a"));
        loop.Writer.Mesh(Triangle(6, 5, "b"));
        EXPECT_NE(loop.Error().find("is its own ancestor"), std::string::npos);
    }
    {
        TScene s;
        TMaterialDesc m;
        m.Header.Name = "mat";
        s.Writer.Material(m, [&] { s.Writer.Map({1, 3}); });
        s.Writer.TexMap(InlineTexture("only", 3));
        EXPECT_EQ(s.Error(), "memory: material \"mat\" uses texture map 3, but the file holds 1");
    }
}

TEST(Loader, FileRoundTripAndTheFileIsClosed)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vendrake_loader_" + std::to_string(::getpid()) + ".y3d"))
            .string();
    {
        TFileStream out(path, TFileMode::Create);
        TSceneWriter w(out);
        w.Camera(Camera(1, "cam"));
        TMeshDesc mesh = Triangle(2, 0, "tri");
        mesh.Faces = {{4, 0, 0, 3}};
        TMaterialDesc mat;
        mat.Header.Name = "red";
        mat.Diffuse = {1, 0, 0, 1};
        mat.Shininess = 0.25f;
        w.Material(mat);
        w.Mesh(mesh);
        EXPECT_TRUE(HeldOpen(path));
    }
    TNullGL noGL;
    TgrLoader loader;
    loader.RegisterNodeClasses();
    loader.LoadFromFile(path);
    EXPECT_FALSE(HeldOpen(path));
    TgrTreePtr scene = loader.BuildScene();
    auto& mesh = static_cast<TgrPrimitive&>(*scene->GetChild(0)->GetChild(0));
    EXPECT_EQ(mesh.VertexCount(), 3);
    EXPECT_EQ(mesh.IndexCount(), 3);
    EXPECT_EQ(mesh.FaceCount(), 1);
    auto& mat = static_cast<TgrMaterial&>(*loader.MaterialTree->GetChild(0));
    EXPECT_EQ(mat.Diffuse.x, 1.0f);
    EXPECT_EQ(mat.Shininess, 25.0f);
    scene->Action(); // paints through the null table without touching anything missing

    // With a bad file the error propagates and the file is closed too.
    {
        TFileStream out(path, TFileMode::Create);
        TSceneWriter w(out);
        w.Raw(ChunkTypeCamera, {1, 2, 3});
    }
    EXPECT_THROW(loader.LoadFromFile(path), ELoadError);
    EXPECT_FALSE(HeldOpen(path));
    EXPECT_THROW(loader.LoadFromFile(path + ".missing"), EFOpenError);
    std::filesystem::remove(path);
}

TEST(SceneWriter, EveryChunkKindReadsBackItsValues)
{
    TScene s;
    TCameraDesc camera = Camera(1, "lens");
    camera.Lens = 9;
    camera.Far = 800;
    camera.Near = 0.5f;
    s.Writer.Camera(camera);
    s.Writer.Transform({4, {1, 2, 3}, {0.5f, 0.5f, 0.5f, 0.5f}, {7, 7, 7}});
    TMaterialDesc material;
    material.Header = {6, 0, 0, "m"};
    material.Shading = 0;
    material.TwoSided = 1; // and no wireframe: the three codes tell their places apart
    material.LineWidth = 2.5f;
    material.Ambient = {0.1f, 0.2f, 0.3f, 0.4f};
    material.Diffuse = {0.5f, 0.6f, 0.7f, 0.8f};
    material.Specular = {0.8f, 0.4f, 0.2f, 1};
    material.Emission = {0.01f, 0.02f, 0.03f, 0.04f};
    material.Shininess = 0.3f;
    material.SpecularLevel = 0.5f;
    s.Writer.Material(material, [&] { s.Writer.Map({1, 0, 11, 22}); });
    TTexMapDesc tex = InlineTexture("pixels", 4);
    tex.Width = 1;
    tex.Height = 2;
    tex.Pixels = {1, 2, 3, 4, 5, 6, 7, 8}; // top row, then bottom row
    s.Writer.TexMap(tex);
    TAnimTransformDesc anim;
    anim.Id = 8;
    anim.OwnerId = 9;
    anim.Kind = 2;
    anim.FloatsPerKey = 3;
    anim.Step = 5;
    anim.Keys = {{1, 2, 3}, {4, 5, 6}};
    s.Writer.AnimTransform(anim);
    TLightDesc light;
    light.Header = {10, 0, 0, "spot"};
    light.Spot = true;
    light.Cone = 90;
    light.Color = {0.5f, 0.25f, 1};
    light.Multiplier = 2;
    light.Specular = false;
    light.Attenuated = true;
    light.AttenuationDistance = 10;
    s.Writer.Light(light);
    TMeshDesc mesh = Triangle(11, 1, "tri");
    mesh.Flags = 0x2 | 0x8; // position and normal
    mesh.Vertices = {0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1};
    mesh.Faces = {{4, 0, 0, 3}};
    s.Writer.Mesh(mesh);
    s.Load();
    const auto& root = *s.Loader.Root;
    ASSERT_EQ(root.Count(), 7);

    const auto& cam = static_cast<const TgrViewPort&>(*root.GetChild(0));
    EXPECT_EQ(cam.FieldOfView, 7.0f);
    EXPECT_EQ(cam.Far, 800.0f);
    EXPECT_EQ(cam.Near, 0.5f);

    const auto& prs = static_cast<const TgrPRS&>(*root.GetChild(1));
    EXPECT_EQ(prs.OwnerId, 4);
    EXPECT_EQ(prs.Position, (TVector3{1, 2, 3}));
    EXPECT_EQ(prs.Rotation, (TQuat{0.5f, 0.5f, 0.5f, 0.5f}));

    const auto& mat = static_cast<const TgrMaterial&>(*root.GetChild(2));
    EXPECT_EQ(mat.ShadeModel, static_cast<std::uint32_t>(GL_FLAT));
    EXPECT_EQ(mat.Face, static_cast<std::uint32_t>(GL_FRONT_AND_BACK));
    EXPECT_EQ(mat.PolygonMode, static_cast<std::uint32_t>(GL_FILL));
    EXPECT_EQ(mat.LineWidth, 2.5f);
    EXPECT_EQ(mat.Ambient, material.Ambient);
    EXPECT_EQ(mat.Diffuse, material.Diffuse);
    EXPECT_EQ(mat.Specular, (TVector4{0.4f, 0.2f, 0.1f, 1}));
    EXPECT_EQ(mat.Emission, material.Emission);
    EXPECT_FLOAT_EQ(mat.Shininess, 30.0f);
    const auto& map = static_cast<const TgrMap&>(*mat.GetChild(0));
    EXPECT_EQ(map.MapKind, 1);
    EXPECT_EQ(map.Value1, 11u);
    EXPECT_EQ(map.Value2, 22u);

    const auto& texMap = static_cast<const TgrTexMap2d&>(*root.GetChild(3));
    EXPECT_EQ(texMap.Name, "pixels");
    EXPECT_EQ(texMap.Width, 1);
    EXPECT_EQ(texMap.Height, 2);
    EXPECT_EQ(texMap.BitsPerPixel, 32);
    EXPECT_EQ(texMap.Pixels, (std::vector<std::uint8_t>{5, 6, 7, 8, 1, 2, 3, 4})); // bottom row first

    const auto& move = static_cast<const TgrAnimPRS&>(*root.GetChild(4));
    EXPECT_EQ(move.Id, 8);
    EXPECT_EQ(move.OwnerId, 9);
    ASSERT_TRUE(move.PositionTrack);
    EXPECT_EQ(move.PositionTrack->Keys.Get(1)->Time, 5.0f);
    EXPECT_EQ(move.PositionTrack->Keys.Get(1)->Values[2].Value, 6.0);

    const auto& spot = static_cast<const TgrLight&>(*root.GetChild(5));
    EXPECT_EQ(spot.SpotCutoff, 45.0f);
    EXPECT_EQ(spot.Diffuse, (TVector4{1, 0.5f, 2, 1}));
    EXPECT_EQ(spot.Specular, (TVector4{0, 0, 0, 0}));
    EXPECT_FLOAT_EQ(spot.QuadraticAttenuation, 0.04f);

    const auto& tri = static_cast<const TgrPrimitive&>(*root.GetChild(6));
    EXPECT_EQ(tri.ParentId, 1);
    EXPECT_EQ(tri.Flags() & 0xFFFF, 0xAu);
    EXPECT_EQ(std::vector<float>(tri.Vertices().begin(), tri.Vertices().end()), mesh.Vertices);
    EXPECT_EQ(std::vector<std::int32_t>(tri.Indices().begin(), tri.Indices().end()), mesh.Indices);
    ASSERT_EQ(tri.FaceCount(), 1);
    EXPECT_EQ(tri.Faces()[0].Count, 3);
}
