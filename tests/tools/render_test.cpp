// y3d render with no X server: frames of the demo as the program shows
// them, as PNG files and as a video with its soundtrack.
#include "tests/support/video_reader.h"
#include "tests/tools/demo_support.h"

#include "stream/stream.h"
#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "tools/demo/soundtrack.h"
#include "tools/y3d/commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vendrake {
namespace {

struct TFrameStats {
    double Mean = 0;      // mean of all channels, 0..255
    double Deviation = 0; // of the grey level
    std::size_t Colours = 0;
};

TBitmap ReadPng(const std::string& fileName)
{
    TFileStream stream(fileName, TFileMode::OpenRead);
    return ReadImageByContent(stream);
}

TFrameStats Stats(const TBitmap& frame)
{
    TFrameStats s;
    std::set<std::uint32_t> colours;
    double sum = 0, squares = 0;
    const int n = frame.Width() * frame.Height();
    for (int y = 0; y < frame.Height(); ++y)
        for (int x = 0; x < frame.Width(); ++x) {
            const std::uint8_t* p = frame.ScanLine(y) + 3 * x;
            const double grey = (p[0] + p[1] + p[2]) / 3.0;
            sum += grey;
            squares += grey * grey;
            colours.insert(std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]);
        }
    s.Mean = sum / n;
    s.Deviation = std::sqrt(std::max(0.0, squares / n - s.Mean * s.Mean));
    s.Colours = colours.size();
    return s;
}

double MeanDifference(const TBitmap& a, const TBitmap& b)
{
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < 3 * a.Width(); ++x)
            sum += std::abs(int(a.ScanLine(y)[x]) - int(b.ScanLine(y)[x]));
    return sum / (3.0 * a.Width() * a.Height());
}

std::string Render(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    std::vector<std::string> line = {"render"};
    line.insert(line.end(), args.begin(), args.end());
    EXPECT_EQ(y3d::Run(line, out, err), 0) << err.str();
    return out.str();
}

// Whatever display the shell has, these draw without one (through EGL), and
// so does the program they start.
struct RenderTest : ::testing::Test {
    void SetUp() override { ::unsetenv("DISPLAY"); }
    test::TScratchFolder Folder;
};

TEST_F(RenderTest, DemoFramesDifferAndShowTheScene)
{
    const std::string scene = test::WriteDemoScene(Folder);
    std::vector<TBitmap> frames;
    for (const char* time : {"3", "22", "40", "52", "70", "95"}) {
        const std::string png = Folder / (std::string("frame_") + time + ".png");
        EXPECT_EQ(Render({scene, "--time", time, "--size", "200x150", "--out", png}), png + "\n");
        frames.push_back(ReadPng(png));
        const TBitmap& frame = frames.back();
        ASSERT_EQ(frame.Width(), 200);
        ASSERT_EQ(frame.Height(), 150);
        const TFrameStats s = Stats(frame);
        EXPECT_GT(s.Mean, 25) << "frame at " << time << " s is nearly black";
        EXPECT_GT(s.Deviation, 8) << "frame at " << time << " s is nearly uniform";
        EXPECT_GT(s.Colours, 500u) << "frame at " << time << " s has few colours";
    }
    for (std::size_t i = 0; i < frames.size(); ++i)
        for (std::size_t j = i + 1; j < frames.size(); ++j)
            EXPECT_GT(MeanDifference(frames[i], frames[j]), 8) << "frames " << i << " and " << j;
}

