#include "platform/audio.h"

#include "platform/clock.h"

#include "tests/support/mp3_encoder.h"
#include "tests/support/pulse_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vendrake {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr int MPEGFrame = 1152;  // samples per channel in one layer III frame

// A 440 Hz tone of the given length.
Bytes EncodeTone(int rate, int channels, double seconds, int kbps, bool infoTag)
{
    std::vector<short> tone(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<short>(8000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / rate));
    return test::EncodeMp3(tone, rate, channels, kbps, infoTag);
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t Little(const Bytes& b, std::size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | b[at + static_cast<std::size_t>(i)];
    return value;
}

struct TWave {
    std::uint32_t Rate = 0;
    std::uint32_t Channels = 0;
    std::uint32_t Bits = 0;
    std::vector<std::int16_t> Samples;  // interleaved
    std::size_t Frames() const { return Channels ? Samples.size() / Channels : 0; }
};

// Walks the RIFF chunks; a header that does not add up fails the test.
TWave ReadWave(const fs::path& path)
{
    const Bytes b = ReadFile(path);
    TWave wave;
    EXPECT_GE(b.size(), 12U);
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE") {
        ADD_FAILURE() << path << " is no WAV file";
        return wave;
    }
    EXPECT_EQ(Little(b, 4, 4), b.size() - 8);
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
        const std::size_t size = Little(b, at + 4, 4);
        at += 8;
        if (size > b.size() - at) {
            ADD_FAILURE() << "chunk " << id << " of " << size << " bytes runs past the end";
            return wave;
        }
        if (id == "fmt " && size >= 16) {
            EXPECT_EQ(Little(b, at, 2), 1U);  // integer PCM
            wave.Channels = Little(b, at + 2, 2);
            wave.Rate = Little(b, at + 4, 4);
            wave.Bits = Little(b, at + 14, 2);
        } else if (id == "data") {
            for (std::size_t i = 0; i + 1 < size; i += 2)
                wave.Samples.push_back(static_cast<std::int16_t>(Little(b, at + i, 2)));
        }
        at += size + (size & 1);
    }
    return wave;
}

// Crossings from below zero to zero and above, per second of the left channel.
double LeftFrequency(const TWave& wave)
{
    int crossings = 0;
    for (std::size_t i = 1; i < wave.Frames(); ++i)
        crossings += wave.Samples[(i - 1) * 2] < 0 && wave.Samples[i * 2] >= 0;
    return crossings * static_cast<double>(wave.Rate) / static_cast<double>(wave.Frames());
}

class Audio : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vendrake-audio-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir = pattern;
        Output = Dir / "out.wav";
        SetAudioOutputForTesting("wav", Output.c_str());
    }
    void TearDown() override
    {
        ShutdownAudioForTesting(false);
        SetAudioOutputForTesting(nullptr, nullptr);
        fs::remove_all(Dir);
    }

    // The program's four calls, in its order; the stream handle or 0.
    HSTREAM StartMusic(const fs::path& file)
    {
        EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
        EXPECT_TRUE(BASS_Start());
        const HSTREAM stream = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
        EXPECT_EQ(BASS_StreamPlay(stream, -1, 0) != 0, stream != 0);
        return stream;
    }

    // Plays the file to its end and returns what reached the output.
    TWave PlayedWave(const Bytes& mp3)
    {
        WriteFile(Dir / "vendrake.mp3", mp3);
        EXPECT_NE(StartMusic(Dir / "vendrake.mp3"), 0U);
        ShutdownAudioForTesting(true);
        return ReadWave(Output);
    }

    fs::path Dir;
    fs::path Output;
};

