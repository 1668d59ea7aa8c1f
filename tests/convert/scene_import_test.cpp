// y3d import against scenes Blender made and exported itself: the tree, the
// sampled placements against the world transforms Blender reports, and a
// rendered frame against where Blender's camera sees the objects.
#include "tests/tools/demo_support.h"

#include "anim/anim_prs.h"
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "stream/stream.h"
#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "render/light.h"
#include "render/material.h"
#include "render/mesh.h"
#include "scene/gl_null.h"
#include "scene/transform.h"
#include "scene/viewport.h"
#include "tools/y3d/commands.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace vendrake {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path Scenes = BLENDER_SCENES;
// The floor's diagonal: positions must agree within 1e-4 of it.
const double SceneSize = 8 * std::sqrt(2.0);

json Answers()
{
    std::ifstream in(Scenes / "scene.json");
    return json::parse(in);
}

struct TVec3 {
    double x = 0, y = 0, z = 0;
};
struct TRot {
    double w = 1, x = 0, y = 0, z = 0;
};

TRot Multiply(const TRot& a, const TRot& b)
{
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

// The angle of the turn from b to a; from the vector part, which keeps its
// precision for small turns where the cosine does not.
double AngleDegrees(const TRot& a, const TRot& b)
{
    const TRot d = Multiply(a, TRot{b.w, -b.x, -b.y, -b.z});
    return 2 * std::atan2(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), std::abs(d.w)) * 180 / M_PI;
}

// Blender's world is z-up; the imported scene is y-up, as glTF is.
const TRot ZUpToYUp{std::sqrt(0.5), -std::sqrt(0.5), 0, 0};
const TRot YUpToZUp{std::sqrt(0.5), std::sqrt(0.5), 0, 0};

TVec3 YUp(const json& p) { return {p[0].get<double>(), p[2].get<double>(), -p[1].get<double>()}; }

// A placement as the player evaluates it at `seconds`.
struct TPlaced {
    TVec3 Position;
    TRot Rotation;
};

class TImported {
public:
    TImported(const std::string& file, const std::vector<std::string>& options = {})
    {
        std::ostringstream out, err;
        std::vector<std::string> line = {"import", file, Out};
        line.insert(line.end(), options.begin(), options.end());
        Status = y3d::Run(line, out, err);
        Errors = err.str();
        if (Status != 0)
            return;
        Loader.RegisterNodeClasses();
        // The animated transforms' keys as written, before the loader turns
        // their rotations into tracks.
        std::vector<std::int64_t> animated;
        Loader.OnChunk = [&](const TgrLoader::TChunkEvent& e) {
            if (e.Header.TypeKey == 0x4354524C)
                animated.push_back(e.Offset);
        };
        Loader.LoadFromFile(Out);
        const std::vector<std::uint8_t> bytes = ReadWholeFile(Out);
        for (const std::int64_t offset : animated) {
            std::int32_t head[7];
            std::memcpy(head, &bytes[std::size_t(offset) + 20], sizeof head);
            std::vector<float> keys(std::size_t(head[4]) * std::size_t(head[5]));
            std::memcpy(keys.data(), &bytes[std::size_t(offset) + 48], keys.size() * 4);
            Keys[head[1]] = {head[6], head[4], std::move(keys)};
        }
    }

    std::vector<std::string> MeshNames() const
    {
        std::vector<std::string> names;
        for (const TgrTreePtr& node : Loader.Others->Children())
            if (node->Is<TgrPrimitive>())
                names.push_back(node->Name);
        return names;
    }

    std::int32_t IdOf(const std::string& name) const
    {
        for (const TgrTreePtr& node : Loader.Others->Children())
            if (node->Name == name)
                return node->Id;
        ADD_FAILURE() << "no node " << name;
        return -1;
    }

