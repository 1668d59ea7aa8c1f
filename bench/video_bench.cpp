// Writing the demo as a video against painting the same frames into memory,
// side by side, and writing them as PNG files: frames a second for each.
// A run paints 120 frames (two seconds at 60 a second) of the demo from the
// second given, at the program's 800 by 600, in a painter made afresh (its
// scene loading is not timed); a video has the soundtrack and is complete
// when the time stops. Each iteration of VideoAgainstMemory makes one run of
// each, in turns, and reports their ratio, so that a change in the machine's
// load hits both alike; PngFiles paints only 30 frames, PNG compression
// being slow. Draws through EGL without DISPLAY, through GLX with it.
#include "convert/video_writer.h"
#include "tools/demo/demo.h"
#include "tools/demo/image_files.h"
#include "tools/demo/scene.h"
#include "tools/demo/soundtrack.h"
#include "tools/y3d/render.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

using namespace vendrake;

namespace {

namespace fs = std::filesystem;

constexpr int Width = 800;
constexpr int Height = 600;
constexpr double Fps = 60;

// The demo written once, on first use, and removed at exit. The folder is
// removed by its own destructor: a global's destructor runs after this
// static's and could no longer name it.
struct TDemoFolder {
    fs::path Path = fs::temp_directory_path() / ("vendrake_bench_video_" + std::to_string(::getpid()));
    TDemoFolder() { demo::WriteDemo(Path.string()); }
    ~TDemoFolder()
    {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    TDemoFolder(const TDemoFolder&) = delete;
    TDemoFolder& operator=(const TDemoFolder&) = delete;
};

const fs::path& Folder()
{
    static const TDemoFolder folder;
    return folder.Path;
}

// CPU seconds of the whole process, every thread (Mesa's and the encoder's)
// counted: on a machine others use too, steadier than the clock.
double ProcessSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

enum class TSink { Memory, Video, Png };

struct TRun {
    double Seconds = 0;
    double Processor = 0;
};

// Paints `frames` frames from `from` into the sink, as y3d render reads them
// back: BGRA for memory and video, RGB for PNG files.
TRun Run(TSink sink, double from, int frames)
{
    y3d::TFramePainter painter((Folder() / demo::SceneFileName).string(), Width, Height, true);
    std::unique_ptr<TVideoWriter> writer;
    if (sink == TSink::Video) {
        TVideoSettings settings;
        settings.FileName = (Folder() / "bench.mp4").string();
        settings.Width = Width;
        settings.Height = Height;
        settings.Fps = Fps;
        settings.Bgra = true;
        settings.Music = (Folder() / demo::MusicFileName).string();
        settings.MusicFrom = from;
        settings.Seconds = frames / Fps;
        writer = std::make_unique<TVideoWriter>(settings);
    }
    const auto start = std::chrono::steady_clock::now();
    const double startProcessor = ProcessSeconds();
    for (int k = 0; k < frames; ++k) {
        painter.Paint(from + k / Fps);
        const std::vector<std::uint8_t>& rows = painter.ReadBack(
            sink == TSink::Png ? y3d::TFramePainter::TLayout::Rgb : y3d::TFramePainter::TLayout::Bgra);
        if (sink == TSink::Video) {
            writer->WriteFrame(rows.data() + std::ptrdiff_t(Width) * 4 * (Height - 1), -std::ptrdiff_t(Width) * 4);
        } else if (sink == TSink::Png) {
            demo::TImage image(Width, Height, 3);
            for (int y = 0; y < Height; ++y)
                std::copy_n(&rows[std::size_t(Height - 1 - y) * Width * 3], Width * 3,
                            &image.Pixels[std::size_t(y) * Width * 3]);
            demo::WriteFileBytes((Folder() / "frame.png").string(), demo::EncodePng(image));
        } else {
            benchmark::DoNotOptimize(rows.data());
        }
    }
    if (writer)
        writer->Finish();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            ProcessSeconds() - startProcessor};
}

void VideoAgainstMemory(benchmark::State& state)
{
    constexpr int Frames = 120;
    const double from = double(state.range(0));
    TRun memory, video;
    double ratios = 0;
    int turn = 0;
    for (auto _ : state) {
        // Turn about which goes first.
        const TRun first = Run(turn % 2 ? TSink::Video : TSink::Memory, from, Frames);
        const TRun second = Run(turn % 2 ? TSink::Memory : TSink::Video, from, Frames);
        const TRun& m = turn % 2 ? second : first;
        const TRun& v = turn % 2 ? first : second;
        ++turn;
        memory.Seconds += m.Seconds;
        memory.Processor += m.Processor;
        video.Seconds += v.Seconds;
        video.Processor += v.Processor;
        ratios += v.Seconds / m.Seconds;
        state.SetIterationTime(m.Seconds + v.Seconds);
    }
    const double runs = double(turn);
    state.counters["memory_fps"] = runs * Frames / memory.Seconds;
    state.counters["video_fps"] = runs * Frames / video.Seconds;
    state.counters["overhead_pct"] = 100 * (ratios / runs - 1);
    state.counters["memory_cpu_ms"] = 1000 * memory.Processor / (runs * Frames);
    state.counters["video_cpu_ms"] = 1000 * video.Processor / (runs * Frames);
}

void PngFiles(benchmark::State& state)
{
    constexpr int Frames = 30;
    TRun png;
    int runs = 0;
    for (auto _ : state) {
        const TRun run = Run(TSink::Png, double(state.range(0)), Frames);
        png.Seconds += run.Seconds;
        png.Processor += run.Processor;
        ++runs;
        state.SetIterationTime(run.Seconds);
    }
    state.counters["png_fps"] = runs * Frames / png.Seconds;
    state.counters["png_cpu_ms"] = 1000 * png.Processor / (runs * Frames);
}

} // namespace

BENCHMARK(VideoAgainstMemory)->Arg(12)->Arg(70)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(2);
BENCHMARK(PngFiles)->Arg(12)->Arg(70)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1);
