// The device and canvas on a real window, with Mesa's OpenGL.
#include "tests/support/gl_recorder.h"
#include "tests/support/x_helpers.h"

#include "platform/form.h"
#include "platform/x_window.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"

#include <array>
#include <thread>

namespace vendrake {
namespace {

struct DeviceTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        application.Initialize(test::TestDisplay());
        form = std::make_unique<TForm>(application);
        form->SetBorderStyle(TBorderStyle::bsNone);
        // Tests run side by side on one server and X keeps nothing of an
        // obscured window, so each test has a spot of its own.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        Left = name.find("Canvas") == 0 ? 300 : 700;
        form->SetBounds(Left, 620, 80, 60);
        surface = std::make_unique<TCustomControl>(*form);
        surface->SetAlign(TAlign::alClient);
        form->Show();
        ASSERT_TRUE(test::WaitUntil([&] {
            application.ProcessMessages();
            return observer.Viewable(surface->Handle()->Id());
        }));
    }

    int Left = 700;
    TApplication application;
    test::TObserver observer;
    std::unique_ptr<TForm> form;
    std::unique_ptr<TCustomControl> surface;
};

TEST_F(DeviceTest, ContextOnTheRankedFormatDrawsOnAnotherThread)
{
    auto device = std::make_unique<TgrOpengl>();
    ASSERT_TRUE(device->CreateContext(surface->Handle(), {6, 2, 5, 0, 3, 7}));
    ASSERT_NE(device->RenderContext, nullptr);

    // The renderer's list puts a double-buffered format with depth first, and
    // that is the one set on the window.
    const TgrPixelFormat* chosen = device->Formats.Get(0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_TRUE(chosen->DoubleBuffer);
    EXPECT_TRUE(chosen->HasDepth);
    EXPECT_EQ(wglGetPixelFormat(device->DeviceContext), chosen->Index);
    EXPECT_TRUE(glExtensions.ARB_multitexture);

    std::array<std::uint8_t, 4> pixel{};
    bool depthTest = false;
    std::thread painter([&] {
        device->MakeCurrent();
        GLboolean enabled = GL_FALSE;
        gl.glGetBooleanv(GL_DEPTH_TEST, &enabled); // CreateContext enabled it
        depthTest = enabled == GL_TRUE;
        gl.glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
        gl.glClear(GL_COLOR_BUFFER_BIT);
        gl.glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
        device->Swap();
        device->ReleaseCurrent();
    });
    painter.join();
    EXPECT_TRUE(depthTest);
    EXPECT_EQ(pixel, (std::array<std::uint8_t, 4>{0, 255, 0, 255}));
    EXPECT_TRUE(test::WaitUntil([&] { return observer.Pixel(surface->Handle()->Id(), 5, 5) == 0x00FF00; }))
        << "the swap never reached the window";
    device.reset();
}

// The driver stood in for by the recorder (the probe window is real): the
// calls CreateContext makes, and what a failure at each step leaves behind.
TEST_F(DeviceTest, CreateContextOrderAndFailures)
{
    using Lines = std::vector<std::string>;
    TGLRecorder recorder;
    recorder.StandInForLibraries();
    PIXELFORMATDESCRIPTOR single{};
    single.nSize = sizeof single;
    single.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
    single.cColorBits = 24;
    PIXELFORMATDESCRIPTOR doubled = single;
    doubled.dwFlags |= PFD_DOUBLEBUFFER;
    doubled.cDepthBits = 24;
    recorder.SetPixelFormats({single, doubled});
    recorder.SetString(GL_VERSION, "1.2");
    recorder.SetString(GL_EXTENSIONS, "GL_ARB_multitexture");
    recorder.Provide({"glActiveTextureARB"});
    const HWND window = surface->Handle();

    {
        TgrOpengl device;
        recorder.ClearLog();
        ASSERT_TRUE(device.CreateContext(window, {6, 2, 5, 0, 3, 7}));
        // The formats counted and described, the double-buffered one set, the
        // context made, bound and read, the depth test, the release.
        EXPECT_EQ(recorder.Log(),
                  (Lines{"DescribePixelFormat(ptr, 0, 0, null)", "DescribePixelFormat(ptr, 1, 40, ptr)",
                         "DescribePixelFormat(ptr, 2, 40, ptr)", "SetPixelFormat(ptr, 2, ptr)",
                         "wglCreateContext(ptr)", "wglGetPixelFormat(ptr)", "wglMakeCurrent(ptr, ptr)",
                         RecordedCall("glGetString", GL_EXTENSIONS), RecordedCall("glGetString", GL_VERSION),
                         RecordedCall("glGetString", GL_VERSION), RecordedCall("gluGetString", GLU_VERSION),
                         RecordedCall("glGetString", GL_EXTENSIONS), RecordedCall("gluGetString", GLU_EXTENSIONS),
                         RecordedCall("glEnable", GL_DEPTH_TEST), "wglMakeCurrent(null, null)"}));
        EXPECT_NE(gl.glActiveTextureARB, nullptr);
    }

    // A context that cannot be made current is an error, and it leaves the
    // extension group unbound and unrecorded: the next activation that works
    // binds it.
    recorder.FailMakeCurrent(true);
    TgrOpengl failing;
    try {
        failing.CreateContext(window, {6, 2, 5, 0, 3, 7});
        ADD_FAILURE() << "no error";
    } catch (const EGLDeviceError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot make the OpenGL context current on display ", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(gl.glActiveTextureARB, nullptr);
    recorder.FailMakeCurrent(false);
    failing.MakeCurrent();
    EXPECT_NE(gl.glActiveTextureARB, nullptr) << "a first failure switched multitexture off for good";

    recorder.FailSetPixelFormat(true);
    TgrOpengl unset;
    EXPECT_THROW(unset.CreateContext(window, {6}), EGLDeviceError);
    EXPECT_EQ(unset.RenderContext, nullptr);
    recorder.SetPixelFormats({});
    TgrOpengl none;
    EXPECT_THROW(none.CreateContext(window, {6}), EGLDeviceError);
}

TEST_F(DeviceTest, CanvasFollowsTheWindowsClientRectangle)
{
    TgrCanvas canvas(nullptr);
    canvas.SetCanvas(&surface->Canvas());
    canvas.UpdateRectFromWindow();
    EXPECT_EQ(canvas.Rect.Left, 0);
    EXPECT_EQ(canvas.Rect.Top, 0);
    EXPECT_EQ(canvas.Rect.Right, 80);
    EXPECT_EQ(canvas.Rect.Bottom, 60);

    form->SetBounds(Left, 620, 96, 40);
    ASSERT_TRUE(test::WaitUntil([&] {
        application.ProcessMessages();
        return surface->Width() == 96 && surface->Height() == 40;
    }));
    canvas.UpdateRectFromWindow();
    EXPECT_EQ(canvas.Rect.Right, 96);
    EXPECT_EQ(canvas.Rect.Bottom, 40);
}

} // namespace
} // namespace vendrake
