#include "engine/scene_player.h"
#include "scenefile/loader.h"
#include "scenefile/scene_writer.h"
#include "tests/support/gl_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vendrake;
using Lines = std::vector<std::string>;

namespace {

const Lines FixedFrame = {
    "glLoadIdentity()",
    RecordedCall("glEnable", GL_LIGHTING),
    RecordedCall("glEnable", GL_LIGHT0),
    "glPushMatrix()",
    "glTranslatef(-100, 0, -500)",
    RecordedCall("glDisable", GL_LIGHTING),
    RecordedCall("glBegin", GL_LINE_STRIP),
    "glVertex2f(0, 0)",
    "glColor3f(1, 1, 1)",
    "glEnd()",
    RecordedCall("glEnable", GL_LIGHTING),
    "glPopMatrix()",
};

struct TSceneFile {
    std::string Path = (std::filesystem::temp_directory_path() /
                        ("vendrake_player_" + std::to_string(::getpid()) + ".y3d"))
                           .string();
    TSceneFile()
    {
        TFileStream out(Path, TFileMode::Create);
        TSceneWriter w(out);
        TCameraDesc cam;
        cam.Header = {1, 0, 0, "cam"};
        w.Camera(cam);
        TAnimTransformDesc move;
        move.Kind = 2;
        move.FloatsPerKey = 3;
        move.OwnerId = 2;
        move.Step = 10;
        move.Keys = {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}};
        w.AnimTransform(move);
        TMeshDesc mesh;
        mesh.Header = {2, 0, 0, "box"};
        mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        w.Mesh(mesh);
    }
    ~TSceneFile() { std::filesystem::remove(Path); }
};

} // namespace

TEST(ScenePlayer, RenderWithoutASceneIssuesOnlyTheFixedCalls)
{
    TGLRecorder rec;
    TMaxPlayer player;
    player.Init(0);
    EXPECT_EQ(player.EffectType(), "Painter");
    EXPECT_EQ(rec.Log(), (Lines{RecordedCall("glLightModeli", GL_LIGHT_MODEL_LOCAL_VIEWER, 1),
                                RecordedCall("glEnable", GL_CULL_FACE)}));
    rec.ClearLog();
    player.Render(0, 1.5f);
    EXPECT_EQ(rec.Log(), FixedFrame);
}

TEST(ScenePlayer, ClockTracksAndNotification)
{
    TSceneFile file;
    TGLRecorder rec;
    TMaxPlayer player;
    int loaded = 0;
    player.SetOnLoaded([&](TMaxPlayer& sender) {
        EXPECT_EQ(&sender, &player);
        ++loaded;
    });
    player.SetSceneFile(file.Path);
    player.Init(0);
    EXPECT_EQ(loaded, 1);
    ASSERT_TRUE(player.Root());
    EXPECT_TRUE(player.SceneNames().empty()); // a plain root has no scene names

    // One second of frames: the deltas sum to 100 hundredths, the clock to 10.
    float time = 0;
    for (int frame = 0; frame < 60; ++frame) {
        const float delta = 100.0f / 60.0f;
        time += delta;
        player.Render(time, delta);
    }
    EXPECT_NEAR(player.SceneTime(), 10.0, 1e-5);
    // The mesh's animated transform moved with the clock: x = 10 at time 10.
    rec.ClearLog();
    player.Render(time, 0);
    const Lines log = rec.Log();
    ASSERT_GT(log.size(), FixedFrame.size());
    EXPECT_TRUE(std::equal(FixedFrame.begin(), FixedFrame.end(), log.begin()));
    bool moved = false;
    for (const std::string& line : log)
        moved |= line.rfind("glMultMatrixf({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10,", 0) == 0 ||
                 line.rfind("glMultMatrixf({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 9.99", 0) == 0;
    EXPECT_TRUE(moved);

    // Every Init loads again, notifies once more and restarts the clock; the
    // previous scene is released, not leaked.
    const std::weak_ptr<TgrTree> first = player.Root();
    const std::weak_ptr<TgrTree> firstMesh = player.Root()->GetChild(0)->GetChild(0);
    player.Init(0);
    EXPECT_EQ(loaded, 2);
    EXPECT_EQ(player.SceneTime(), 0.0);
    EXPECT_TRUE(first.expired());
    EXPECT_TRUE(firstMesh.expired());

    // A load error leaves the previous scene in place.
    const TgrTreePtr before = player.Root();
    player.SetSceneFile(file.Path + ".missing");
    EXPECT_THROW(player.Init(0), EFOpenError);
    EXPECT_EQ(player.Root(), before);
    player.Render(0, 1); // still paints the old scene
}

TEST(ScenePlayer, AReloadFreesThePreviousScenesTexturesInItsInitPass)
{
    // Two inline maps, uploaded while loading: the first textures the
    // triangle, the second is held by the loader alone.
    TSceneFile file;
    {
        TFileStream out(file.Path, TFileMode::Create);
        TSceneWriter w(out);
        TTexMapDesc map;
        map.Header = {5, 0, 0, "used"};
        map.Inline = true;
        map.Width = map.Height = 1;
        map.Pixels = {1, 2, 3};
        w.TexMap(map);
        map.Header.Name = "unused";
        w.TexMap(map);
        TMaterialDesc material;
        material.Header = {6, 0, 0, "m"};
        w.Material(material, [&] { w.Map({}); });
        TMeshDesc mesh;
        mesh.Header = {2, 0, 0, "tri"};
        mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        mesh.Indices = {0, 1, 2};
        mesh.Faces = {{GL_TRIANGLES, 0, 0, 3}};
        w.Mesh(mesh);
    }
    TGLRecorder rec;
    TMaxPlayer player;
    // As the renderer's init passes do: the context is current for Init only.
    const auto initPass = [&] {
        ASSERT_TRUE(ActivateContext(nullptr, TGLRecorder::Context()));
        player.Init(0);
        DeactivateContext();
    };
    player.SetSceneFile(file.Path);
    initPass();
    player.Render(0, 1);
    player.SetSceneFile(file.Path);
    rec.ClearLog();
    initPass();
    const Lines log = rec.Log();
    for (GLuint name : {1u, 2u})
        EXPECT_EQ(std::count(log.begin(), log.end(), RecordedCall("glDeleteTextures", 1, std::vector<GLuint>{name})),
                  1)
            << "texture " << name;
}

TEST(ScenePlayer, TheEndOfTheLongestTrackIsReportedOnceOrStartsTheSceneAgain)
{
    TSceneFile file; // keys up to 20: two seconds
    TGLRecorder rec;
    TMaxPlayer player;
    int ends = 0;
    player.SetOnEnd([&](TMaxPlayer&) { ++ends; });
    player.SetSceneFile(file.Path);
    player.Init(0);
    EXPECT_EQ(player.SceneEnd(), 2.0);
    player.Render(0, 100);
    EXPECT_EQ(ends, 0);
    player.Render(0, 100);
    EXPECT_EQ(ends, 1);
    player.Render(0, 100); // plays on past the end, reported once
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player.SceneTime(), 30.0);

    // Looping, the clock goes back by the scene's length and keeps the
    // frame's share of the next lap; a long frame skips whole laps.
    player.SetLooping(true);
    player.Init(0);
    ends = 0;
    player.Render(0, 150);
    player.Render(0, 55);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player.Laps(), 1);
    EXPECT_NEAR(player.SceneTime(), 0.5, 1e-6);
    player.Render(0, 450);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(player.Laps(), 3);
    EXPECT_NEAR(player.SceneTime(), 5.5, 1e-6);
}