TEST_F(Audio, PlaysTheWholeFileOnceAt44100Stereo)
{
    const Bytes mp3 = EncodeTone(44100, 2, 2.0, 128, true);
    testing::internal::CaptureStderr();
    const TWave wave = PlayedWave(mp3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(wave.Rate, 44100U);
    EXPECT_EQ(wave.Channels, 2U);
    EXPECT_EQ(wave.Bits, 16U);
    EXPECT_NEAR(static_cast<double>(wave.Frames()), 88200, MPEGFrame);
    EXPECT_NEAR(LeftFrequency(wave), 440, 5);
    EXPECT_EQ(AudioOutputDriver(), "wav");
}

TEST_F(Audio, OtherRatesAndMonoAreResampledTo44100Stereo)
{
    // One second each: the output keeps the duration and the pitch.
    const TWave fast = PlayedWave(EncodeTone(48000, 2, 1.0, 128, true));
    EXPECT_EQ(fast.Rate, 44100U);
    EXPECT_EQ(fast.Channels, 2U);
    EXPECT_NEAR(static_cast<double>(fast.Frames()), 44100, 2 * MPEGFrame);
    EXPECT_NEAR(LeftFrequency(fast), 440, 10);

    const TWave mono = PlayedWave(EncodeTone(22050, 1, 1.0, 64, true));
    EXPECT_EQ(mono.Rate, 44100U);
    EXPECT_EQ(mono.Channels, 2U);
    EXPECT_NEAR(static_cast<double>(mono.Frames()), 44100, 2 * MPEGFrame);
    EXPECT_NEAR(LeftFrequency(mono), 440, 10);
    for (std::size_t i = 0; i < mono.Frames(); i += 997)
        ASSERT_EQ(mono.Samples[2 * i], mono.Samples[2 * i + 1]) << "frame " << i;
}

TEST_F(Audio, PlayingAgainStopsTheSongAndRestartsItFromTheBeginning)
{
    const Bytes mp3 = EncodeTone(44100, 2, 1.0, 128, true);
    const TWave once = PlayedWave(mp3);

    SetAudioOutputForTesting("wav", (Dir / "twice.wav").c_str());
    const HSTREAM stream = StartMusic(Dir / "vendrake.mp3");
    EXPECT_TRUE(BASS_StreamPlay(stream, -1, 0));
    ShutdownAudioForTesting(true);
    const TWave twice = ReadWave(Dir / "twice.wav");

    // Whatever of the first play got out, then the whole song, sample for sample.
    ASSERT_GE(twice.Samples.size(), once.Samples.size());
    EXPECT_LE(twice.Samples.size(), 2 * once.Samples.size());
    EXPECT_TRUE(std::equal(once.Samples.begin(), once.Samples.end(),
                           twice.Samples.end() - static_cast<long>(once.Samples.size())));
}

TEST_F(Audio, TheSongStartsWhereThePicturesClockIs)
{
    // The picture started 1.5 s ago: the song starts 1.5 s in (a little more
    // for the time the player takes to begin), sample for sample as it plays
    // from there.
    const TWave whole = PlayedWave(EncodeTone(44100, 2, 3.0, 128, true));
    SetAudioOutputForTesting("wav", (Dir / "late.wav").c_str());
    std::int64_t now = 0;
    QueryPerformanceCounter(&now);
    SetMusicClockOrigin(now - PerformanceFrequency * 3 / 2);
    EXPECT_NE(StartMusic(Dir / "vendrake.mp3"), 0U);
    ShutdownAudioForTesting(true);
    const TWave late = ReadWave(Dir / "late.wav");

    ASSERT_LE(late.Frames(), whole.Frames());
    const std::size_t skipped = whole.Frames() - late.Frames();
    EXPECT_GE(skipped, 66150U);
    EXPECT_LT(skipped, 88200U);
    EXPECT_TRUE(std::equal(late.Samples.begin(), late.Samples.end(), whole.Samples.begin() + long(2 * skipped)));

    // Shutting down forgets the origin: the next song starts from its beginning.
    SetAudioOutputForTesting("wav", (Dir / "again.wav").c_str());
    StartMusic(Dir / "vendrake.mp3");
    ShutdownAudioForTesting(true);
    EXPECT_EQ(ReadWave(Dir / "again.wav").Samples, whole.Samples);
}

TEST_F(Audio, MissingOrDamagedFilesFailQuietlyAndWriteNothing)
{
    const Bytes mp3 = EncodeTone(44100, 2, 1.0, 128, true);
    std::vector<fs::path> bad{Dir / "absent.mp3", Dir / "empty.mp3", Dir / "cut.mp3", Dir, Dir / "fifo.mp3"};
    WriteFile(Dir / "empty.mp3", {});
    // Cut inside the first audio frame, after the info frame.
    WriteFile(Dir / "cut.mp3", Bytes(mp3.begin(), mp3.begin() + 500));
    // Opening a FIFO with no writer must not wait for one.
    ASSERT_EQ(mkfifo((Dir / "fifo.mp3").c_str(), 0600), 0);
    std::mt19937 random(7);
    for (int i = 0; i < 8; ++i) {
        Bytes noise(65536);
        for (unsigned char& b : noise)
            b = static_cast<unsigned char>(random());
        bad.push_back(Dir / ("noise" + std::to_string(i) + ".mp3"));
        WriteFile(bad.back(), noise);
    }
    WriteFile(Dir / "good.mp3", mp3);

    testing::internal::CaptureStderr();
    EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_TRUE(BASS_Start());
    for (const fs::path& file : bad)
        EXPECT_EQ(BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0), 0U) << file;
    EXPECT_FALSE(BASS_StreamPlay(0, -1, 0));
    EXPECT_FALSE(BASS_StreamPlay(12345, -1, 0));
    EXPECT_EQ(BASS_StreamCreateFile(0, nullptr, 0, 0, 0), 0U);
    // Only whole files by name are offered.
    EXPECT_EQ(BASS_StreamCreateFile(1, mp3.data(), 0, mp3.size(), 0), 0U);
    EXPECT_EQ(BASS_StreamCreateFile(0, (Dir / "good.mp3").c_str(), 100, 0, 0), 0U);
    ShutdownAudioForTesting(true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(Output));
}

