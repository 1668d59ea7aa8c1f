// y3d render on a real X display: frames of the demo as the program shows
// them.
#include "tests/support/x_helpers.h"
#include "tests/tools/demo_support.h"

#include "io/stream.h"
#include "platform/bitmap.h"
#include "render/image_readers.h"
#include "tools/y3d/commands.h"

#include <cmath>
#include <set>
#include <sstream>

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

struct RenderTest : ::testing::Test {
    void SetUp() override { ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server"; }
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

TEST_F(RenderTest, MissingSceneIsAnError)
{
    std::ostringstream out, err;
    EXPECT_EQ(y3d::Run({"render", Folder / "none.y3d", "--time", "1", "--out", Folder / "f.png"}, out, err), 1);
    EXPECT_EQ(err.str(), "y3d: cannot open scene file " + (Folder / "none.y3d") + "\n");
}

} // namespace
} // namespace vendrake
