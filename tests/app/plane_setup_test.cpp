// The plane set-up on loaded scenes: where the transforms go, how the planes
// are wrapped, and what a frame then paints, on the recording GL double.
#include "app/plane_setup.h"
#include "engine/scene_player.h"
#include "scenefile/loader.h"
#include "scenefile/tree_text.h"
#include "render/mesh.h"
#include "scene/viewport.h"
#include "anim/anim_prs.h"
#include "tests/app/plane_scene.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace vendrake {
namespace {

using Lines = std::vector<std::string>;

std::string Indent(int depth) { return std::string(static_cast<std::size_t>(depth) * 2, ' '); }

// A plane as the set-up leaves it: transform, blend, callback, mesh.
std::string WrappedPlane(const std::string& name, int depth, bool withTransform = true)
{
    std::string text;
    if (withTransform)
        text += Indent(depth++) + "TgrAnimPRS \"" + name + "\"\n";
    return text + Indent(depth) + "TgrBlend\n" + Indent(depth + 1) + "TgrCallback\n" + Indent(depth + 2) +
           "TgrPrimitive \"" + name + "\"\n";
}

std::string WrappedPlanes(int depth, const std::set<std::string>& skip = {})
{
    std::string text;
    for (const std::string& name : PlaneNames)
        if (!skip.count(name))
            text += WrappedPlane(name, depth);
    return text;
}

const std::string CameraAndBox = "TgrTree\n"
                                 "  TgrAnimPRS \"Camera01\"\n"
                                 "    TgrViewPort \"Camera01\"\n"
                                 "      TgrAnimPRS \"Box\"\n"
                                 "        TgrPrimitive \"Box\"\n";

TgrTreePtr Find(const TgrTree& node, const std::string& name, const TNodeClass& nodeClass)
{
    for (const TgrTreePtr& child : node.Children()) {
        if (child->Is(nodeClass) && child->Name == name)
            return child;
        if (TgrTreePtr found = Find(*child, name, nodeClass))
            return found;
    }
    return nullptr;
}

// False when some node lies below itself; depth bounds the walk.
bool Acyclic(const TgrTree& node, std::vector<const TgrTree*>& path)
{
    if (std::find(path.begin(), path.end(), &node) != path.end() || path.size() > 64)
        return false;
    path.push_back(&node);
    for (const TgrTreePtr& child : node.Children())
        if (!Acyclic(*child, path))
            return false;
    path.pop_back();
    return true;
}

struct PlaneSetUp : ::testing::Test {
    // Loads the scene and builds its tree.
    TgrTreePtr Load(const test::TPlaneScene& scene = {})
    {
        test::WritePlaneScene(File, scene);
        TgrLoader loader;
        loader.RegisterNodeClasses();
        loader.LoadFromFile(File);
        return loader.BuildScene();
    }
    TgrTreePtr LoadAndSetUp(const test::TPlaneScene& scene = {})
    {
        TgrTreePtr root = Load(scene);
        SetUpPlanes(*root, [this] { ++Before; }, [this] { ++After; });
        return root;
    }

