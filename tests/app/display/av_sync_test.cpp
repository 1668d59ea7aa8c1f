// The program's picture and its sound, seen and heard from outside on one
// clock. A scene flashes white at known times while its song clicks at the
// same times; the song plays through a sound server of the test's own whose
// null sink's monitor is recorded, while the middle pixel of the window is
// read over and over. Samples and pixels are stamped with CLOCK_MONOTONIC,
// the clock the program counts its frames with, and each flash seen is set
// against the click heard with it. What the measurement adds itself is kept
// to a millisecond or so; docs/PERFORMANCE.md has the account of it.
#include "tests/support/x_helpers.h"

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"
#include "tests/support/mp3_encoder.h"
#include "tests/support/pipewire_server.h"
#include "tests/support/pulse_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace vendrake {
namespace {

constexpr int Rate = 44100;
// The flashes start halfway between these keys and the next (the scene's
// keys are a tenth of a second apart), at irregular gaps so no flash can be
// taken for another.
constexpr int FlashKeys[] = {15, 27, 36, 49, 58, 71, 83, 92};
constexpr double SongSeconds = 12;
// Half the box's width: at x = 0 it covers the whole view, at x = 2 * HalfWidth
// none of it, and its edge crosses the middle of the window when it is halfway.
constexpr float HalfWidth = 100;

double FlashSeconds(int key) { return (key + 0.5) / 10; }

std::int64_t Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// A camera looking down -z at a square, out of view to the right except
// while a flash lasts (two tenths of a second); `seconds` long.
void WriteFlashScene(const std::string& path, double seconds = SongSeconds)
{
    TFileStream out(path, TFileMode::Create);
    TSceneWriter w(out);
    TCameraDesc camera;
    camera.Header = {1, 0, 0, "Camera01"};
    w.Camera(camera);
    TAnimTransformDesc still;
    still.Id = 101;
    still.OwnerId = 1;
    still.Kind = 2;
    still.FloatsPerKey = 3;
    still.Step = 10;
    still.Keys = {{0, 0, 0}, {0, 0, 0}};
    w.AnimTransform(still);

    TMeshDesc box;
    box.Header = {2, 0, 0, "Box"};
    const float h = HalfWidth;
    box.Vertices = {-h, -h, 0, h, -h, 0, h, h, 0, -h, -h, 0, h, h, 0, -h, h, 0};
    w.Mesh(box);
    TAnimTransformDesc moves = still;
    moves.Id = 102;
    moves.OwnerId = 2;
    moves.Step = 1;
    moves.Keys.clear();
    for (int key = 0; key <= 10 * seconds; ++key) {
        const bool covers = std::any_of(std::begin(FlashKeys), std::end(FlashKeys),
                                        [&](int flash) { return key == flash + 1 || key == flash + 2; });
        moves.Keys.push_back({covers ? 0.0f : 2 * h, 0, -60});
    }
    w.AnimTransform(moves);
}

// Silence with a 10 ms burst of 1 kHz at each flash.
void WriteClickSong(const std::string& path)
{
    std::vector<short> song(static_cast<std::size_t>(SongSeconds * Rate));
    for (const int key : FlashKeys) {
        const auto start = static_cast<std::size_t>(std::lround(FlashSeconds(key) * Rate));
        for (std::size_t i = 0; i < Rate / 100; ++i)
            song[start + i] = static_cast<short>(24000 * std::sin(2 * std::numbers::pi * 1000 * double(i) / Rate));
    }
    const std::vector<unsigned char> mp3 = test::EncodeMp3(song, Rate, 1, 192, true);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
}

// The null sink's monitor as parec delivers it, mono at 44100 Hz, read as it
// arrives.
class TMonitorRecorder {
public:
    explicit TMonitorRecorder(const std::filesystem::path& folder)
    {
        const std::filesystem::path pipe = folder / "monitor.raw";
        if (mkfifo(pipe.c_str(), 0600) != 0)
            throw std::runtime_error("cannot make a FIFO for the recording");
        FPid = test::SpawnProcess("/usr/bin/parec",
                                  {"--device=vendrake.monitor", "--raw", "--format=s16le", "--rate=44100",
                                   "--channels=1", "--latency-msec=5"},
                                  pipe.string(), (folder / "parec.log").string());
        // Meets parec opening its end.
        FFd = open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
        FReader = std::thread([this] { Read(); });
    }
    ~TMonitorRecorder() { Stop(); }
    TMonitorRecorder(const TMonitorRecorder&) = delete;
    TMonitorRecorder& operator=(const TMonitorRecorder&) = delete;

