// Video files as players read them back: streams, pictures, sound and its
// place against the picture, and no file at all when writing fails.
#include "convert/video_writer.h"

#include "tests/support/video_reader.h"
#include "tests/tools/demo_support.h"
#include "tools/demo/soundtrack.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace vendrake {
namespace {

namespace fs = std::filesystem;

constexpr int Rate = demo::SampleRate;

// Noise in bursts of random length and loudness: its correlation with
// itself has one sharp peak.
std::vector<float> Bursts(double seconds)
{
    std::vector<float> stereo(std::size_t(seconds * Rate) * 2);
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    };
    double level = 0;
    std::size_t left = 0;
    for (std::size_t i = 0; i < stereo.size() / 2; ++i) {
        if (left-- == 0) {
            left = std::size_t(Rate * (0.01 + 0.05 * next()));
            level = next() < 0.5 ? 0 : 0.2 + 0.6 * next();
        }
        stereo[2 * i] = float(level * (2 * next() - 1));
        stereo[2 * i + 1] = stereo[2 * i];
    }
    return stereo;
}

// A smooth picture that moves: each frame four pixels on, far enough that
// a neighbouring frame scores well below the thresholds.
std::vector<std::uint8_t> Picture(int width, int height, int k)
{
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
            p[0] = std::uint8_t(128 + 100 * std::sin((x + 4 * k) / 15.0));
            p[1] = std::uint8_t(30 + 180 * y / height);
            p[2] = std::uint8_t(128 + 90 * std::cos((x + 2 * y) / 25.0));
        }
    return rgb;
}

std::vector<std::string> Files(const test::TScratchFolder& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(VideoWriter, ContainersStreamsAndTheSoundInPlace)
{
    test::TScratchFolder folder;
    const std::string music = folder / "music.mp3";
    demo::WriteFileBytes(music, demo::EncodeMp3(Bursts(1.0)));
    const std::vector<float> heard = test::DecodeStereoMp3(music);
    constexpr double From = 0.37; // not on a frame, not on an MP3 frame
    const std::vector<float> fromSpan(heard.begin() + std::ptrdiff_t(std::llround(From * Rate) * 2), heard.end());

    struct TCase {
        const char* Name;
        const char* Video;
        const char* Audio;
    };
    for (const TCase& c : {TCase{"a.mp4", "h264", "aac"}, TCase{"b.MKV", "h264", "aac"},
                           TCase{"c.webm", "vp9", "opus"}}) {
        SCOPED_TRACE(c.Name);
        TVideoSettings settings;
        settings.FileName = folder / c.Name;
        settings.Width = 96;
        settings.Height = 64;
        settings.Fps = 24;
        settings.Music = music;
        settings.MusicFrom = From;
        settings.Seconds = 1.0; // past the music's end: silence there
        {
            TVideoWriter writer(settings);
            EXPECT_TRUE(writer.HasSound());
            for (int k = 0; k < 24; ++k) {
                const std::vector<std::uint8_t> rgb = Picture(96, 64, k);
                writer.WriteFrame(rgb.data(), 96 * 3);
            }
            writer.Finish();
        }
        const test::TDecodedVideo video = test::DecodeVideo(settings.FileName, {0, 23});
        EXPECT_EQ(video.VideoCodec, c.Video);
        EXPECT_EQ(video.AudioCodec, c.Audio);
        EXPECT_EQ(video.Frames, 24);
        EXPECT_EQ(video.Width, 96);
        EXPECT_EQ(video.Height, 64);
        ASSERT_EQ(video.Kept.size(), 2u);
        EXPECT_GT(test::Psnr(video.Kept[0], Picture(96, 64, 0)), 33);
        EXPECT_GT(test::Psnr(video.Kept[1], Picture(96, 64, 23)), 33);
        // AAC's encoder delay and last-frame padding: trimmed by the .mp4's
        // edit list, decoded (in their place) from a .mkv.
        EXPECT_NEAR(video.AudioSeconds(), 1.0, c.Name[0] == 'b' ? 0.05 : 0.025);
        EXPECT_NEAR(test::SoundLag(video, fromSpan, Rate, 2), 0.0, 0.02);
    }
    EXPECT_EQ(Files(folder), (std::vector<std::string>{"a.mp4", "b.MKV", "c.webm", "music.mp3"}));

    // Without music, no sound stream; bottom-up rows as OpenGL reads them.
    TVideoSettings silent;
    silent.FileName = folder / "silent.mp4";
    silent.Width = 96;
    silent.Height = 64;
    silent.Fps = 30;
    {
        TVideoWriter writer(silent);
        EXPECT_FALSE(writer.HasSound());
        std::vector<std::uint8_t> rgb = Picture(96, 64, 5);
        writer.WriteFrame(rgb.data() + 63 * 96 * 3, -96 * 3);
        writer.Finish();
    }
    const test::TDecodedVideo video = test::DecodeVideo(silent.FileName, {0});
    EXPECT_EQ(video.AudioCodec, "");
    ASSERT_EQ(video.Kept.size(), 1u);
    std::vector<std::uint8_t> flipped(96 * 64 * 3);
    const std::vector<std::uint8_t> upright = Picture(96, 64, 5);
    for (int y = 0; y < 64; ++y)
        std::copy_n(&upright[std::size_t(63 - y) * 96 * 3], 96 * 3, &flipped[std::size_t(y) * 96 * 3]);
    EXPECT_GT(test::Psnr(video.Kept[0], flipped), 33);
}

TEST(VideoWriter, NoFileUnlessFinished)
{
    test::TScratchFolder folder;
    TVideoSettings settings;
    settings.Width = 64;
    settings.Height = 48;
    settings.Fps = 25;

    settings.FileName = folder / "none/v.mp4";
    try {
        TVideoWriter writer(settings);
        ADD_FAILURE() << "wrote into a folder that does not exist";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot write " + settings.FileName + ": No such file or directory");
    }
    settings.FileName = folder / "v.avi";
    EXPECT_THROW(TVideoWriter{settings}, std::invalid_argument);
    settings.FileName = folder / "v.mp4";
    settings.Music = folder / "missing.mp3";
    EXPECT_THROW(TVideoWriter{settings}, std::runtime_error);
    settings.Music.clear();
    settings.Width = 65;
    EXPECT_THROW(TVideoWriter{settings}, std::invalid_argument);
    settings.Width = 64;

    // Frames written, never finished: the partial file goes with the writer.
    {
        TVideoWriter writer(settings);
        const std::vector<std::uint8_t> rgb = Picture(64, 48, 0);
        for (int k = 0; k < 10; ++k)
            writer.WriteFrame(rgb.data(), 64 * 3);
        EXPECT_TRUE(fs::exists(writer.TemporaryFileName()));
        EXPECT_EQ(fs::path(writer.TemporaryFileName()).parent_path(), folder.Path());
    }
    EXPECT_TRUE(Files(folder).empty());
}

} // namespace
} // namespace vendrake
