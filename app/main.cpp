// Vendrake: plays a scene file (ZuzezurAdor.y3d from the working directory,
// else the installed demo, unless one is named) with its soundtrack in a borderless 800 by 600
// window, with the display switched to that size, until Escape (or a number
// of frames given with --frames, or the scene's end). With --window it plays
// in an ordinary window and leaves the display alone.
#include "app/app_icon.h"
#include "app/main_form.h"
#include "app/play_options.h"
#include "app/res_change.h"
#include "engine/renderer.h"
#include "engine/scene_player.h"
#include "platform/application.h"
#include "platform/audio.h"
#include "platform/clock.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

using namespace vendrake;

namespace {

// A failed start-up: the render thread stops, the user's display mode comes
// back, and only then is the reason reported.
void Abandon(TRenderer* renderer, std::optional<TResChange>& resChange, const char* message)
{
    if (renderer)
        renderer->StopThread();
    if (resChange)
        resChange->Restore();
    std::fprintf(stderr, "vendrake: %s\n", message);
}

} // namespace

int main(int argc, char** argv)
{
    std::int64_t started = 0;
    QueryPerformanceCounter(&started);
    TPlayOptions options;
    try {
        options = ParsePlayOptions(argc, argv);
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "vendrake: %s\n%s", e.what(), PlayUsage);
        return 2;
    }
    if (options.Help) {
        std::fputs(PlayUsage, stdout);
        return 0;
    }
    TFrameStats stats(started, options.Frames);
    // Where the picture's clock started; the render thread's alone, and it
    // may run until the very end.
    std::int64_t clockOrigin = 0;

    // Every path the user gave is taken from where the program started;
    // then the scene's folder becomes the working directory, where the
    // loader finds the textures the scene names.
    TPlayFiles files;
    try {
        std::error_code error;
        const std::filesystem::path cwd = std::filesystem::current_path();
        files = ResolvePlayFiles(options, cwd, InstalledDemoFolder(VENDRAKE_INSTALLED_DEMO));
        std::filesystem::current_path(files.Folder, error);
        if (error)
            throw std::runtime_error(files.Folder.string() + ": " + error.message());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vendrake: %s\n", e.what());
        return 1;
    }
    if (!files.Notice.empty())
        std::fprintf(stderr, "vendrake: %s\n", files.Notice.c_str());

    // Declared in this order so that, on the way out, the device goes before
    // the window it draws into, and the display mode is put back last of all
    // once more (harmless when it already is).
    std::optional<TResChange> resChange;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TRenderer> renderer;
    try {
        TApplication& application = Application();
        application.Initialize();
        application.Title = "Vendrake";
        application.Icon = VendrakeIcon();

        form = std::make_unique<TForm1>(application);
        Form1 = form.get();

        if (!options.Window)
            Form1->SetBorderStyle(TBorderStyle::bsNone);
        Form1->SetTop(0);
        Form1->SetLeft(0);
        Form1->SetWidth(800);
        Form1->SetHeight(600);
        if (options.Window) {
            // The main form's title is the application's. The window takes
            // its class, which tools and task lists go by, when it is made:
            // that stays "Vendrake", the title becomes the scene's name.
            Form1->Handle();
            application.Title = files.Caption;
            Form1->SetCaption(files.Caption);
        }
        if (!options.Scene.empty())
            Form1->SetSceneFile(files.Scene.string());
        if (!options.Scene.empty() || !options.Music.empty())
            Form1->SetMusicFile(files.Music.string(), !options.Music.empty());

        renderer = std::make_unique<TRenderer>();
        Form1->SetRenderer(renderer.get());
        renderer->SetSurface(&Form1->dblBuffDraw1);

        renderer->SetEffects(Form1->CreateEffects());

        if (!options.Window) {
            // Before the device exists, so its pixel format and first
            // viewport are those of the new mode.
            resChange.emplace();
            resChange->SetWidth(800);
            resChange->SetHeight(600);
            resChange->Apply();
            // The window covers the monitor whose mode changed. Where no 800
            // by 600 mode could be had, it covers the monitor all the same,
            // black, with the picture as large as ever in the middle; and
            // whenever it loses the focus, the user's mode comes back until
            // it returns.
            Form1->CoverMonitor();
            Form1->SetResChange(&*resChange);
        }

        renderer->SetupDevice();
        Form1->LoadScene();

        renderer->CreateThread();
        // A failure while painting ends the run like one during start-up.
        renderer->Thread()->SetOnFailure([] { Application().Terminate(); });
        // The song and the pictures count from the same instant; each lap of
        // a looping scene moves that instant on by the scene's length and
        // plays the song again from its beginning.
        renderer->Thread()->SetOnClockStart([&clockOrigin](std::int64_t origin) {
            clockOrigin = origin;
            SetMusicClockOrigin(origin);
        });
        if (options.Loop) {
            MaxPlayer->SetLooping(true);
            MaxPlayer->SetOnEnd([&clockOrigin](TMaxPlayer& player) {
                std::int64_t frequency = 0;
                QueryPerformanceFrequency(&frequency);
                const double lapTicks = player.SceneEnd() * double(frequency);
                SetMusicClockOrigin(clockOrigin + std::llround(double(player.Laps()) * lapTicks));
                if (MusicStream)
                    BASS_StreamPlay(MusicStream, -1, 0);
            });
        } else if (options.ExitAtEnd) {
            MaxPlayer->SetOnEnd([](TMaxPlayer&) { Application().Terminate(); });
        }
        if (options.Frames > 0 || options.Stats)
            renderer->Thread()->SetOnFrame([&stats] {
                std::int64_t now = 0;
                QueryPerformanceCounter(&now);
                if (stats.FrameShown(now))
                    Application().Terminate();
            });
        renderer->Start();

        application.Run();

        // The render thread must not draw into a window that is going away,
        // and the focus handlers must not switch the mode again.
        Form1->SetResChange(nullptr);
        renderer->StopThread();
        if (const std::exception_ptr failure = renderer->ThreadFailure())
            std::rethrow_exception(failure);
        if (resChange)
            resChange->Restore();
        if (options.Stats)
            std::fprintf(stderr, "vendrake: %s\n",
                         stats.Report(PeakResidentBytes(), AudioOutputDriver(), Form1->MonitorWidth(),
                                      Form1->MonitorHeight())
                             .c_str());
        return 0;
    } catch (const std::exception& e) {
        Abandon(renderer.get(), resChange, e.what());
    } catch (...) {
        Abandon(renderer.get(), resChange, "unknown error");
    }
    return 1;
}