    TGLRecorder Recorder;
    test::TTempFolder Folder;
    std::string File = Folder / "planes.y3d";
    int Before = 0;
    int After = 0;
};

TEST_F(PlaneSetUp, TransformsGoLastUnderTheFirstGrandchildInTableOrderAndPlanesAreWrapped)
{
    const TgrTreePtr root = LoadAndSetUp();
    EXPECT_EQ(TreeText(*root), CameraAndBox + WrappedPlanes(3));

    for (const std::string& name : PlaneNames) {
        const TgrTreePtr transform = Find(*root, name, TgrAnimPRS::ClassRef());
        ASSERT_TRUE(transform);
        const auto& blend = dynamic_cast<const TgrBlend&>(*transform->GetChild(0));
        EXPECT_EQ(blend.SourceFactor, GL_ONE);
        EXPECT_EQ(blend.DestFactor, GL_ONE);
        const auto& callback = dynamic_cast<const TgrCallback&>(*blend.GetChild(0));
        ASSERT_TRUE(callback.OnBefore && callback.OnAfter);
        callback.OnBefore();
        callback.OnAfter();
    }
    EXPECT_EQ(Before, 7);
    EXPECT_EQ(After, 7);

    // With two cameras the meshes hang under the second one; the transforms
    // still go to the root's first grandchild, the first camera's viewport.
    test::TPlaneScene twoCameras;
    twoCameras.SecondCamera = true;
    const TgrTreePtr two = LoadAndSetUp(twoCameras);
    EXPECT_EQ(TreeText(*two), "TgrTree\n"
                              "  TgrAnimPRS \"Camera01\"\n"
                              "    TgrViewPort \"Camera01\"\n" +
                                  WrappedPlanes(3) +
                                  "  TgrAnimPRS \"Camera02\"\n"
                                  "    TgrViewPort \"Camera02\"\n"
                                  "      TgrAnimPRS \"Box\"\n"
                                  "        TgrPrimitive \"Box\"\n");
}

TEST_F(PlaneSetUp, MissingTransformsAndMeshes)
{
    // Plane05's mesh has no transform: it is wrapped where it hangs. Plane04
    // has no mesh, so its transform never entered the tree: no empty child
    // and no blend for it.
    test::TPlaneScene missing;
    missing.WithoutTransform = {"Plane05"};
    missing.WithoutMesh = {"Plane04"};
    const TgrTreePtr root = LoadAndSetUp(missing);
    EXPECT_EQ(TreeText(*root), CameraAndBox + WrappedPlanes(3, {"Plane05", "Plane04"}) +
                                   WrappedPlane("Plane05", 3, false));

    // Without any plane meshes the tree stays as it was.
    test::TPlaneScene none;
    none.WithoutMesh = {PlaneNames.begin(), PlaneNames.end()};
    const std::string before = TreeText(*Load(none));
    EXPECT_EQ(TreeText(*LoadAndSetUp(none)), before);
}

TEST_F(PlaneSetUp, RootsWithoutAPlaceForTheTransformsKeepThem)
{
    // Only the planes, without a camera: they hang from the root, and once
    // their transforms are taken out the root has no grandchild. They go
    // back to the root rather than being lost.
    test::TPlaneScene planesOnly;
    planesOnly.Camera = false;
    planesOnly.Box = false;
    const TgrTreePtr bare = LoadAndSetUp(planesOnly);
    EXPECT_EQ(TreeText(*bare), "TgrTree\n" + WrappedPlanes(1));

    // A viewport straight under the root, and the box a child of Plane01 as
    // well: the first grandchild is then the box's transform, which hangs
    // below Plane01's transform too. Appending that transform there would
    // make the tree a cycle; it stays with the viewport instead.
    test::TPlaneScene shared;
    shared.CameraTransform = false;
    shared.BoxParent = "Plane01";
    const TgrTreePtr root = LoadAndSetUp(shared);
    std::vector<const TgrTree*> path;
    ASSERT_TRUE(Acyclic(*root, path));
    const TgrTreePtr& viewport = root->GetChild(0);
    ASSERT_TRUE(viewport->Is<TgrViewPort>());
    EXPECT_EQ(viewport->GetChild(viewport->Count() - 1), Find(*root, "Plane01", TgrAnimPRS::ClassRef()));
    const TgrTreePtr& boxTransform = viewport->GetChild(0);
    EXPECT_EQ(boxTransform->Name, "Box");
    std::vector<std::string> moved;
    for (const TgrTreePtr& child : boxTransform->Children())
        moved.push_back(child->Name);
    // The box's transform is shared by both places the box hangs, so it
    // holds the box twice.
    EXPECT_EQ(moved, (Lines{"Box", "Box", "Plane06", "Plane05", "Plane04", "Plane07", "Plane03", "Plane08"}));
    root->Action();
}

// Finds the n-th line equal to line at or after from; log.size() when none.
std::size_t IndexOf(const Lines& log, const std::string& line, std::size_t from)
{
    return static_cast<std::size_t>(std::find(log.begin() + static_cast<std::ptrdiff_t>(from), log.end(), line) -
                                    log.begin());
}

TEST_F(PlaneSetUp, AFramePaintsEachPlaneAdditivelyWithTheDepthTestOff)
{
    test::WritePlaneScene(File);
    TMaxPlayer player;
    player.SetOnLoaded([](TMaxPlayer& sender) { SetUpPlanes(*sender.Root(), DisableDepthTest, {}); });
    player.SetSceneFile(File);
    player.Init(0);
    Recorder.ClearLog();
    player.Render(0, 1);
    const Lines frame = Recorder.Log();

    const std::string push = RecordedCall("glPushAttrib", GLbitfield(GL_COLOR_BUFFER_BIT));
    const std::string depthOff = RecordedCall("glDisable", GL_DEPTH_TEST);
    std::size_t at = 0;
    for (const std::string& name : PlaneNames) {
        SCOPED_TRACE(name);
        // The mesh's own calls, painted alone.
        Recorder.ClearLog();
        Find(*player.Root(), name, TgrPrimitive::ClassRef())->Action();
        Lines expected = {push, RecordedCall("glEnable", GL_BLEND), RecordedCall("glBlendFunc", GL_ONE, GL_ONE),
                          depthOff};
        for (const std::string& line : Recorder.Log())
            expected.push_back(line);
        expected.push_back("glPopAttrib()");

        at = IndexOf(frame, push, at);
        ASSERT_LE(at + expected.size(), frame.size());
        EXPECT_EQ(Lines(frame.begin() + static_cast<std::ptrdiff_t>(at),
                        frame.begin() + static_cast<std::ptrdiff_t>(at + expected.size())),
                  expected);
        at += expected.size();
    }
    EXPECT_EQ(IndexOf(frame, push, at), frame.size()) << "more than seven blends";

    // Nothing switches the depth test back on for the rest of the frame.
    const std::size_t firstOff = IndexOf(frame, depthOff, 0);
    ASSERT_LT(firstOff, frame.size());
    EXPECT_EQ(IndexOf(frame, RecordedCall("glEnable", GL_DEPTH_TEST), firstOff), frame.size());
}

} // namespace
} // namespace vendrake