TEST_F(RenderTest, SequenceFramesAndThePlaneSetUp)
{
    const std::string scene = test::WriteDemoScene(Folder);
    const std::string dir = Folder / "sequence";
    EXPECT_EQ(Render({scene, "--time", "70", "--frames", "3", "--fps", "10", "--size", "160x120", "--out-dir", dir}),
              dir + "/frame_0000.png\n" + dir + "/frame_0001.png\n" + dir + "/frame_0002.png\n");
    const TBitmap first = ReadPng(dir + "/frame_0000.png");
    const TBitmap second = ReadPng(dir + "/frame_0001.png");
    EXPECT_GT(MeanDifference(first, second), 0.5) << "the scene stood still";

    // A sequence's first frame is the single frame at its time.
    const std::string single = Folder / "single.png";
    Render({scene, "--time", "70", "--size", "160x120", "--out", single});
    EXPECT_EQ(MeanDifference(first, ReadPng(single)), 0.0);

    // Without the set-up the glow planes are opaque squares, black round
    // their light; with it they add their light to the picture.
    const std::string plain = Folder / "plain.png";
    Render({scene, "--time", "70", "--size", "160x120", "--no-planes", "--out", plain});
    EXPECT_GT(Stats(first).Mean, Stats(ReadPng(plain)).Mean + 3);
}

TEST_F(RenderTest, MissingOrEmptySceneIsAnError)
{
    const auto fails = [&](const std::string& scene) {
        std::ostringstream out, err;
        EXPECT_EQ(y3d::Run({"render", scene, "--time", "1", "--out", Folder / "f.png"}, out, err), 1) << scene;
        EXPECT_FALSE(std::filesystem::exists(Folder / "f.png")) << scene;
        return err.str();
    };
    EXPECT_EQ(fails(Folder / "none.y3d"), "y3d: cannot open scene file " + (Folder / "none.y3d") + "\n");
    // Nothing at all, and a chunk the reader skips.
    std::ofstream(Folder / "empty.y3d").flush();
    EXPECT_EQ(fails(Folder / "empty.y3d"), "y3d: " + (Folder / "empty.y3d") +
                                               ": nothing to paint: the scene file holds no camera and no mesh\n");
    const std::uint32_t unknown[5] = {0x5A454C4B, 0x58585858, 0, 0, 20};
    std::ofstream(Folder / "other.y3d", std::ios::binary).write(reinterpret_cast<const char*>(unknown), 20);
    EXPECT_EQ(fails(Folder / "other.y3d"), "y3d: " + (Folder / "other.y3d") +
                                               ": nothing to paint: the scene file holds no camera and no mesh\n");
}

// A picture's pixels as RGB, whatever way its bitmap holds them.
std::vector<std::uint8_t> Rgb(const TBitmap& picture)
{
    std::vector<std::uint8_t> rgb;
    const int step = picture.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const std::uint8_t* p = picture.ScanLine(y) + step * x;
            rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        }
    return rgb;
}

