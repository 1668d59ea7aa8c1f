#include "scenefile/scene_writer.h"
#include "tests/app/plane_scene.h"
#include "tests/tools/y3d_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace vendrake;

namespace {

struct TFile {
    std::string Path = (std::filesystem::temp_directory_path() /
                        ("vendrake_y3d_" + std::to_string(::getpid()) + "_" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".y3d"))
                           .string();
    ~TFile() { std::filesystem::remove(Path); }
};

using TResult = test::TY3dResult;
using test::Y3d;

void WriteScene(const std::string& path)
{
    TFileStream out(path, TFileMode::Create);
    TSceneWriter w(out);
    TCameraDesc cam;
    cam.Header = {1, 0, 0, "Camera01"};
    w.Camera(cam);                                  // 0: 20 + 16 + 8 + 16 = 60
    w.Transform({1, {0, 0, 10}, {1, 0, 0, 0}});      // 60: 20 + 44 = 64
    TMaterialDesc mat;
    mat.Header = {2, 0, 0, "Glass"};
    w.Material(mat, [&] { w.Map({1, 0}); });          // 124: 20 + 117 + nested 44 = 181
    TTexMapDesc tex;
    tex.Header.Name = "glass.tga";
    w.TexMap(tex);                                     // 305: 20 + 16 + 9 + 4 = 49
    w.Raw(0xCAFEBABE, {1, 2, 3, 4});                   // 354: 24
    TMeshDesc mesh;
    mesh.Header = {3, 0, 0, "Box"};
    mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    w.Mesh(mesh);                                      // 378: 20 + 19 + 44 + 36 = 119
}

} // namespace

TEST(Y3d, InspectListsChunksAsRead)
{
    TFile f;
    WriteScene(f.Path);
    const TResult r = Y3d({"inspect", f.Path});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "0 CAMR 60 TgrViewPort \"Camera01\"\n"
                     "60 IPRS 64 TgrPRS\n"
                     "124 MTRL 181 TgrMaterial \"Glass\"\n"
                     "  261 MMAP 44 TgrMap\n"
                     "305 TXTR 49 TgrTexMap2d \"glass.tga\"\n"
                     "354 0xCAFEBABE 24 (skipped)\n"
                     "378 MESH 119 TgrPrimitive \"Box\"\n");
}

TEST(Y3d, TreePrintsTheSceneAndMaterialTrees)
{
    TFile f;
    WriteScene(f.Path);
    TResult r = Y3d({"tree", f.Path});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "TgrTree\n"
                     "  TgrPRS \"Camera01\"\n"
                     "    TgrViewPort \"Camera01\"\n"
                     "      TgrPrimitive \"Box\"\n");
    r = Y3d({"tree", "--materials", f.Path});
    EXPECT_EQ(r.Out, "TgrTree\n"
                     "  TgrMaterial \"Glass\"\n"
                     "    TgrMap\n"
                     "    TgrTexture\n");
}

TEST(Y3d, ErrorsAreOneLineAndStatusOne)
{
    TFile f;
    {
        TFileStream out(f.Path, TFileMode::Create);
        TSceneWriter(out).Raw(0x43414D52, {1, 2, 3});
    }
    TResult r = Y3d({"tree", f.Path});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err.rfind("y3d: '" + f.Path + "': chunk CAMR at byte offset 0: ", 0), 0u) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1);

    r = Y3d({"inspect", f.Path + ".none"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(".none"), std::string::npos);
    EXPECT_EQ(Y3d({"frobnicate"}).Status, 1);
    r = Y3d({"--help"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find("tree --materials FILE"), std::string::npos);
    EXPECT_NE(r.Out.find("tree --planes FILE"), std::string::npos);
}

TEST(Y3d, TreeWithPlanesShowsThePlayersSetUp)
{
    TFile f;
    test::TPlaneScene scene;
    scene.WithoutTransform = {"Plane05"};
    scene.WithoutMesh = {"Plane04"};
    test::WritePlaneScene(f.Path, scene);
    auto wrapped = [](const std::string& name, bool transform = true) {
        const std::string indent = transform ? "        " : "      ";
        return (transform ? "      TgrAnimPRS \"" + name + "\"\n" : std::string()) + indent + "TgrBlend\n" +
               indent + "  TgrCallback\n" + indent + "    TgrPrimitive \"" + name + "\"\n";
    };
    TResult r = Y3d({"tree", "--planes", f.Path});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "TgrTree\n"
                     "  TgrAnimPRS \"Camera01\"\n"
                     "    TgrViewPort \"Camera01\"\n"
                     "      TgrAnimPRS \"Box\"\n"
                     "        TgrPrimitive \"Box\"\n" +
                         wrapped("Plane06") + wrapped("Plane01") + wrapped("Plane07") + wrapped("Plane03") +
                         wrapped("Plane08") + wrapped("Plane05", false));
    // The plain tree is untouched by the set-up: planes in file order.
    r = Y3d({"tree", f.Path});
    EXPECT_EQ(r.Out.find("TgrBlend"), std::string::npos);
}
