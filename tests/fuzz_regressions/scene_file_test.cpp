#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "stream/stream.h"
#include "render/mesh.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

std::vector<std::uint8_t> CorpusFile(const std::string& name)
{
    return ReadWholeFile(std::string(VENDRAKE_FUZZ_CORPUS) + "/scene_loader_fuzz/" + name);
}

// Loads a scene from bytes and paints one frame into the recorder.
Lines PaintScene(const std::vector<std::uint8_t>& bytes)
{
    TGLRecorder recorder;
    TgrLoader loader;
    loader.RegisterNodeClasses();
    TMemoryStream stream(bytes);
    loader.LoadFromStream(stream);
    loader.SortNodes();
    loader.BuildMaterials();
    TgrTreePtr scene = loader.BuildScene();
    recorder.ClearLog();
    scene->Action();
    return recorder.Log();
}

TCameraDesc CameraOf(std::int32_t id, const std::string& name)
{
    TCameraDesc camera;
    camera.Header = {id, 0, 0, name};
    return camera;
}

TTransformDesc TransformOf(std::int32_t ownerId)
{
    TTransformDesc transform;
    transform.OwnerId = ownerId;
    return transform;
}

std::string LoadError(const std::vector<std::uint8_t>& bytes)
{
    try {
        PaintScene(bytes);
    } catch (const ELoadError& e) {
        return e.what();
    }
    return "no error";
}

Lines PointerCalls(const Lines& log)
{
    Lines calls;
    std::copy_if(log.begin(), log.end(), std::back_inserter(calls),
                 [](const std::string& line) { return line.find("Pointer(") != std::string::npos; });
    return calls;
}

} // namespace

// A mesh with a record layout but no vertices used to hand the GL addresses
// computed from a null buffer.
TEST(SceneFileRegressions, MeshWithoutVerticesPointsAtNoBuffer)
{
    TMemoryStream file;
    TSceneWriter writer(file);
    TMeshDesc mesh;
    mesh.Header = {1, 0, 0, "Empty"};
    mesh.Flags = 0x2 | 0x8 | 0x20 | 0x40; // position, normal, RGBA, texture set 0
    writer.Mesh(mesh);
    EXPECT_EQ(PointerCalls(PaintScene(file.Bytes())),
              (Lines{"glVertexPointer(3, 5126, 48, null)", "glTexCoordPointer(2, 5126, 48, null)",
                     "glNormalPointer(5126, 48, null)", "glColorPointer(4, 5126, 48, null)"}));

    for (const std::string& line : PointerCalls(PaintScene(CorpusFile("empty_mesh_with_arrays.y3d"))))
        EXPECT_TRUE(line.ends_with("null)")) << line;
}

// A camera and a mesh with one Id share a transform: the mesh would hang
// under its own transform above the camera, and the scene would contain
// itself (painting it never ended).
TEST(SceneFileRegressions, MeshSharingTheCameraTransformIsALoadError)
{
    EXPECT_EQ(LoadError(CorpusFile("camera_and_mesh_share_an_id.y3d")),
              "memory: mesh \"Mesh4\" (Id 4) shares its transform with the camera it hangs under");

    TMemoryStream file;
    TSceneWriter writer(file);
    writer.Camera(CameraOf(7, "Camera01"));
    writer.Transform(TransformOf(7));
    TMeshDesc mesh;
    mesh.Header = {7, 0, 0, "Box"};
    mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    writer.Mesh(mesh);
    EXPECT_EQ(LoadError(file.Bytes()),
              "memory: mesh \"Box\" (Id 7) shares its transform with the camera it hangs under");

    // The transform of a camera the meshes do not hang under (the last one
    // is theirs) makes no cycle, and the scene loads.
    TMemoryStream other;
    TSceneWriter otherWriter(other);
    otherWriter.Camera(CameraOf(7, "Camera01"));
    otherWriter.Transform(TransformOf(7));
    otherWriter.Camera(CameraOf(8, "Camera02"));
    otherWriter.Transform(TransformOf(8));
    otherWriter.Mesh(mesh);
    EXPECT_EQ(LoadError(other.Bytes()), "no error");
}