std::vector<std::string> Files(const test::TScratchFolder& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(RenderTest, VideoOfTheDemoWithItsSoundtrack)
{
    const std::string scene = test::WriteDemoScene(Folder);
    const std::string music = Folder / demo::MusicFileName;
    demo::WriteFileBytes(music, demo::EncodeMp3(demo::SynthesizeSoundtrack()));
    const std::string video = Folder / "demo.mp4";
    std::ostringstream out, err;
    ASSERT_EQ(y3d::Run({"render", scene, "--video", video, "--from", "10", "--to", "14", "--fps", "25"}, out, err), 0)
        << err.str();
    EXPECT_EQ(out.str(), video + "\n");
    // Not on a terminal: the closing line alone.
    const std::string closing = err.str();
    EXPECT_EQ(closing.rfind(video + ": 100 frames of 800x600 at 25 a second in ", 0), 0u) << closing;
    EXPECT_EQ(std::count(closing.begin(), closing.end(), '\n'), 1) << closing;

    const test::TDecodedVideo decoded = test::DecodeVideo(video, {50});
    EXPECT_EQ(decoded.Frames, 100);
    EXPECT_EQ(decoded.Width, 800);
    EXPECT_EQ(decoded.Height, 600);
    EXPECT_EQ(decoded.AudioCodec, "aac");
    EXPECT_NEAR(decoded.AudioSeconds(), 4.0, 1024.0 / demo::SampleRate);

    // Frame 50 is the program's picture at 12 s.
    const std::string still = Folder / "12.png";
    Render({scene, "--time", "12", "--out", still});
    ASSERT_EQ(decoded.Kept.size(), 1u);
    const double psnr = test::Psnr(decoded.Kept[0], Rgb(ReadPng(still)));
    EXPECT_GE(psnr, 35);
    RecordProperty("psnr_at_12s", std::to_string(psnr));

    // The sound is the soundtrack's from 10 s, in step with the picture.
    const std::vector<float> heard = test::DecodeStereoMp3(music);
    const std::vector<float> fromTen(heard.begin() + 10 * demo::SampleRate * 2, heard.end());
    const double lag = test::SoundLag(decoded, fromTen, demo::SampleRate, 2);
    EXPECT_NEAR(lag, 0.0, 0.02);
    RecordProperty("sound_lag_ms", std::to_string(lag * 1000));
}

TEST_F(RenderTest, VideoWithoutSoundtrackAndVideosThatFail)
{
    const std::string scene = test::WriteDemoScene(Folder);
    const std::vector<std::string> sceneFiles = Files(Folder);
    const std::string video = Folder / "short.webm";
    std::ostringstream out, err;
    ASSERT_EQ(y3d::Run({"render", scene, "--video", video, "--from", "30", "--to", "30.2", "--size", "64x48"}, out, err),
              0) << err.str();
    EXPECT_EQ(err.str().substr(0, err.str().find('\n') + 1),
              "y3d: warning: no soundtrack " + (Folder / demo::MusicFileName) + "; the video has no sound\n");
    const test::TDecodedVideo decoded = test::DecodeVideo(video);
    EXPECT_EQ(decoded.VideoCodec, "vp9");
    EXPECT_EQ(decoded.AudioCodec, "");
    EXPECT_EQ(decoded.Frames, 12); // 60 a second
    std::filesystem::remove(video);

    const auto failure = [&](std::vector<std::string> args) {
        std::ostringstream failedOut, failedErr;
        args.insert(args.begin(), {"render", scene});
        EXPECT_EQ(y3d::Run(args, failedOut, failedErr), 1);
        // The last line: the missing soundtrack's warning may come first.
        const std::string text = failedErr.str();
        return text.substr(text.rfind('\n', text.size() - 2) + 1);
    };
    EXPECT_EQ(failure({"--video", Folder / "v.avi"}),
              "y3d: " + (Folder / "v.avi") + ": unknown video type \".avi\" (.mp4 or .mkv for H.264, .webm for VP9)\n");
    EXPECT_EQ(failure({"--video", Folder / "none/v.mp4", "--to", "1"}),
              "y3d: cannot write " + (Folder / "none/v.mp4") + ": No such file or directory\n");
    EXPECT_EQ(failure({"--video", Folder / "v.mp4", "--from", "500"}).rfind("y3d: the span from 500 s to the scene's end at ", 0),
              0u);
    EXPECT_EQ(Files(Folder), sceneFiles);

    // Ctrl-C halfway through a long video: the program says so, leaves no
    // file, neither the video nor the one it was being written into, and
    // then dies by the signal, so that a shell loop running it stops too.
    const std::string log = Folder / "stderr.txt";
    const std::string out1 = Folder / "long.mp4";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {Y3D_PROGRAM, "render", scene, "--video", out1, "--size", "160x120"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, Y3D_PROGRAM, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Under way: the file being written has its first encoded frames.
    const auto partial = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(Folder.Path()))
            if (entry.path().extension() == ".part" && entry.file_size() > 4096)
                return true;
        return false;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!partial() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(partial());
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    std::vector<std::string> expected = sceneFiles;
    expected.push_back("stderr.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(Folder), expected);
    std::ifstream logged(log);
    const std::string text((std::istreambuf_iterator<char>(logged)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("y3d: interrupted by SIGINT; " + out1 + " was not written\n"), std::string::npos) << text;
}

} // namespace
} // namespace vendrake