    TPlaced At(const std::string& name, double seconds) const
    {
        const std::int32_t id = IdOf(name);
        for (const TgrTreePtr& node : Loader.AnimTransforms->Children()) {
            auto& anim = static_cast<TgrAnimPRS&>(*node);
            if (anim.OwnerId != id)
                continue;
            anim.PositionTrack->Evaluate(seconds * 10);
            const auto& p = anim.PositionTrack->Values;
            // The sample's rotation as stored, conjugated.
            const TKeys& keys = Keys.at(id);
            const auto k = std::size_t(std::lround(seconds * 10 / keys.Step));
            const float* q = &keys.Floats[std::min(k, keys.Floats.size() / keys.PerKey - 1) * keys.PerKey + 3];
            return {{p[0].Value, p[1].Value, p[2].Value}, {q[3], -q[0], -q[1], -q[2]}};
        }
        for (const TgrTreePtr& node : Loader.Transforms->Children()) {
            const auto& prs = static_cast<const TgrPRS&>(*node);
            if (prs.OwnerId == id)
                return {{prs.Position.x, prs.Position.y, prs.Position.z},
                        {prs.Rotation.w, -prs.Rotation.x, -prs.Rotation.y, -prs.Rotation.z}};
        }
        ADD_FAILURE() << "nothing places " << name;
        return {};
    }

    struct TKeys {
        std::int32_t Step = 1;
        std::int32_t PerKey = 7;
        std::vector<float> Floats;
    };
    std::map<std::int32_t, TKeys> Keys; // by owner

    test::TScratchFolder Folder;
    std::string Out = Folder / "scene.y3d";
    int Status = -1;
    std::string Errors;
    TNullGL NoGL;
    TgrLoader Loader;
};

struct TErrors {
    double Position = 0; // in scene units
    double Rotation = 0; // degrees
};

// Compares every object Blender answered for at every time with the
// imported placement. glTF turns the meshes' own axes y-up with the world
// (`gltfAxes`); FBX and COLLADA keep Blender's z-up meshes under a y-up
// world. A camera looks down its -z axis everywhere.
TErrors CompareWithBlender(const TImported& scene, bool gltfAxes)
{
    const json answers = Answers();
    TErrors worst;
    for (const std::string name : {"Spinner", "Moon", "Floor", "Plane01", "Camera", "Lamp"}) {
        for (const json& sample : answers["objects"][name]) {
            const double t = sample["time"].get<double>();
            const TPlaced placed = scene.At(name, t);
            const TVec3 expected = YUp(sample["position"]);
            const double d = std::hypot(placed.Position.x - expected.x, placed.Position.y - expected.y,
                                        placed.Position.z - expected.z);
            worst.Position = std::max(worst.Position, d);
            if (name == "Lamp")
                continue; // a point light: its turn is the file's choice
            const json& q = sample["rotation"];
            TRot rotation = Multiply(ZUpToYUp, TRot{q[0].get<double>(), q[1].get<double>(), q[2].get<double>(),
                                                    q[3].get<double>()});
            if (gltfAxes && name != "Camera")
                rotation = Multiply(rotation, YUpToZUp);
            worst.Rotation = std::max(worst.Rotation, AngleDegrees(placed.Rotation, rotation));
            EXPECT_LE(d, 1e-4 * SceneSize) << name << " at " << t << " s";
        }
    }
    return worst;
}