TEST_F(Audio, WithoutAnOutputDeviceNothingPlaysAndNothingIsSaid)
{
    // No sound server and no output module installed: the calls still
    // succeed, quietly, and the song goes nowhere.
    WriteFile(Dir / "vendrake.mp3", EncodeTone(44100, 2, 1.0, 128, true));
    fs::create_directory(Dir / "modules");
    setenv("MPG123_MODDIR", (Dir / "modules").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + (Dir / "no-server").string()).c_str(), 1);
    SetAudioOutputForTesting(nullptr, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_NE(StartMusic(Dir / "vendrake.mp3"), 0U);
    ShutdownAudioForTesting(true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    unsetenv("MPG123_MODDIR");
    unsetenv("PULSE_SERVER");
    EXPECT_EQ(AudioOutputDriver(), "");

    // A device other than the default, or a rate no MPEG stream decodes to,
    // open nothing; a second initialisation keeps the first.
    SetAudioOutputForTesting("wav", Output.c_str());
    EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr));
    EXPECT_FALSE(BASS_Init(-1, 44101, 0, nullptr));
    EXPECT_FALSE(BASS_Start());
    EXPECT_EQ(BASS_StreamCreateFile(0, (Dir / "vendrake.mp3").c_str(), 0, 0, 0), 0U);
    EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_TRUE(BASS_Start());
}

TEST_F(Audio, NeitherTheCallsNorTheExitWaitForTheOutput)
{
    // The file writer stands in for a sound device that hangs: on a FIFO
    // nobody reads, opening it never returns; on one nobody empties, writing
    // blocks once the pipe is full. Either way the calls return, the process
    // ends by itself, and nothing is reported; a hang dies of the alarm.
    WriteFile(Dir / "vendrake.mp3", EncodeTone(44100, 2, 5.0, 128, true));
    const fs::path device = Dir / "device";
    ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
    SetAudioOutputForTesting("wav", device.c_str());
    for (const bool reader : {false, true}) {
        EXPECT_EXIT(
            {
                alarm(5);
                const int pipe = reader ? open(device.c_str(), O_RDONLY | O_NONBLOCK) : -1;
                if (StartMusic(Dir / "vendrake.mp3") == 0)
                    std::exit(1);
                // Full once what the pipe holds stops growing.
                for (int queued = 0, last = -1; pipe >= 0 && (queued == 0 || queued != last);) {
                    last = queued;
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    ioctl(pipe, FIONREAD, &queued);
                }
                std::exit(0);
            },
            testing::ExitedWithCode(0), "^$")
            << (reader ? "writing hangs" : "opening hangs");
    }
}

