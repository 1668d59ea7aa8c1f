// The software GL's cost for a frame of the program's window size: an 800 by
// 600 window with the renderer's pixel format, cleared and swapped with
// nothing drawn, and the demo painted into it. Set against bench_frame's
// DemoFrame (our own code with a GL that does nothing), the empty frame gives
// an upper bound on our share of a frame. Needs an X server with GLX
// (DISPLAY); the window covers the screen's top left corner.
#include "app/plane_setup.h"
#include "engine/scene_player.h"
#include "platform/application.h"
#include "platform/form.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "tools/demo/demo.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace vendrake;

namespace {

struct TMesaWindow {
    TApplication Application;
    std::unique_ptr<TForm> Form;
    std::unique_ptr<TCustomControl> Surface;
    std::unique_ptr<TgrOpengl> Device;
    bool Ready = false;

    TMesaWindow()
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            return;
        Application.Initialize(display);
        Form = std::make_unique<TForm>(Application);
        Form->SetBorderStyle(TBorderStyle::bsNone);
        Form->SetBounds(0, 0, 800, 600);
        Surface = std::make_unique<TCustomControl>(*Form);
        Surface->SetAlign(TAlign::alClient);
        Form->Show();
        for (int i = 0; i < 100; ++i) {
            Application.ProcessMessages();
            ::usleep(10000);
        }
        Device = std::make_unique<TgrOpengl>();
        Ready = Device->CreateContext(Surface->Handle(), {6, 2, 5, 0, 3, 7});
        if (Ready)
            Device->MakeCurrent();
    }
};

TMesaWindow& Window()
{
    static TMesaWindow window;
    return window;
}

void EmptyFrame(benchmark::State& state)
{
    TMesaWindow& w = Window();
    if (!w.Ready) {
        state.SkipWithError("no X server with GLX (DISPLAY)");
        return;
    }
    for (auto _ : state) {
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        w.Device->Swap();
        gl.glFinish();
    }
}

void DemoFrameOnMesa(benchmark::State& state)
{
    TMesaWindow& w = Window();
    if (!w.Ready) {
        state.SkipWithError("no X server with GLX (DISPLAY)");
        return;
    }
    const auto folder = std::filesystem::temp_directory_path() / ("vendrake_bench_mesa_" + std::to_string(::getpid()));
    const std::string scene = demo::WriteDemo(folder.string()).front();
    std::filesystem::current_path(folder);
    // Textures are read during Init; the files are not needed after it.
    TMaxPlayer player;
    player.SetSceneFile(scene);
    player.SetOnLoaded([](TMaxPlayer& sender) {
        if (const TgrTreePtr& root = sender.Root())
            SetUpPlanes(*root, DisableDepthTest, [] { gl.glEnable(GL_DEPTH_TEST); });
    });
    player.Init(0);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    float time = 0;
    constexpr float Delta = 1000.0f / 60.0f;
    for (auto _ : state) {
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        player.Render(time, Delta);
        w.Device->Swap();
        gl.glFinish();
        time += Delta;
    }
}

} // namespace

BENCHMARK(EmptyFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DemoFrameOnMesa)->Unit(benchmark::kMillisecond)->UseRealTime();