TEST(SceneImport, BlenderScenesKeepTheirObjectsPlacesAndTurnsAtEverySample)
{
    const json answers = Answers();
    for (const std::string format : {"glb", "gltf", "fbx", "dae"}) {
        SCOPED_TRACE(format);
        const TImported scene((Scenes / ("scene." + format)).string());
        ASSERT_EQ(scene.Status, 0) << scene.Errors;
        // The light's carrier comes first, then the meshes under their
        // objects' names.
        const std::vector<std::string> names = scene.MeshNames();
        ASSERT_EQ(names.size(), 5u);
        EXPECT_EQ(names[0], "Lamp");
        for (const std::string name : {"Spinner", "Moon", "Floor", "Plane01"})
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
        const TgrTreePtr carrier = scene.Loader.Others->GetChild(1);
        ASSERT_TRUE(carrier && carrier->GetChild(0) && carrier->GetChild(0)->Is<TgrLight>());

        const TErrors worst = CompareWithBlender(scene, format == "glb" || format == "gltf");
        EXPECT_LE(worst.Rotation, 0.01);
        RecordProperty(format + "_position_error", std::to_string(worst.Position));
        RecordProperty(format + "_rotation_error_degrees", std::to_string(worst.Rotation));

        // glTF states the vertical angle; Blender's FBX and COLLADA a
        // horizontal one across its 3:2 sensor, fitted vertically here.
        const auto& camera = static_cast<const TgrViewPort&>(*scene.Loader.Others->GetChild(0));
        EXPECT_NEAR(camera.FieldOfView, answers["camera"]["vertical_fov_degrees"].get<double>(), 0.01);
        EXPECT_NEAR(camera.Near, answers["camera"]["near"].get<double>(), 1e-5);
        EXPECT_NEAR(camera.Far, answers["camera"]["far"].get<double>(), 1e-3);
    }
}

TEST(SceneImport, ObjMeshesSitWhereBlenderHadThem)
{
    // OBJ holds world-space vertices and no animation, camera or light.
    const json answers = Answers();
    const TImported scene((Scenes / "scene.obj").string());
    ASSERT_EQ(scene.Status, 0) << scene.Errors;
    for (const std::string name : {"Spinner", "Moon", "Floor", "Plane01"}) {
        TgrTreePtr node;
        for (const TgrTreePtr& child : scene.Loader.Others->Children())
            if (child->Name == name)
                node = child;
        ASSERT_TRUE(node) << name;
        const auto& mesh = static_cast<const TgrPrimitive&>(*node);
        double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9};
        for (std::int32_t v = 0; v < mesh.VertexCount(); ++v)
            for (int c = 0; c < 3; ++c) {
                const float f = mesh.Vertices()[std::size_t(v * mesh.Stride() + c)];
                lo[c] = std::min(lo[c], double(f));
                hi[c] = std::max(hi[c], double(f));
            }
        const TVec3 expected = YUp(answers["objects"][name][0]["position"]);
        EXPECT_NEAR((lo[0] + hi[0]) / 2, expected.x, 1e-4 * SceneSize) << name;
        EXPECT_NEAR((lo[1] + hi[1]) / 2, expected.y, 1e-4 * SceneSize) << name;
        EXPECT_NEAR((lo[2] + hi[2]) / 2, expected.z, 1e-4 * SceneSize) << name;
    }
    // A camera of the importer's own sees the whole scene.
    EXPECT_TRUE(scene.Loader.Others->GetChild(0)->Is<TgrViewPort>());
}

TBitmap ReadPng(const std::string& fileName)
{
    TFileStream stream(fileName, TFileMode::OpenRead);
    return ReadImageByContent(stream);
}

