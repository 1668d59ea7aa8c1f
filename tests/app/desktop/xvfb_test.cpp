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
#include <filesystem>
#include <fstream>
#include <string>

namespace vendrake {
namespace {

using test::TArea;

// The frame y3d paints of a scene, off-screen.
TBitmap RenderedFrame(const std::string& scene)
{
    const std::string png = scene + ".png";
    const std::string render = "env -u DISPLAY " Y3D_PROGRAM " render " + scene + " --time 3 --out " + png +
                               " >/dev/null";
    EXPECT_EQ(std::system(render.c_str()), 0);
    TFileStream in(png, TFileMode::OpenRead);
    TBitmap frame = ReadImageByContent(in);
    std::remove(png.c_str());
    return frame;
}

// Waits until the screen shows `expected` where `surface` is, and black
// everywhere else in `area`; says what differs when it never does.
void ExpectOnScreen(test::TObserver& observer, Window surface, const TArea& area, const TBitmap& expected)
{
    ASSERT_EQ(expected.Width(), 800);
    ASSERT_EQ(expected.Height(), 600);
    const int bytes = expected.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
    const TArea at = observer.RootArea(surface);
    ASSERT_EQ(at.Width, 800);
    ASSERT_EQ(at.Height, 600);
    const Window root = DefaultRootWindow(observer.Get());
    int border = 0, picture = 0;
    auto compare = [&] {
        XImage* image = XGetImage(observer.Get(), root, area.X, area.Y, unsigned(area.Width),
                                  unsigned(area.Height), AllPlanes, ZPixmap);
        if (!image)
            return false;
        border = picture = 0;
        for (int y = area.Y; y < area.Y + area.Height; ++y)
            for (int x = area.X; x < area.X + area.Width; ++x) {
                const unsigned long pixel = XGetPixel(image, x - area.X, y - area.Y) & 0xFFFFFF;
                if (x < at.X || x >= at.X + 800 || y < at.Y || y >= at.Y + 600) {
                    border += pixel != 0;
                    continue;
                }
                const std::uint8_t* bgr = expected.ScanLine(y - at.Y) + bytes * (x - at.X);
                picture += pixel != static_cast<unsigned long>(bgr[2] << 16 | bgr[1] << 8 | bgr[0]);
            }
        XDestroyImage(image);
        return border == 0 && picture == 0;
    };
    EXPECT_TRUE(test::WaitUntil(compare, 30)) << border << " pixels round the picture are not black, "
                                              << picture << " of the picture differ from y3d's frame";
}

// The program's window once it shows, with its one child, the surface.
Window WaitForForm(test::TObserver& observer, test::TProgram& program, Window& surface)
{
    Window form = 0;
    EXPECT_TRUE(test::WaitUntil(
        [&] { return !program.Running() || (form = test::FindProgramWindow(observer.Get())) != 0; }, 30))
        << "no window";
    EXPECT_TRUE(program.Running()) << program.Stderr();
    if (!form)
        return 0;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(observer.Get(), form, &root, &parent, &children, &count);
    EXPECT_EQ(count, 1u) << "the window should hold its drawing surface only";
    surface = count ? children[0] : 0;
    if (children)
        XFree(children);
    return form;
}

TEST(ProgramOnXvfb, ShowsItsPictureInTheMiddleOfAScreenWithoutItsMode)
{
    test::TXvfb server(1280, 720);
    test::TTempFolder folder;
    // Without the sweeping box nothing moves: every frame is the same.
    test::TPlaneScene still;
    still.Box = false;
    test::WritePlaneScene(folder / "ZuzezurAdor.y3d", still);
    const TBitmap expected = RenderedFrame(folder / "ZuzezurAdor.y3d");

    test::TObserver observer(server.Name());
    test::TProgram program(VENDRAKE_PROGRAM, folder.Path(), server.Name(), {"--stats"});
    Window surface = 0;
    const Window form = WaitForForm(observer, program, surface);
    ASSERT_NE(surface, 0u);
    EXPECT_EQ(observer.RootArea(form), (TArea{0, 0, 1280, 720}));
    EXPECT_EQ(observer.RootArea(surface), (TArea{240, 60, 800, 600}));
    // What the screen shows: black round the picture, the picture as y3d
    // paints it in the middle.
    ExpectOnScreen(observer, surface, TArea{0, 0, 1280, 720}, expected);

    const std::string escape = "DISPLAY=" + server.Name() + " xdotool windowfocus --sync " +
                               std::to_string(form) + " key Escape";
    ASSERT_EQ(std::system(escape.c_str()), 0);
    ASSERT_TRUE(program.Wait(5));
    EXPECT_EQ(program.ExitStatus(), 0);
    const std::string stats = program.Stderr();
    EXPECT_TRUE(stats.starts_with("vendrake: first frame ") && stats.ends_with("; centred on 1280x720\n"))
        << stats;
}

TEST(ProgramOnXvfb, PlaysASceneFromAnotherFolderWithTheTexturesBesideIt)
{
    test::TXvfb server(1280, 720);
    test::TTempFolder folder, elsewhere;
    std::filesystem::create_directory(folder.Path() / "show");
    // A 2 by 2 Targa: red, green / blue, white, stored bottom row first.
    {
        const std::uint8_t tga[] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0,
                                    0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
        std::ofstream(folder / "show/tiles.tga", std::ios::binary)
            .write(reinterpret_cast<const char*>(tga), sizeof tga);
    }
    test::TPlaneScene still;
    still.Box = false;
    still.Texture = "tiles.tga";
    test::WritePlaneScene(folder / "show/tiles.y3d", still);
    const TBitmap expected = RenderedFrame(folder / "show/tiles.y3d");

    test::TObserver observer(server.Name());
    {
        const std::string scene =
            (std::filesystem::relative(folder.Path(), elsewhere.Path()) / "show/tiles.y3d").string();
        test::TProgram program(VENDRAKE_PROGRAM, elsewhere.Path(), server.Name(), {scene});
        Window surface = 0;
        const Window form = WaitForForm(observer, program, surface);
        ASSERT_NE(surface, 0u);
        EXPECT_EQ(observer.RootArea(surface), (TArea{240, 60, 800, 600}));
        ExpectOnScreen(observer, surface, TArea{0, 0, 1280, 720}, expected);
        test::RequestClose(observer.Get(), form);
        ASSERT_TRUE(program.Wait(5));
        EXPECT_EQ(program.ExitStatus(), 0);
        EXPECT_EQ(program.Stderr(),
                  "vendrake: no music for tiles.y3d (looked for tiles.mp3 and vendrake.mp3 beside it)\n");
    }

    // In a window: decorated (where a window manager would draw them), the
    // scene's name as its title, 800 by 600, the screen left as it is.
    test::TProgram program(VENDRAKE_PROGRAM, elsewhere.Path(), server.Name(),
                           {(folder.Path() / "show/tiles.y3d").string(), "--window", "--stats"});
    Window surface = 0;
    const Window form = WaitForForm(observer, program, surface);
    ASSERT_NE(surface, 0u);
    const TArea area = observer.RootArea(form);
    EXPECT_EQ(area.Width, 800);
    EXPECT_EQ(area.Height, 600);
    char* title = nullptr;
    ASSERT_TRUE(XFetchName(observer.Get(), form, &title));
    EXPECT_STREQ(title, "tiles.y3d");
    XFree(title);
    ExpectOnScreen(observer, surface, area, expected);
    test::RequestClose(observer.Get(), form);
    ASSERT_TRUE(program.Wait(5));
    EXPECT_EQ(program.ExitStatus(), 0);
    EXPECT_TRUE(program.Stderr().ends_with("; in a window\n")) << program.Stderr();
}

} // namespace
} // namespace vendrake
