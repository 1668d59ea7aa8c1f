// The demo as the program plays it, with a GL table that does nothing: what
// loading the scene, evaluating its tracks and walking its tree cost in our
// own code, apart from any driver. The demo is generated into a folder of
// its own under the temporary directory and played from there, since
// texture files are found relative to the working directory.
#include "anim/track.h"
#include "app/plane_setup.h"
#include "engine/scene_player.h"
#include "scenefile/loader.h"
#include "scene/gl_entry_points.h"
#include "scene/gl_null.h"
#include "tools/demo/demo.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace vendrake;

namespace {

struct TDemoFolder {
    std::filesystem::path Path;
    std::vector<std::string> Files; // the scene first
};

struct TRemoveOnExit {
    std::filesystem::path Path;
    ~TRemoveOnExit()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
};

const TDemoFolder& Demo()
{
    static const TDemoFolder folder = [] {
        TDemoFolder f;
        f.Path = std::filesystem::temp_directory_path() / ("vendrake_bench_demo_" + std::to_string(::getpid()));
        f.Files = demo::WriteDemo(f.Path.string());
        std::filesystem::current_path(f.Path);
        static const TRemoveOnExit cleanup{f.Path};
        return f;
    }();
    return folder;
}

std::string SceneFile() { return Demo().Files.front(); }

// Nodes visited by one walk of the tree: a node shared by several child
// lists is painted once per list, so each occurrence counts.
std::int64_t PaintedNodes(const TgrTree& node)
{
    std::int64_t count = 1;
    for (const TgrTreePtr& child : node.Children())
        if (child)
            count += PaintedNodes(*child);
    return count;
}

// The program's load: scene file, materials, texture files, the tree and the
// plane set-up.
struct TLoadedDemo {
    TMaxPlayer Player;
    explicit TLoadedDemo(const std::string& scene)
    {
        Player.SetSceneFile(scene);
        Player.SetOnLoaded([](TMaxPlayer& sender) {
            if (const TgrTreePtr& root = sender.Root())
                SetUpPlanes(*root, DisableDepthTest, [] { gl.glEnable(GL_DEPTH_TEST); });
        });
        Player.Init(0);
    }
};

// The baseline for loading: every file of the demo read into memory.
void ReadDemoIntoMemory(benchmark::State& state)
{
    const TDemoFolder& demo = Demo();
    std::int64_t total = 0;
    std::vector<std::vector<std::uint8_t>> buffers;
    for (const std::string& name : demo.Files) {
        buffers.emplace_back(static_cast<std::size_t>(std::filesystem::file_size(name)), 1);
        total += static_cast<std::int64_t>(buffers.back().size());
    }
    for (auto _ : state) {
        for (std::size_t i = 0; i < demo.Files.size(); ++i) {
            const int fd = ::open(demo.Files[i].c_str(), O_RDONLY | O_CLOEXEC);
            std::size_t done = 0;
            while (fd >= 0 && done < buffers[i].size()) {
                const ssize_t r = ::read(fd, buffers[i].data() + done, buffers[i].size() - done);
                if (r <= 0)
                    break;
                done += static_cast<std::size_t>(r);
            }
            if (fd >= 0)
                ::close(fd);
            benchmark::DoNotOptimize(buffers[i].data());
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * total);
}

void LoadDemo(benchmark::State& state)
{
    const std::string scene = SceneFile();
    TNullGL noGL;
    for (auto _ : state) {
        TLoadedDemo loaded(scene);
        benchmark::DoNotOptimize(loaded.Player.Root().get());
    }
}

// A frame at 60 frames per second, in the player's units (a tenth of the
// frame delta in milliseconds per frame).
constexpr float FrameDelta = 1000.0f / 60.0f;

void EvaluateDemoTracks(benchmark::State& state)
{
    TNullGL noGL;
    TLoadedDemo loaded(SceneFile());
    const std::vector<TAnim*>& tracks = loaded.Player.Loader()->Anims();
    double time = 0;
    for (auto _ : state) {
        for (TAnim* track : tracks)
            benchmark::DoNotOptimize(track->Evaluate(time));
        time += 0.1 * FrameDelta;
        if (time > 10000)
            time = 0;
    }
    // Seconds per track and frame.
    state.counters["tracks"] = static_cast<double>(tracks.size());
    state.counters["per_track"] = benchmark::Counter(static_cast<double>(tracks.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void DemoFrame(benchmark::State& state)
{
    TNullGL noGL;
    TLoadedDemo loaded(SceneFile());
    const std::int64_t nodes = PaintedNodes(*loaded.Player.Root());
    float time = 0;
    for (auto _ : state) {
        loaded.Player.Render(time, FrameDelta);
        time += FrameDelta;
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    // Seconds per painted node and frame.
    state.counters["per_node"] = benchmark::Counter(static_cast<double>(nodes),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(ReadDemoIntoMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadDemo)->Unit(benchmark::kMillisecond);
BENCHMARK(EvaluateDemoTracks)->Unit(benchmark::kMicrosecond);
BENCHMARK(DemoFrame)->Unit(benchmark::kMicrosecond);