TEST(SceneImport, RenderedFramesShowTheObjectsWhereBlendersCameraSeesThem)
{
    const json answers = Answers();
    for (const std::string format : {"glb", "gltf"}) {
        SCOPED_TRACE(format);
        const TImported scene((Scenes / ("scene." + format)).string());
        ASSERT_EQ(scene.Status, 0) << scene.Errors;
        // The packed floor image came out beside the scene.
        for (const double t : {0.0, 1.0, 2.0}) {
            std::ostringstream out, err;
            const std::string frame = scene.Folder / "frame.png";
            ASSERT_EQ(y3d::Run({"render", scene.Out, "--time", std::to_string(t), "--out", frame}, out, err), 0)
                << err.str();
            const TBitmap image = ReadPng(frame);
            // B, G, R in the bitmap; Blender's view runs from the bottom.
            const auto pixel = [&](const json& view) {
                const int x = int(view[0].get<double>() * image.Width());
                const int y = int((1 - view[1].get<double>()) * image.Height());
                const std::uint8_t* p = image.ScanLine(y) + 3 * x;
                return std::array<int, 3>{p[2], p[1], p[0]};
            };
            const int k = int(std::lround(t * 10));
            const auto red = pixel(answers["objects"]["Spinner"][k]["view"]);
            EXPECT_GT(red[0], 2 * red[1] + 20) << "the red cube at " << t << " s";
            EXPECT_GT(red[0], 2 * red[2] + 20) << "the red cube at " << t << " s";
            const auto blue = pixel(answers["objects"]["Plane01"][k]["view"]);
            EXPECT_GT(blue[2], blue[0] + 40) << "the blue plane at " << t << " s";
            if (t != 0)
                continue;
            for (const json& point : answers["floor"]) {
                const auto seen = pixel(point["view"]);
                const bool yellow = point["colour"][2].get<double>() < 0.5;
                if (yellow)
                    EXPECT_TRUE(seen[0] > seen[2] + 40 && seen[1] > seen[2] + 40) << point.dump();
                else
                    EXPECT_TRUE(seen[2] > seen[0] + 40) << point.dump();
            }
        }
    }
}

// A point of the world where Blender's 16:9 camera shows it, on the
// player's 800x600 picture: the vertical angle is kept, so the picture is
// the middle of Blender's, its sides cut off.
std::array<double, 2> BlenderPixel(const json& view, double aspect)
{
    return {400 + (view[0].get<double>() - 0.5) * 800 * aspect / (4.0 / 3.0), (1 - view[1].get<double>()) * 600};
}

TVec3 Rotate(const TRot& q, const TVec3& v)
{
    const TRot r = Multiply(Multiply(q, TRot{0, v.x, v.y, v.z}), TRot{q.w, -q.x, -q.y, -q.z});
    return {r.x, r.y, r.z};
}

// Where the imported scene's camera shows a point at `seconds`, as the
// player projects it.
std::array<double, 2> PlayerPixel(const TImported& scene, const TVec3& point, double seconds)
{
    const auto& camera = static_cast<const TgrViewPort&>(*scene.Loader.Others->GetChild(0));
    const TPlaced eye = scene.At(camera.Name, seconds);
    const TVec3 local = Rotate(TRot{eye.Rotation.w, -eye.Rotation.x, -eye.Rotation.y, -eye.Rotation.z},
                               {point.x - eye.Position.x, point.y - eye.Position.y, point.z - eye.Position.z});
    const double f = 1 / std::tan(camera.FieldOfView / 2 * M_PI / 180);
    return {400 + 400 * f * 0.75 * local.x / -local.z, 300 - 300 * f * local.y / -local.z};
}

