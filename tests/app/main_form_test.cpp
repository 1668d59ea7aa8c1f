// The main form without a display: its key and resize handlers, and the
// effect list and scene loading it drives, on the recording GL double.
#include "app/main_form.h"
#include "engine/effect_list.h"
#include "engine/renderer.h"
#include "engine/scene_player.h"
#include "scenefile/tree_text.h"
#include "platform/application.h"
#include "scene/device.h"
#include "tests/app/plane_scene.h"
#include "tests/support/gl_recorder.h"
#include "tools/demo/image_files.h"
#include "tools/demo/soundtrack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace vendrake {
namespace {

using Lines = std::vector<std::string>;

// A renderer on the recording double: a device without a window.
std::unique_ptr<TRenderer> MakeRenderer()
{
    auto renderer = std::make_unique<TRenderer>();
    renderer->SetDevice(std::make_unique<TgrOpengl>());
    renderer->SetupCanvas();
    return renderer;
}

TEST(MainForm, EscapeEndsTheLoopAndResizesReachOnlyARunningRenderer)
{
    TApplication application;
    TForm1 form(application);
    std::uint16_t key = 'A';
    form.OnKeyDown(form, key, ssShift);
    key = 13;
    form.OnKeyDown(form, key, 0);
    EXPECT_FALSE(application.Terminated());
    key = 27;
    form.OnKeyDown(form, key, 0);
    EXPECT_TRUE(application.Terminated());

    // No renderer, then one without a thread: nothing happens.
    TGLRecorder recorder;
    form.OnResize(form);
    auto renderer = MakeRenderer();
    form.SetRenderer(renderer.get());
    form.OnResize(form);
    renderer->CreateThread();
    EXPECT_FALSE(renderer->Thread()->ResizePending());
    form.OnResize(form);
    EXPECT_TRUE(renderer->Thread()->ResizePending());
    renderer->StopThread();
}

struct MainFormScene : ::testing::Test {
    void SetUp() override
    {
        std::filesystem::current_path(Folder.Path());
        renderer->SetEffects(form.CreateEffects());
        form.SetRenderer(renderer.get());
    }
    void TearDown() override { std::filesystem::current_path(Previous); }

    std::filesystem::path Previous = std::filesystem::current_path();
    test::TTempFolder Folder;
    TGLRecorder Recorder;
    TApplication Application;
    TForm1 form{Application};
    std::unique_ptr<TRenderer> renderer = MakeRenderer();
};

std::size_t Occurrences(const std::string& text, const std::string& word)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

TEST_F(MainFormScene, LoadSceneLoadsTheWorkingFoldersSceneAndSetsThePlanesUpOnce)
{
    ASSERT_EQ(renderer->Effects()->Count(), 1u);
    ASSERT_TRUE(MaxPlayer);
    EXPECT_EQ(renderer->Effects()->Item(0), MaxPlayer);

    test::WritePlaneScene(SceneFileName);
    form.LoadScene();
    ASSERT_TRUE(MaxPlayer->Root());
    EXPECT_EQ(Occurrences(TreeText(*MaxPlayer->Root()), "TgrCallback"), 7u);
    // No music file here: the stream never opened, and nothing complained.
    EXPECT_EQ(MusicStream, 0u);

    // The planes' hooks are the form's: each switches the depth test off.
    Recorder.ClearLog();
    MaxPlayer->Render(0, 1);
    const Lines frame = Recorder.Log();
    EXPECT_EQ(std::count(frame.begin(), frame.end(), RecordedCall("glDisable", GL_DEPTH_TEST)), 7);
}

TEST_F(MainFormScene, TheMusicStartsOnceTheSceneHasLoaded)
{
    // Half a second of a tone as the soundtrack, played into a WAV file.
    std::vector<float> tone(2 * demo::SampleRate / 2);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(double(i / 2) * 0.06));
    demo::WriteFileBytes(MusicFileName, demo::EncodeMp3(tone));
    const std::filesystem::path heard = Folder.Path() / "heard.wav";
    ShutdownAudioForTesting(false); // whatever an earlier test started
    SetAudioOutputForTesting("wav", heard.c_str());

    // A scene that does not load starts no music.
    demo::WriteFileBytes(SceneFileName, std::vector<std::uint8_t>(30, 0x4B));
    EXPECT_THROW(form.LoadScene(), std::exception);
    EXPECT_EQ(MusicStream, 0u);

    // Loaded, the song is playing by the time LoadScene returns, before any
    // frame could be painted: it is heard to its end.
    test::WritePlaneScene(SceneFileName);
    form.LoadScene();
    EXPECT_NE(MusicStream, 0u);
    ShutdownAudioForTesting(true);
    SetAudioOutputForTesting(nullptr, nullptr);
    EXPECT_EQ(AudioOutputDriver(), "wav");
    EXPECT_GE(std::filesystem::file_size(heard), 44u + 4u * demo::SampleRate / 2);
    MusicStream = 0;
}

} // namespace
} // namespace vendrake
