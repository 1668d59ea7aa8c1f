// The demo generator: its files, the scene they make, and the flight.
#include "tests/tools/demo_support.h"

#include "anim/anim_prs.h"
#include "anim/track.h"
#include "app/plane_setup.h"
#include "engine/scene_player.h"
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "math/quaternion.h"
#include "render/light.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/texture.h"
#include "scene/control.h"
#include "scene/gl_null.h"
#include "scene/transform.h"
#include "scene/viewport.h"
#include "tools/demo/demo.h"
#include "tools/demo/flight.h"
#include "tools/demo/soundtrack.h"
#include "tools/demo/timeline.h"
#include "tools/y3d/commands.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

namespace vendrake {
namespace {

using namespace demo;

constexpr std::uint32_t GLSmooth = 0x1D01, GLFlat = 0x1D00;
constexpr std::uint32_t GLFront = 0x0404, GLFrontAndBack = 0x0408, GLLine = 0x1B01;

// Every node below root with its parent, depth-first.
void Walk(const TgrTree& node, const std::function<void(const TgrTree& node, const TgrTree& parent)>& visit)
{
    for (const TgrTreePtr& child : node.Children()) {
        visit(*child, node);
        Walk(*child, visit);
    }
}

// Loads with the scene's folder as the working directory, as the program
// runs, so the texture files are found.
struct TLoadedDemo {
    explicit TLoadedDemo(const test::TScratchFolder& folder) : Previous(std::filesystem::current_path())
    {
        const std::string scene = test::WriteDemoScene(folder);
        std::filesystem::current_path(folder.Path());
        Loader.RegisterNodeClasses();
        Loader.LoadFromFile(scene);
        Scene = Loader.BuildScene();
        std::filesystem::current_path(Previous);
    }
    TNullGL NoGL;
    std::filesystem::path Previous;
    TgrLoader Loader;
    TgrTreePtr Scene;
};

TEST(Demo, WritesTheSameBytesOnEveryRun)
{
    test::TScratchFolder first, second;
    const std::vector<std::string> names = WriteDemo(first.Path().string());
    EXPECT_EQ(WriteDemo(second.Path().string()), names);
    EXPECT_EQ(names, (std::vector<std::string>{"ZuzezurAdor.y3d", "sky.jpg", "rock.tga", "panel.tga", "glass.tga",
                                               "veil.tga", "halo.png", "vendrake.mp3"}));
    for (const std::string& name : names)
        EXPECT_TRUE(ReadWholeFile(first / name) == ReadWholeFile(second / name)) << name << " differs between runs";

    // Sizes stay reasonable: the scene a few megabytes, the music at its
    // constant bit rate.
    EXPECT_LT(std::filesystem::file_size(first / "ZuzezurAdor.y3d"), 4u << 20);
    const double kbps = 8.0 * double(std::filesystem::file_size(first / "vendrake.mp3")) / MusicSeconds / 1000.0;
    EXPECT_NEAR(kbps, Mp3KilobitsPerSecond, 2.0);
}

TEST(Demo, SceneHoldsEverythingThePlayerPaints)
{
    test::TScratchFolder folder;
    TLoadedDemo demo(folder);
    TgrLoader& loader = demo.Loader;

    // The camera flies on an animated transform with both tracks, applied
    // inverted, whose keys last as long as the music.
    const TgrTreePtr& cameraMove = demo.Scene->GetChild(0);
    ASSERT_TRUE(cameraMove && cameraMove->Is<TgrAnimPRS>());
    const auto& camera = static_cast<const TgrAnimPRS&>(*cameraMove);
    EXPECT_TRUE(camera.Inverted);
    ASSERT_TRUE(camera.PositionTrack && camera.RotationTrack);
    const TAnimKeyList& keys = camera.PositionTrack->Keys;
    ASSERT_GT(keys.Count(), 0);
    EXPECT_GE(keys.Get(keys.Count() - 1)->Time, MusicSeconds * SceneUnitsPerSecond);
    EXPECT_TRUE(camera.GetChild(0)->Is<TgrViewPort>());

    // Meshes carry normals, texture coordinates and face records, so their
    // materials and textures apply.
    int meshes = 0;
    for (const TgrTreePtr& node : loader.Others->Children()) {
        if (!node->Is<TgrPrimitive>())
            continue;
        ++meshes;
        const auto& mesh = static_cast<const TgrPrimitive&>(*node);
        EXPECT_EQ(mesh.Flags() & 0x48u, 0x48u) << mesh.Name;
        EXPECT_GT(mesh.FaceCount(), 0) << mesh.Name;
        EXPECT_TRUE(mesh.Materials()) << mesh.Name;
    }
    EXPECT_GE(meshes, 12);

    std::set<std::uint32_t> shading, faces;
    int wireframes = 0;
    for (const TgrTreePtr& node : loader.Materials->Children()) {
        const auto& m = static_cast<const TgrMaterial&>(*node);
        shading.insert(m.ShadeModel);
        faces.insert(m.Face);
        wireframes += m.PolygonMode == GLLine;
    }
    EXPECT_EQ(shading, (std::set<std::uint32_t>{GLFlat, GLSmooth}));
    EXPECT_EQ(faces, (std::set<std::uint32_t>{GLFront, GLFrontAndBack}));
    EXPECT_EQ(wireframes, 1);

    // Every texture has its pixels, inline or read from its file, and maps
    // of kind 1 sit on 24-bit images (modulated) and 32-bit images
    // (modulated and alpha-blended).
    for (const TgrTreePtr& node : loader.TexMaps->Children()) {
        const auto& map = static_cast<const TgrTexMap2d&>(*node);
        EXPECT_EQ(map.Pixels.size(), std::size_t(map.Width) * std::size_t(map.Height) * map.BitsPerPixel / 8)
            << map.Name;
        EXPECT_FALSE(map.Pixels.empty()) << map.Name;
    }
    int opaque = 0, blended = 0;
    for (const TgrTreePtr& material : loader.MaterialTree->Children()) {
        const TgrTreePtr& map = material->GetChild(0);
        if (!map || !map->Is<TgrMap>() || static_cast<const TgrMap&>(*map).MapKind != 1)
            continue;
        const TgrTreePtr& texture = material->GetChild(material->Count() - 1);
        ASSERT_TRUE(texture->Is<TgrTexture>()) << material->Name;
        const int bits = static_cast<const TgrTexture&>(*texture).TexMap->BitsPerPixel;
        const bool blends = texture->Count() == 1 && texture->GetChild(0)->Is<TgrBlend>();
        EXPECT_EQ(blends, bits == 32) << material->Name;
        opaque += bits == 24;
        blended += bits == 32;
    }
    EXPECT_GT(opaque, 0);
    EXPECT_GT(blended, 1);

    // The painted light sits in a mesh; the top-level ones are only listed.
    int paintedLights = 0, childMeshes = 0;
    Walk(*demo.Scene, [&](const TgrTree& node, const TgrTree& parent) {
        paintedLights += node.Is<TgrLight>() && parent.Is<TgrPrimitive>();
        if (node.Is<TgrMatrixEdit>() && parent.Is<TgrPrimitive>())
            childMeshes += node.GetChild(0) && node.GetChild(0)->Is<TgrPrimitive>();
    });
    EXPECT_EQ(paintedLights, 1);
    EXPECT_GT(loader.Lights->Count(), 0);
    EXPECT_GT(childMeshes, 0);

    // Fixed transforms, and animated ones of both kinds.
    EXPECT_GT(loader.Transforms->Count(), 0);
    int positionOnly = 0;
    for (const TgrTreePtr& node : loader.AnimTransforms->Children())
        positionOnly += !static_cast<const TgrAnimPRS&>(*node).RotationTrack;
    EXPECT_GT(positionOnly, 0);
    EXPECT_GT(loader.AnimTransforms->Count() - positionOnly, 0);
}

TEST(Demo, PlaneSetUpWrapsAllSevenPlanes)
{
    test::TScratchFolder folder;
    const std::string scene = test::WriteDemoScene(folder);
    std::ostringstream out, err;
    ASSERT_EQ(y3d::Run({"tree", "--planes", scene}, out, err), 0) << err.str();

    // The children of the root's first grandchild sit three levels down.
    std::vector<std::string> lines, grandchildren;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
        if (line.rfind("      ", 0) == 0 && line[6] != ' ')
            grandchildren.push_back(line.substr(6));
    }
    ASSERT_GE(grandchildren.size(), PlaneNames.size());
    for (std::size_t i = 0; i < PlaneNames.size(); ++i) {
        const std::string& name = PlaneNames[i];
        EXPECT_EQ(grandchildren[grandchildren.size() - PlaneNames.size() + i], "TgrAnimPRS \"" + name + "\"");
        const std::vector<std::string> chain = {"      TgrAnimPRS \"" + name + "\"", "        TgrBlend",
                                                "          TgrCallback", "            TgrPrimitive \"" + name + "\""};
        const auto at = std::search(lines.begin(), lines.end(), chain.begin(), chain.end());
        EXPECT_NE(at, lines.end()) << name << " is not wrapped:\n" << out.str();
    }
}

// The program's whole life with the demo, minus the window: load, plane
// set-up, frames, then the player goes and takes every node with it. (Under
// the sanitizer build LeakSanitizer checks the same for every allocation.)
TEST(Demo, FreeingThePlayerAfterAFrameFreesEveryNode)
{
    test::TScratchFolder folder;
    const std::string scene = test::WriteDemoScene(folder);
    TNullGL noGL;
    std::vector<std::weak_ptr<TgrTree>> nodes;
    std::function<void(const TgrTreePtr&)> collect = [&](const TgrTreePtr& node) {
        nodes.push_back(node);
        for (const TgrTreePtr& child : node->Children())
            collect(child);
    };
    {
        TMaxPlayer player;
        int planeHooks = 0;
        player.SetSceneFile(scene);
        player.SetOnLoaded([&](TMaxPlayer& sender) {
            SetUpPlanes(*sender.Root(), [&] { ++planeHooks; }, [&] { ++planeHooks; });
        });
        const std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::current_path(folder.Path());
        player.Init(0);
        std::filesystem::current_path(previous);
        player.Render(0, 1.6f);
        player.Render(1.6f, 1.6f);
        EXPECT_GT(planeHooks, 0);
        collect(player.Root());
        collect(player.Loader()->Others);
        ASSERT_GT(nodes.size(), 100u);
    }
    std::size_t alive = 0;
    for (const std::weak_ptr<TgrTree>& node : nodes)
        alive += node.expired() ? 0 : 1;
    EXPECT_EQ(alive, 0u) << "of " << nodes.size();
}

// The camera never enters what it flies past: the ground, the gates, the
// crystals, the tunnel from outside, the beacon and the things round the
// core.
TEST(Demo, CameraStaysClearOfTheScenery)
{
    const std::vector<TPlacement> gates = GatePlacements();
    const std::vector<TPlacement> crystals = CrystalSites();
    const std::vector<TPipeRing> tunnel = TunnelRings();
    const double cell = 2 * TerrainHalfSize / 96;
    for (double t = 0; t <= SceneSeconds; t += 0.05) {
        const TVec p = CameraPose(t).Position;
        // The highest corner of the terrain cell below bounds its triangles.
        const double x0 = std::floor((p.x + TerrainHalfSize) / cell) * cell - TerrainHalfSize;
        const double z0 = std::floor((p.z + TerrainHalfSize) / cell) * cell - TerrainHalfSize;
        const double ground = std::max({TerrainHeight(x0, z0), TerrainHeight(x0 + cell, z0),
                                        TerrainHeight(x0, z0 + cell), TerrainHeight(x0 + cell, z0 + cell)});
        EXPECT_GT(p.y - ground, 5.0) << "at " << t << " s";
        for (const TPlacement& gate : gates) {
            const TVec d = p - gate.Centre;
            const double along = Dot(d, gate.Frame.Z);
            const double across = Length(d - gate.Frame.Z * along);
            EXPECT_GT(std::hypot(across - GateRadius, along), GateTube + 2) << "gate at " << t << " s";
        }
        for (const TPlacement& site : crystals) {
            const TVec d = p - site.Centre;
            if (d.y < CrystalClusterHeight) {
                EXPECT_GT(std::hypot(d.x, d.z), CrystalClusterRadius + 2) << "crystals at " << t << " s";
            }
        }
        // The pipe's wall, ring by ring: inside it the camera stays on the
        // axis, outside it keeps away.
        const double wall = (TunnelInnerRadius + TunnelOuterRadius) / 2;
        for (const TPipeRing& ring : tunnel) {
            const TVec d = p - ring.Centre;
            const double along = Dot(d, ring.Frame.Z);
            EXPECT_GT(std::hypot(Length(d - ring.Frame.Z * along) - wall, along), 3.5) << "tunnel at " << t << " s";
        }
        EXPECT_GT(Length(p), 45.0) << "core at " << t << " s";
        EXPECT_GT(Length(p - BeaconPosition(t)), 10.0) << "beacon at " << t << " s";
    }
}

// Scene files read rotations transposed; what the generator stores must
// come out as the frame it meant, through both matrix routines.
TEST(Demo, StoredRotationsReadBackAsTheirFrames)
{
    const TFrame frames[] = {TFrame{},
                             AxisRotation({0, 1, 0}, Radians(90)),
                             AxisRotation({1, 2, -0.5}, Radians(-140)),
                             AxisRotation({0, 0, 1}, Radians(179.5)),
                             LookFrame({0.3, -0.4, -1}, {0, 1, 0}),
                             LookFrame({-1, 0.1, 0.2}, {0, 1, 0})};
    for (const TFrame& f : frames) {
        const TQuat q = FileRotation(f);
        EXPECT_GE(q.w, 0.0f);
        for (const TMatrix4& m : {QuaternionToMatrix(q.x, q.y, q.z, q.w), TQuaternion::ToMatrix(q)}) {
            const TVec columns[] = {f.X, f.Y, f.Z};
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(m[4 * c + 0], columns[c].x, 1e-5);
                EXPECT_NEAR(m[4 * c + 1], columns[c].y, 1e-5);
                EXPECT_NEAR(m[4 * c + 2], columns[c].z, 1e-5);
            }
        }
    }
    // The camera looks down its -z at what it aims for.
    const TFrame look = LookFrame({0, 0, -1}, {0, 1, 0});
    EXPECT_NEAR(look.X.x, 1, 1e-12);
    EXPECT_NEAR(look.Y.y, 1, 1e-12);
    EXPECT_NEAR(look.Z.z, 1, 1e-12);
}