// Through the preferred outputs to a sound server of the test's own: what
// reaches its sink is the song, window by window as loud as the song.
TEST_F(Audio, PlaysThroughAPulseAudioServer)
{
    // A tone whose loudness steps to a random level every quarter second.
    constexpr int Rate = 44100;
    std::vector<short> song(3 * Rate);
    std::mt19937 random(11);
    double level = 0;
    for (std::size_t i = 0; i < song.size(); ++i) {
        if (i % (Rate / 4) == 0)
            level = 500 + random() % 12000;
        song[i] = static_cast<short>(level * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / Rate));
    }
    WriteFile(Dir / "vendrake.mp3", test::EncodeMp3(song, Rate, 2, 192, true));

    test::TPulseServer server;
    setenv("PULSE_SERVER", server.Address().c_str(), 1);
    const fs::path recording = Dir / "recording.raw";
    const pid_t recorder = test::SpawnProcess(
        "/usr/bin/parec",
        {"--device=vendrake.monitor", "--raw", "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=20"},
        recording.string(), (Dir / "parec.log").string());
    // The song starts once the recording has (silence until then).
    for (int i = 0; i < 1000 && ReadFile(recording).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SetAudioOutputForTesting(nullptr, nullptr);
    StartMusic(Dir / "vendrake.mp3");
    // Mixers name the stream after the program, and what it plays.
    std::string streams;
    for (int i = 0; i < 100 && streams.find("Vendrake") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const pid_t pactl = test::SpawnProcess("/usr/bin/pactl", {"list", "sink-inputs"}, (Dir / "inputs").string(),
                                               (Dir / "inputs").string());
        waitpid(pactl, nullptr, 0);
        const Bytes listed = ReadFile(Dir / "inputs");
        streams.assign(listed.begin(), listed.end());
    }
    EXPECT_NE(streams.find("application.name = \"Vendrake\""), std::string::npos) << streams;
    EXPECT_NE(streams.find("media.role = \"music\""), std::string::npos) << streams;
    ShutdownAudioForTesting(true);
    EXPECT_EQ(AudioOutputDriver(), "pulse") << server.Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(recorder, SIGINT);
    waitpid(recorder, nullptr, 0);
    unsetenv("PULSE_SERVER");

    // Root mean square of the left channel in 100 ms windows, from the song
    // and from the recording at each lag in steps of 10 ms.
    const Bytes raw = ReadFile(recording);
    // Per 10 ms of the recording, which may have begun a little after the song.
    std::vector<double> energy(10, 0.0);
    for (std::size_t at = 0; at + 4 * 441 <= raw.size(); at += 4 * 441) {
        double sum = 0;
        for (std::size_t i = at; i < at + 4 * 441; i += 4) {
            const double sample = static_cast<std::int16_t>(Little(raw, i, 2));
            sum += sample * sample;
        }
        energy.push_back(sum);
    }
    constexpr std::size_t Window = Rate / 10;
    std::vector<double> expected;
    for (std::size_t at = 0; at + Window <= song.size(); at += Window) {
        double sum = 0;
        for (std::size_t i = at; i < at + Window; ++i)
            sum += double(song[i]) * song[i];
        expected.push_back(std::sqrt(sum / Window));
    }
    double best = -1;
    double loudness = 0;  // the recording's over the song's, at the best lag
    for (std::size_t lag = 0; lag + 10 * expected.size() <= energy.size(); ++lag) {
        std::vector<double> heard;
        for (std::size_t w = 0; w < expected.size(); ++w) {
            double sum = 0;
            for (std::size_t j = 0; j < 10; ++j)
                sum += energy[lag + 10 * w + j];
            heard.push_back(std::sqrt(sum / Window));
        }
        const double n = double(expected.size());
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        for (std::size_t w = 0; w < expected.size(); ++w) {
            sx += expected[w];
            sy += heard[w];
            sxx += expected[w] * expected[w];
            syy += heard[w] * heard[w];
            sxy += expected[w] * heard[w];
        }
        const double spread = std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
        const double correlation = spread > 0 ? (sxy - sx * sy / n) / spread : 0;
        if (correlation > best) {
            best = correlation;
            loudness = sy / sx;
        }
    }
    EXPECT_GT(best, 0.95) << raw.size() << " bytes recorded";
    EXPECT_NEAR(loudness, 1, 0.2);
}

} // namespace
} // namespace vendrake