    bool Recording()
    {
        std::lock_guard lock(FLock);
        return !FBytes.empty();
    }

    void Stop()
    {
        if (FPid > 0) {
            kill(FPid, SIGINT);
            waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
        if (FReader.joinable())
            FReader.join();
        if (FFd >= 0)
            close(FFd);
        FFd = -1;
    }

    // When each click was heard: the first sample past a third of full
    // scale after at least half a second of quieter ones. After Stop.
    std::vector<std::int64_t> Clicks() const
    {
        // Sample n was heard at Base + n / Rate, Base the earliest any read allows.
        std::int64_t base = INT64_MAX;
        for (const auto& [at, frames] : FReads)
            base = std::min(base, at - frames * 1'000'000'000 / Rate);
        std::vector<std::int64_t> clicks;
        std::int64_t lastLoud = -Rate;
        for (std::size_t n = 0; 2 * n + 1 < FBytes.size(); ++n) {
            const auto sample = static_cast<std::int16_t>(FBytes[2 * n] | FBytes[2 * n + 1] << 8);
            if (std::abs(sample) < 11000)
                continue;
            const auto frame = static_cast<std::int64_t>(n);
            if (frame - lastLoud > Rate / 2)
                clicks.push_back(base + frame * 1'000'000'000 / Rate);
            lastLoud = frame;
        }
        return clicks;
    }

private:
    void Read()
    {
        std::vector<unsigned char> block(65536);
        for (;;) {
            const ssize_t got = read(FFd, block.data(), block.size());
            const std::int64_t at = Now();
            if (got <= 0)
                return;
            std::lock_guard lock(FLock);
            FBytes.insert(FBytes.end(), block.begin(), block.begin() + got);
            FReads.emplace_back(at, static_cast<std::int64_t>(FBytes.size() / 2));
        }
    }

    pid_t FPid = -1;
    int FFd = -1;
    std::thread FReader;
    std::mutex FLock;
    std::vector<unsigned char> FBytes;
    std::vector<std::pair<std::int64_t, std::int64_t>> FReads;  // when, and the frames read by then
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct AvSync : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "this test needs an X server";
        setenv("HOME", Session.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", Session.Path().c_str(), 1);
        WriteFlashScene(Folder / "ZuzezurAdor.y3d");
        WriteClickSong(Folder / "vendrake.mp3");
    }
    void TearDown() override { unsetenv("PULSE_SERVER"); }

    // Plays the scene through the server at address, with args, for
    // `seconds`, and returns when each flash was seen and when each click
    // was heard; nothing when fewer than `flashes` were, or not as many of
    // each.
    std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>>
    Watch(const std::string& server, const std::string& address, std::vector<std::string> args = {"--stats"},
          double seconds = FlashSeconds(FlashKeys[7]) + 1.5, std::size_t flashes = std::size(FlashKeys))
    {
        setenv("PULSE_SERVER", address.c_str(), 1);
        test::TTempFolder scratch;
        TMonitorRecorder recorder(scratch.Path());
        EXPECT_TRUE(test::WaitUntil([&] { return recorder.Recording(); }, 10)) << server << ": nothing recorded";

        test::TProgram program(VENDRAKE_PROGRAM, Folder.Path(), test::TestDisplay(), std::move(args));
        Window form = 0;
        EXPECT_TRUE(test::WaitUntil(
            [&] { return !program.Running() || (form = test::FindProgramWindow(Observer.Get())) != 0; }, 30));
        const Window surface = form ? test::SurfaceOf(Observer.Get(), form) : 0;
        std::vector<std::int64_t> seen;
        if (surface) {
            const std::int64_t end = Now() + static_cast<std::int64_t>(seconds * 1e9);
            std::int64_t previous = 0;
            bool lit = false;
            while (Now() < end && program.Running()) {
                const std::int64_t before = Now();
                const unsigned long pixel = Observer.Pixel(surface, 400, 300);
                const std::int64_t at = (before + Now()) / 2;
                const bool litNow = pixel != 0 && pixel != 0xFFFFFFFF;  // 0xFFFFFFFF: not read
                if (litNow && !lit && previous)
                    seen.push_back((previous + at) / 2);
                lit = litNow;
                previous = at;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        }
        // Who the server says is playing, while the song still plays.
        const std::string inputs = (scratch.Path() / "inputs.txt").string();
        const pid_t pactl = test::SpawnProcess("/usr/bin/pactl", {"list", "sink-inputs"}, inputs, inputs);
        waitpid(pactl, nullptr, 0);
        std::ifstream listed(inputs);
        const std::string streams((std::istreambuf_iterator<char>(listed)), {});
        EXPECT_NE(streams.find("application.name = \"Vendrake\""), std::string::npos) << server << ":\n" << streams;
        EXPECT_NE(streams.find("media.role = \"music\""), std::string::npos) << server << ":\n" << streams;

        if (form)
            test::RequestClose(Observer.Get(), form);
        EXPECT_TRUE(program.Wait(5));
        EXPECT_EQ(program.ExitStatus(), 0) << server << ": signal " << program.TermSignal();
        recorder.Stop();
        EXPECT_NE(program.Stderr().find("; sound through pulse; centred on 1024x768\n"), std::string::npos)
            << program.Stderr();

        const std::vector<std::int64_t> heard = recorder.Clicks();
        if (seen.size() >= flashes && heard.size() == seen.size())
            return {seen, heard};
        // In seconds from the first flash: which is missing, and where.
        std::string times;
        const auto list = [&](const char* what, const std::vector<std::int64_t>& at) {
            times += std::string("\n") + what + ":";
            for (const std::int64_t t : at)
                times += " " + std::to_string(static_cast<double>(t - (seen.empty() ? 0 : seen[0])) / 1e9);
        };
        list("seen", seen);
        list("heard", heard);
        ADD_FAILURE() << server << ": " << seen.size() << " flashes seen and " << heard.size() << " clicks heard, of "
                      << flashes << times;
        return {};
    }

    test::TTempFolder Folder;
    test::TTempFolder Session;
    test::TObserver Observer;
};

TEST_F(AvSync, EachFlashIsSeenWithItsClickOnPulseAudioAndOnPipeWire)
{
    // In milliseconds: each offset, and how far each flash and each click
    // strayed from the schedule the others kept, telling a late picture from
    // a misplaced sound.
    const auto listed = [](const std::vector<double>& values) {
        std::string text;
        for (const double value : values)
            text += " " + std::to_string(std::lround(value));
        return text;
    };
    const auto strays = [](const std::vector<std::int64_t>& times) {
        std::vector<double> late;
        for (std::size_t k = 0; k < times.size(); ++k)
            late.push_back(static_cast<double>(times[k]) / 1e6 - FlashSeconds(FlashKeys[k]) * 1e3);
        const double usual = Median(late);
        for (double& value : late)
            value -= usual;
        return late;
    };
    const auto check = [&](const std::string& server, const std::string& address) {
        const auto [seen, heard] = Watch(server, address);
        std::vector<double> offsets;
        std::vector<double> sizes;
        for (std::size_t k = 0; k < seen.size(); ++k) {
            offsets.push_back(static_cast<double>(seen[k] - heard[k]) / 1e6);
            sizes.push_back(std::abs(offsets.back()));
        }
        const double worst = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
        // The figures the performance notes quote.
        std::printf("%s: picture after sound, ms:%s; median |offset| %.1f, worst %.1f\n", server.c_str(),
                    listed(offsets).c_str(), Median(sizes), worst);
        EXPECT_LE(Median(sizes), 40) << server;
        EXPECT_LE(worst, 80) << server << "\nflashes off their schedule, ms:" << listed(strays(seen))
                             << "\nclicks off their schedule, ms:" << listed(strays(heard));
    };
    {
        test::TPulseServer pulse;
        check("PulseAudio", pulse.Address());
    }
    {
        test::TPipeWireServer pipewire;
        check("PipeWire", pipewire.Address());
    }
}

TEST_F(AvSync, ALoopingSceneStartsItsSongAgainInStep)
{
    // 4.5 seconds of the song's first three flashes, played three times over:
    // each lap hears the song from its beginning, the clicks with their
    // flashes.
    WriteFlashScene(Folder / "ZuzezurAdor.y3d", 4.5);
    test::TPulseServer pulse;
    const auto [seen, heard] = Watch("PulseAudio", pulse.Address(), {"--loop", "--stats"}, 3 * 4.5 + 0.5, 9);
    for (std::size_t k = 0; k < seen.size(); ++k)
        EXPECT_LE(std::abs(static_cast<double>(seen[k] - heard[k]) / 1e6), 80) << "flash " << k;
    // Each lap as long as the scene.
    if (seen.size() >= 4) {
        EXPECT_NEAR(static_cast<double>(seen[3] - seen[0]) / 1e9, 4.5, 0.05);
    }
}

} // namespace
} // namespace vendrake