// The player culls back faces: every triangle must turn its front the way
// its normals point, or it vanishes.
TEST(Demo, ShapesTurnTheirFacesTheWayTheirNormalsPoint)
{
    std::vector<TPipeRing> rings;
    for (int i = 0; i < 6; ++i)
        rings.push_back({{0, double(i), 3.0 * i}, LookFrame({0, 0.3, 1}, {0, 1, 0})});
    const std::pair<const char*, TMeshBuilder> shapes[] = {
        {"sphere", UvSphere(5, 12, 6, 0)},
        {"dome", UvSphere(50, 12, 6, 0, true, -20, 90)},
        {"flat geosphere", Geosphere(3, 1, true, 0, [](TVec n) { return 1 + 0.2 * n.x; })},
        {"smooth geosphere", Geosphere(3, 2, false, 0)},
        {"torus", Torus(10, 2, 24, 8, 0)},
        {"crystal", Crystal(1, 5, 2, 0)},
        {"square", Square(4, 0)},
        {"pipe", Pipe(rings, 2, 3, 10, 2, 0, 1, [](int ring, int side) { return ring == 2 && side == 3; })},
        {"height field", HeightField(6, 10, 2, [](double x, double z) { return 5 * std::sin(x / 9) * std::cos(z / 7); },
                                     [](TVec, TVec) { return TVec{1, 1, 1}; }, 0)},
    };
    for (const auto& [name, shape] : shapes) {
        const TMeshDesc mesh = shape.Build({1, 0, 0, name});
        const std::size_t stride = std::size_t(MeshStride(mesh.Flags));
        auto at = [&](std::int32_t index, int offset) {
            const float* v = &mesh.Vertices[std::size_t(index) * stride + std::size_t(offset)];
            return TVec{v[0], v[1], v[2]};
        };
        ASSERT_EQ(mesh.Indices.size() % 3, 0u) << name;
        for (std::size_t i = 0; i < mesh.Indices.size(); i += 3) {
            const std::int32_t a = mesh.Indices[i], b = mesh.Indices[i + 1], c = mesh.Indices[i + 2];
            const TVec n = Cross(at(b, 0) - at(a, 0), at(c, 0) - at(a, 0));
            if (Length(n) < 1e-9)
                continue; // collapsed at a pole
            EXPECT_GT(Dot(n, at(a, 3) + at(b, 3) + at(c, 3)), 0) << name << " triangle " << i / 3;
        }
    }

    // One face record per material, in order of first use.
    TMeshBuilder b;
    for (int i = 0; i < 4; ++i)
        b.Add({{double(i), 0, 0}});
    b.Triangle(0, 1, 2, 3);
    b.Triangle(1, 2, 3, 1);
    b.Triangle(0, 2, 3, 3);
    const TMeshDesc mesh = b.Build({7, 0, 0, "two"});
    ASSERT_EQ(mesh.Faces.size(), 2u);
    EXPECT_EQ(mesh.Faces[0].MaterialIndex, 3);
    EXPECT_EQ(mesh.Faces[0].FirstIndex, 0);
    EXPECT_EQ(mesh.Faces[0].Count, 6);
    EXPECT_EQ(mesh.Faces[1].MaterialIndex, 1);
    EXPECT_EQ(mesh.Faces[1].FirstIndex, 6);
    EXPECT_EQ(mesh.Indices, (std::vector<std::int32_t>{0, 1, 2, 0, 2, 3, 1, 2, 3}));
}

TEST(Demo, MirroredCoordinatesRunBackAndForth)
{
    EXPECT_DOUBLE_EQ(MirroredCoordinate(0, 4, 0.1), 0.1);
    EXPECT_DOUBLE_EQ(MirroredCoordinate(2, 4, 0.1), 0.5);
    EXPECT_DOUBLE_EQ(MirroredCoordinate(4, 4, 0.1), 0.9);
    EXPECT_DOUBLE_EQ(MirroredCoordinate(6, 4, 0.1), 0.5);
    EXPECT_DOUBLE_EQ(MirroredCoordinate(8, 4, 0.1), 0.1);
    EXPECT_DOUBLE_EQ(MirroredCoordinate(-2, 4, 0.1), 0.5);
}

} // namespace
} // namespace vendrake
