// The vendrake program on a screen that has no 800x600 mode (Xvfb offers
// only its one size): the window covers the monitor, black, with the picture
// in the middle, the very frame y3d render paints.
#include "tests/support/x_helpers.h"
#include "tests/support/x_server.h"

#include "tests/app/plane_scene.h"
#include "tests/app/program_runner.h"

#include "render/image_readers.h"
#include "stream/stream.h"

#include <cstdlib>
#include <string>

namespace vendrake {
namespace {

using test::TArea;

TEST(ProgramOnXvfb, ShowsItsPictureInTheMiddleOfAScreenWithoutItsMode)
{
    test::TXvfb server(1280, 720);
    test::TTempFolder folder;
    // Without the sweeping box nothing moves: every frame is the same.
    test::TPlaneScene still;
    still.Box = false;
    test::WritePlaneScene(folder / "ZuzezurAdor.y3d", still);

    // The frame as y3d paints it, off-screen.
    const std::string png = folder.Path().string() + ".png";
    const std::string render = "env -u DISPLAY " Y3D_PROGRAM " render " + folder / "ZuzezurAdor.y3d" +
                               " --time 3 --out " + png + " >/dev/null";
    ASSERT_EQ(std::system(render.c_str()), 0);
    TBitmap expected = [&] {
        TFileStream in(png, TFileMode::OpenRead);
        return ReadImageByContent(in);
    }();
    std::remove(png.c_str());
    ASSERT_EQ(expected.Width(), 800);
    ASSERT_EQ(expected.Height(), 600);
    const int bytes = expected.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;

    test::TObserver observer(server.Name());
    test::TProgram program(VENDRAKE_PROGRAM, folder.Path(), server.Name(), {"--stats"});
    Window form = 0;
    ASSERT_TRUE(test::WaitUntil(
        [&] { return !program.Running() || (form = test::FindProgramWindow(observer.Get())) != 0; }, 30))
        << "no window";
    ASSERT_TRUE(program.Running()) << program.Stderr();
    EXPECT_EQ(observer.RootArea(form), (TArea{0, 0, 1280, 720}));
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(observer.Get(), form, &root, &parent, &children, &count);
    ASSERT_EQ(count, 1u) << "the window should hold its drawing surface only";
    const Window surface = children[0];
    XFree(children);
    EXPECT_EQ(observer.RootArea(surface), (TArea{240, 60, 800, 600}));

    // What the screen shows: black round the picture, the picture as y3d
    // paints it in the middle.
    int border = 0, picture = 0;
    auto compare = [&] {
        XImage* image = XGetImage(observer.Get(), root, 0, 0, 1280, 720, AllPlanes, ZPixmap);
        if (!image)
            return false;
        border = picture = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFF;
                if (x < 240 || x >= 1040 || y < 60 || y >= 660) {
                    border += pixel != 0;
                    continue;
                }
                const std::uint8_t* bgr = expected.ScanLine(y - 60) + bytes * (x - 240);
                picture += pixel != static_cast<unsigned long>(bgr[2] << 16 | bgr[1] << 8 | bgr[0]);
            }
        XDestroyImage(image);
        return border == 0 && picture == 0;
    };
    EXPECT_TRUE(test::WaitUntil(compare, 30)) << border << " pixels round the picture are not black, "
                                              << picture << " of the picture differ from y3d's frame";

    const std::string escape = "DISPLAY=" + server.Name() + " xdotool windowfocus --sync " +
                               std::to_string(form) + " key Escape";
    ASSERT_EQ(std::system(escape.c_str()), 0);
    ASSERT_TRUE(program.Wait(5));
    EXPECT_EQ(program.ExitStatus(), 0);
    const std::string stats = program.Stderr();
    EXPECT_TRUE(stats.starts_with("vendrake: first frame ") && stats.ends_with("; centred on 1280x720\n"))
        << stats;
}

} // namespace
} // namespace vendrake