TEST(SceneImport, AWideBlenderSceneFramesAlikeFromEveryFormatWithEachObjectOnItsOwnAction)
{
    const fs::path wide = fs::path(BLENDER_SCENES).parent_path() / "wide";
    const json answers = [&] {
        std::ifstream in(wide / "wide.json");
        return json::parse(in);
    }();
    const double aspect = answers["camera"]["aspect"].get<double>();
    // The same glTF without its optional aspect ratio.
    test::TScratchFolder bare;
    {
        std::ifstream in(wide / "wide.gltf");
        json gltf = json::parse(in);
        for (json& camera : gltf["cameras"])
            camera["perspective"].erase("aspectRatio");
        std::ofstream(bare / "wide.gltf") << gltf.dump();
        fs::copy_file(wide / "wide.bin", bare / "wide.bin");
    }
    const std::map<std::string, std::string> sources = {
        {"glb", wide / "wide.glb"}, {"gltf", wide / "wide.gltf"}, {"gltf without aspect", bare / "wide.gltf"},
        {"fbx", wide / "wide.fbx"}, {"dae", wide / "wide.dae"}};
    for (const auto& [format, source] : sources) {
        SCOPED_TRACE(format);
        const TImported scene(source);
        ASSERT_EQ(scene.Status, 0) << scene.Errors;
        // Blender's FBX moves each object by every action that fits it;
        // only its own is kept, and the others are no loss to warn of.
        if (format == "fbx" || format == "dae")
            EXPECT_EQ(scene.Errors, "y3d: warning: camera 'Camera': Blender's " + format +
                                        " does not say how the camera fits the picture; taken as Sensor Fit "
                                        "Vertical (glTF says it)\n");
        else
            EXPECT_EQ(scene.Errors, "");
        const auto& camera = static_cast<const TgrViewPort&>(*scene.Loader.Others->GetChild(0));
        EXPECT_NEAR(camera.FieldOfView, answers["camera"]["vertical_fov_degrees"].get<double>(), 0.01);

        double worst = 0;
        for (const std::string name : {"Cube", "Tower"})
            for (const json& sample : answers["objects"][name]) {
                const double t = sample["time"].get<double>();
                const auto expected = BlenderPixel(sample["view"], aspect);
                const auto seen = PlayerPixel(scene, scene.At(name, t).Position, t);
                const double error = std::hypot(seen[0] - expected[0], seen[1] - expected[1]);
                EXPECT_LE(error, 2) << name << " at " << t << " s";
                worst = std::max(worst, error);
            }
        RecordProperty(format + "_pixel_error", std::to_string(worst));

        // The painted frames agree: each object's colour where Blender's
        // camera puts its origin.
        for (const double t : {0.0, 1.0, 2.0}) {
            std::ostringstream out, err;
            const std::string frame = scene.Folder / "frame.png";
            ASSERT_EQ(y3d::Run({"render", scene.Out, "--time", std::to_string(t), "--out", frame}, out, err), 0)
                << err.str();
            const TBitmap image = ReadPng(frame);
            const int k = int(std::lround(t * 10));
            const auto colour = [&](const std::string& name) {
                const auto p = BlenderPixel(answers["objects"][name][k]["view"], aspect);
                const std::uint8_t* bgr = image.ScanLine(int(p[1])) + 3 * int(p[0]);
                return std::array<int, 3>{bgr[2], bgr[1], bgr[0]};
            };
            const auto red = colour("Cube");
            EXPECT_GT(red[0], 2 * std::max(red[1], red[2]) + 20) << "the red cube at " << t << " s";
            const auto blue = colour("Tower");
            EXPECT_GT(blue[2], blue[0] + 40) << "the blue tower at " << t << " s";
        }
    }
}

