// The software GL's cost for a frame of the program's window size: an 800 by
// 600 window with the renderer's pixel format, cleared and swapped with
// nothing drawn, and the demo painted into it, whole and taken apart into
// painting, rasterisation and the swap. Set against bench_frame's DemoFrame
// (our own code with a GL that does nothing), the parts say where a frame's
// time goes. Needs an X server with GLX (DISPLAY); the window covers the
// screen's top left corner.
#include "app/plane_setup.h"
#include "engine/scene_player.h"
#include "platform/application.h"
#include "platform/form.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "tools/demo/demo.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
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

// The shared window, or none (and the benchmark skipped) without GLX.
TMesaWindow* Window(benchmark::State& state)
{
    static TMesaWindow window;
    if (window.Ready)
        return &window;
    state.SkipWithError("no X server with GLX (DISPLAY)");
    return nullptr;
}

void EmptyFrame(benchmark::State& state)
{
    TMesaWindow* w = Window(state);
    if (!w)
        return;
    for (auto _ : state) {
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        w->Device->Swap();
        gl.glFinish();
    }
}

// The program's load into player: scene, texture files, tree, plane set-up.
void LoadDemo(TMaxPlayer& player)
{
    const auto folder = std::filesystem::temp_directory_path() / ("vendrake_bench_mesa_" + std::to_string(::getpid()));
    const std::string scene = demo::WriteDemo(folder.string()).front();
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    // Textures are read during Init; the files are not needed after it.
    player.SetSceneFile(scene);
    player.SetOnLoaded([](TMaxPlayer& sender) {
        if (const TgrTreePtr& root = sender.Root())
            SetUpPlanes(*root, DisableDepthTest, [] { gl.glEnable(GL_DEPTH_TEST); });
    });
    player.Init(0);
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

void DemoFrameOnMesa(benchmark::State& state)
{
    TMesaWindow* w = Window(state);
    if (!w)
        return;
    TMaxPlayer player;
    LoadDemo(player);
    float time = 0;
    constexpr float Delta = 1000.0f / 60.0f;
    for (auto _ : state) {
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        player.Render(time, Delta);
        w->Device->Swap();
        gl.glFinish();
        time += Delta;
    }
}

// The demo's frame taken apart on the clock, played at the program's pace
// (a 60th of a second of the demo per frame) from its start, the first
// frame (uploads, shader compilation) left out:
// - paint: the player's Render. llvmpipe does the vertex work (transform,
//   lighting, clipping) and bins the triangles on the calling thread; our
//   own code is a few microseconds of it (bench_frame's DemoFrame).
// - raster: the glFinish after it, while llvmpipe's threads rasterise.
// - swap: the clear, the swap and a glFinish, i.e. the empty frame.
// The iteration's time is the sum of the three.
void DemoFrameBreakdown(benchmark::State& state)
{
    TMesaWindow* w = Window(state);
    if (!w)
        return;
    TMaxPlayer player;
    LoadDemo(player);
    using Clock = std::chrono::steady_clock;
    constexpr float Delta = 100.0f / 60.0f;
    float time = Delta;
    player.Render(time, Delta);
    w->Device->Swap();
    gl.glFinish();
    double paint = 0, raster = 0, swap = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        const auto t1 = Clock::now();
        time += Delta;
        player.Render(time, Delta);
        const auto t2 = Clock::now();
        gl.glFinish();
        const auto t3 = Clock::now();
        w->Device->Swap();
        gl.glFinish();
        const auto t4 = Clock::now();
        paint += std::chrono::duration<double, std::milli>(t2 - t1).count();
        raster += std::chrono::duration<double, std::milli>(t3 - t2).count();
        swap += std::chrono::duration<double, std::milli>((t1 - t0) + (t4 - t3)).count();
    }
    state.counters["paint_ms"] = benchmark::Counter(paint, benchmark::Counter::kAvgIterations);
    state.counters["raster_ms"] = benchmark::Counter(raster, benchmark::Counter::kAvgIterations);
    state.counters["swap_ms"] = benchmark::Counter(swap, benchmark::Counter::kAvgIterations);
}

} // namespace

BENCHMARK(EmptyFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DemoFrameOnMesa)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DemoFrameBreakdown)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(900);
