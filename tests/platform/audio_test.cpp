#include "platform/audio.h"

#include <gtest/gtest.h>
#include <lame/lame.h>

#include <sys/stat.h>

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

// A 440 Hz tone of the given length, encoded at a constant bit rate. With the
// info tag, decoders trim the encoder's delay and padding, so the decoded
// length is the tone's length exactly.
Bytes EncodeTone(int rate, int channels, double seconds, int kbps, bool infoTag)
{
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, kbps);
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, infoTag ? 1 : 0);
    EXPECT_EQ(lame_init_params(lame), 0);

    const int frames = static_cast<int>(rate * seconds);
    std::vector<short> left(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        left[static_cast<std::size_t>(i)] =
            static_cast<short>(8000 * std::sin(2 * std::numbers::pi * 440 * i / rate));
    std::vector<short> right = left;

    Bytes mp3(static_cast<std::size_t>(frames) * 5 / 4 + 7200);
    int size = lame_encode_buffer(lame, left.data(), right.data(), frames, mp3.data(), static_cast<int>(mp3.size()));
    EXPECT_GE(size, 0);
    size += lame_encode_flush(lame, mp3.data() + size, static_cast<int>(mp3.size()) - size);
    mp3.resize(static_cast<std::size_t>(size));
    if (infoTag) {
        // The tag's final contents are known only now; it overwrites the
        // placeholder frame at the start.
        Bytes tag(4096);
        const std::size_t tagSize = lame_get_lametag_frame(lame, tag.data(), tag.size());
        EXPECT_GT(tagSize, 0U);
        std::copy_n(tag.begin(), tagSize, mp3.begin());
    }
    lame_close(lame);
    return mp3;
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

TEST_F(Audio, WithoutAnOutputEveryCallFailsQuietly)
{
    WriteFile(Dir / "vendrake.mp3", EncodeTone(44100, 2, 1.0, 128, true));
    testing::internal::CaptureStderr();
    SetAudioOutputForTesting("no-such-driver", nullptr);
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_FALSE(BASS_Start());
    EXPECT_EQ(BASS_StreamCreateFile(0, (Dir / "vendrake.mp3").c_str(), 0, 0, 0), 0U);
    EXPECT_FALSE(BASS_StreamPlay(1, -1, 0));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // A device other than the default, or a rate no MPEG stream decodes to,
    // open nothing; a second initialisation keeps the first.
    SetAudioOutputForTesting("wav", Output.c_str());
    EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr));
    EXPECT_FALSE(BASS_Init(-1, 44101, 0, nullptr));
    EXPECT_FALSE(BASS_Start());
    EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_TRUE(BASS_Start());
}

TEST_F(Audio, ProcessEndsWhileTheSongPlays)
{
    // A song of over sixteen minutes, one encoded stretch repeated. The child
    // ends once a megabyte of it has been written: the player stops at its
    // next block, the output is closed, and the file is complete but holds
    // only the start of the song.
    const Bytes stretch = EncodeTone(44100, 2, 2.0, 32, false);
    Bytes song;
    for (int i = 0; i < 500; ++i)
        song.insert(song.end(), stretch.begin(), stretch.end());
    WriteFile(Dir / "vendrake.mp3", song);
    constexpr std::uintmax_t Started = 1 << 20;

    EXPECT_EXIT(
        {
            StartMusic(Dir / "vendrake.mp3");
            std::error_code error;
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (fs::file_size(Output, error) < Started && !error && std::chrono::steady_clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^$");
    const TWave wave = ReadWave(Output);
    EXPECT_EQ(wave.Rate, 44100U);
    EXPECT_GE(wave.Frames() * 4, Started - 44);
    EXPECT_LT(wave.Frames(), 500U * 88200 / 2);
}

} // namespace
} // namespace vendrake