TEST(SceneImport, EachThingTheSceneCannotHoldIsWarnedAboutOnce)
{
    // One triangle with two texture-coordinate sets and a normal map, two
    // cameras and two lights.
    test::TScratchFolder sources;
    std::vector<float> floats = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1};
    std::ofstream(sources / "extra.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(floats.data()), std::streamsize(floats.size() * 4));
    std::ofstream(sources / "extra.gltf") << R"({"asset": {"version": "2.0"}, "scene": 0,
      "extensionsUsed": ["KHR_lights_punctual"],
      "extensions": {"KHR_lights_punctual": {"lights": [
        {"type": "point", "color": [1, 1, 1]}, {"type": "spot", "spot": {"outerConeAngle": 0.5}}]}},
      "scenes": [{"nodes": [0, 1, 2, 3, 4]}],
      "nodes": [{"name": "Tri", "mesh": 0},
                {"name": "Eye", "camera": 0, "translation": [0, 0, 5]},
                {"name": "Spare", "camera": 1, "translation": [0, 0, 9]},
                {"name": "Bulb", "extensions": {"KHR_lights_punctual": {"light": 0}}},
                {"name": "Torch", "extensions": {"KHR_lights_punctual": {"light": 1}}}],
      "cameras": [{"type": "perspective", "perspective": {"yfov": 0.8, "znear": 0.1, "zfar": 100}},
                  {"type": "perspective", "perspective": {"yfov": 0.5, "znear": 0.1, "zfar": 100}}],
      "images": [{"uri": "bumps.png"}], "textures": [{"source": 0}],
      "materials": [{"name": "Skin", "normalTexture": {"index": 0}}],
      "meshes": [{"name": "Tri", "primitives": [{"material": 0,
        "attributes": {"POSITION": 0, "TEXCOORD_0": 1, "TEXCOORD_1": 2}}]}],
      "buffers": [{"uri": "extra.bin", "byteLength": 88}],
      "bufferViews": [{"buffer": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 24},
                      {"buffer": 0, "byteOffset": 60, "byteLength": 24}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                     "min": [0, 0, 0], "max": [1, 1, 0]},
                    {"bufferView": 1, "componentType": 5126, "count": 3, "type": "VEC2"},
                    {"bufferView": 2, "componentType": 5126, "count": 3, "type": "VEC2"}]})";

    const TImported scene(sources / "extra.gltf");
    ASSERT_EQ(scene.Status, 0) << scene.Errors;
    std::multiset<std::string> lines;
    std::istringstream err(scene.Errors);
    for (std::string line; std::getline(err, line);)
        lines.insert(line);
    const std::multiset<std::string> expected = {
        "y3d: warning: camera 'Spare' is not carried: a scene has one camera",
        "y3d: warning: light 'Torch' is not carried: the player paints one light",
        "y3d: warning: mesh 'Tri' has 2 texture-coordinate sets: only the first is carried",
        "y3d: warning: material 'Skin': its normal texture is not carried; only the base colour texture is",
    };
    EXPECT_EQ(lines, expected) << scene.Errors;
    // What is carried is there: the mesh, the first camera, the first light
    // under its carrier.
    EXPECT_EQ(scene.MeshNames(), (std::vector<std::string>{"Bulb", "Tri"}));
    EXPECT_EQ(scene.Loader.Others->GetChild(0)->Name, "Eye");
    const TgrTreePtr carrier = scene.Loader.Others->GetChild(1);
    ASSERT_TRUE(carrier && carrier->GetChild(0) && carrier->GetChild(0)->Is<TgrLight>());
}

TEST(SceneImport, LinesMarkedAsAWireframeBecomeItsTrianglesOnlyWhereTheyMakeTriangles)
{
    // A square as two triangles, each written as its three edges, and the
    // same lines out of that order; both nodes mark their material.
    test::TScratchFolder sources;
    const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<std::uint32_t> indices = {0, 1, 1, 2, 2, 0, 0, 2, 2, 3, 3, 0,
                                                0, 1, 2, 3, 1, 2, 3, 0, 0, 2, 2, 0};
    {
        std::ofstream bin(sources / "wire.bin", std::ios::binary);
        bin.write(reinterpret_cast<const char*>(positions.data()), 48);
        bin.write(reinterpret_cast<const char*>(indices.data()), 96);
    }
    std::ofstream(sources / "wire.gltf") << R"({"asset": {"version": "2.0"}, "scene": 0,
      "scenes": [{"nodes": [0, 1]}],
      "nodes": [{"name": "Wire", "mesh": 0, "extras": {"y3d_wireframe": {"0": 2.5}}},
                {"name": "Loose", "mesh": 1, "extras": {"y3d_wireframe": {"1": 3}}}],
      "materials": [{"name": "Cage"}, {"name": "Strings"}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "mode": 1, "material": 0}]},
                 {"primitives": [{"attributes": {"POSITION": 0}, "indices": 2, "mode": 1, "material": 1}]}],
      "buffers": [{"uri": "wire.bin", "byteLength": 144}],
      "bufferViews": [{"buffer": 0, "byteLength": 48}, {"buffer": 0, "byteOffset": 48, "byteLength": 48},
                      {"buffer": 0, "byteOffset": 96, "byteLength": 48}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3",
                     "min": [0, 0, 0], "max": [1, 1, 0]},
                    {"bufferView": 1, "componentType": 5125, "count": 12, "type": "SCALAR"},
                    {"bufferView": 2, "componentType": 5125, "count": 12, "type": "SCALAR"}]})";

    const TImported scene(sources / "wire.gltf");
    ASSERT_EQ(scene.Status, 0) << scene.Errors;
    EXPECT_EQ(scene.Errors, "y3d: warning: node 'Loose': its lines marked as a wireframe do not make triangles and "
                            "stay lines\n");
    const auto mesh = [&](const std::string& name) -> const TgrPrimitive& {
        for (const TgrTreePtr& node : scene.Loader.Others->Children())
            if (node->Name == name)
                return static_cast<const TgrPrimitive&>(*node);
        throw std::runtime_error("no mesh " + name);
    };
    const auto material = [&](const std::string& name) -> const TgrMaterial& {
        for (const TgrTreePtr& node : scene.Loader.Materials->Children())
            if (node->Name == name)
                return static_cast<const TgrMaterial&>(*node);
        throw std::runtime_error("no material " + name);
    };
    const TgrPrimitive& wire = mesh("Wire");
    ASSERT_EQ(wire.Faces().size(), 1u);
    EXPECT_EQ(wire.Faces()[0].Mode, 4);
    EXPECT_EQ(std::vector<std::int32_t>(wire.Indices().begin(), wire.Indices().end()),
              (std::vector<std::int32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(material("Cage").PolygonMode, 0x1B01u);
    EXPECT_EQ(material("Cage").LineWidth, 2.5f);
    const TgrPrimitive& loose = mesh("Loose");
    ASSERT_EQ(loose.Faces().size(), 1u);
    EXPECT_EQ(loose.Faces()[0].Mode, 1);
    EXPECT_EQ(loose.Faces()[0].Count, 12);
    EXPECT_EQ(material("Strings").PolygonMode, 0x1B02u);
}

TEST(SceneImport, BadInputIsReportedAndLeavesNothingBehind)
{
    test::TScratchFolder folder, sources;
    const std::string out = folder / "out.y3d";
    const auto run = [&](const std::string& source) {
        std::ostringstream o, err;
        const int status = y3d::Run({"import", source, out}, o, err);
        EXPECT_EQ(status, 1) << source;
        EXPECT_TRUE(fs::is_empty(folder.Path())) << source;
        return err.str();
    };
    const std::string missing = sources / "missing.glb";
    EXPECT_EQ(run(missing), "y3d: " + missing + ": no such file\n");
    // Blender's own files: the library's reader knows only old versions.
    const std::string blend = sources / "scene.blend";
    std::ofstream(blend) << "BLENDER-v304RENDH";
    EXPECT_EQ(run(blend), "y3d: " + blend +
                              ": a Blender file: export it from Blender first (File > Export > glTF 2.0, .glb) and "
                              "import that\n");
    const std::string unknown = sources / "notes.xyz123";
    std::ofstream(unknown) << "nothing";
    EXPECT_EQ(run(unknown), "y3d: " + unknown + ": unsupported format (.xyz123)\n");
    // A glb cut short: the reader rejects it.
    const std::string cut = sources / "cut.glb";
    {
        std::ifstream in(Scenes / "scene.glb", std::ios::binary);
        std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
        bytes.resize(bytes.size() / 2);
        std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    const std::string message = [&] {
        std::ostringstream o, err;
        EXPECT_EQ(y3d::Run({"import", cut, out}, o, err), 1);
        return err.str();
    }();
    EXPECT_EQ(message.rfind("y3d: " + cut + ": ", 0), 0u) << message;
    EXPECT_TRUE(fs::is_empty(folder.Path()));
}

} // namespace
} // namespace vendrake
