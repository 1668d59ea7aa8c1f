#include "platform/application.h"
#include "platform/form.h"
#include "platform/thread.h"
#include "platform/wgl.h"
#include "platform/x_window.h"

#include "tests/support/x_helpers.h"

#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace vendrake {
namespace {

using test::TObserver;
using test::WaitUntil;

// The few GL calls the tests make, straight from the system's library.
struct TTestGL {
    TTestGL()
    {
        void* library = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        Bind(library, ClearColor, "glClearColor");
        Bind(library, Clear, "glClear");
        Bind(library, ReadBuffer, "glReadBuffer");
        Bind(library, ReadPixels, "glReadPixels");
        Bind(library, Finish, "glFinish");
        Bind(library, GetString, "glGetString");
    }
    template <typename F>
    static void Bind(void* library, F& function, const char* name)
    {
        function = reinterpret_cast<F>(dlsym(library, name));
    }
    bool Complete() const
    {
        return ClearColor && Clear && ReadBuffer && ReadPixels && Finish && GetString;
    }

    decltype(&::glClearColor) ClearColor = nullptr;
    decltype(&::glClear) Clear = nullptr;
    decltype(&::glReadBuffer) ReadBuffer = nullptr;
    decltype(&::glReadPixels) ReadPixels = nullptr;
    decltype(&::glFinish) Finish = nullptr;
    decltype(&::glGetString) GetString = nullptr;
};

PIXELFORMATDESCRIPTOR Described(HDC dc, int index)
{
    PIXELFORMATDESCRIPTOR pfd{};
    wglDescribePixelFormat(dc, index, sizeof pfd, &pfd);
    return pfd;
}

bool DoubleBufferedWithDepth(const PIXELFORMATDESCRIPTOR& pfd)
{
    return (pfd.dwFlags & PFD_DOUBLEBUFFER) && pfd.cDepthBits > 0;
}

// The visual a format puts on a window, found by setting it on a scratch one.
unsigned long VisualOfFormat(int index)
{
    HWND scratch = CreateHiddenWindow("Scratch", "scratch", 0, 0, 8, 8);
    const bool set = SetPixelFormat(GetDC(scratch), index, nullptr);
    const unsigned long visual = set ? scratch->VisualId() : 0;
    DestroyWindow(scratch);
    return visual;
}

struct WglTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_FALSE(test::TestDisplay().empty()) << "these tests need an X server";
        application.Initialize(test::TestDisplay());
        form = std::make_unique<TForm>(application);
        form->SetBorderStyle(TBorderStyle::bsNone);
        form->SetBounds(left, top, 64, 48);
        surface = std::make_unique<TCustomControl>(*form);
        surface->SetAlign(TAlign::alClient);
        window = surface->Handle();
        dc = GetDC(window);
        form->Show();
        ASSERT_TRUE(WaitUntil([&] {
            application.ProcessMessages();
            return observer.Viewable(window->Id());
        }));
    }

    void TearDown() override
    {
        surface.reset();
        form.reset();
    }

    int left = 820;
    int top = 640;
    TApplication application;
    TObserver observer;
    std::unique_ptr<TForm> form;
    std::unique_ptr<TCustomControl> surface;
    HWND window = nullptr;
    HDC dc = nullptr;
};

// Pixels are read back from the screen: a place no other test's window covers.
struct WglDrawingTest : WglTest {
    WglDrawingTest()
    {
        left = 960;
        top = 700;
    }
};

TEST_F(WglTest, PixelFormatsDescribeTheUsableGlxConfigs)
{
    const int count = wglDescribePixelFormat(dc, 0, 0, nullptr);
    ASSERT_GT(count, 0);
    PIXELFORMATDESCRIPTOR pfd{};
    EXPECT_EQ(wglDescribePixelFormat(dc, 0, sizeof pfd, &pfd), count);  // index 0 only counts

    int doubleWithDepth = 0;
    for (int index = 1; index <= count; ++index) {
        pfd = {};
        ASSERT_EQ(wglDescribePixelFormat(dc, index, sizeof pfd, &pfd), count);
        EXPECT_EQ(pfd.nSize, 40);
        EXPECT_EQ(pfd.nVersion, 1);
        EXPECT_EQ(pfd.dwFlags & (PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW),
                  PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW);
        EXPECT_EQ(pfd.iPixelType, PFD_TYPE_RGBA);
        EXPECT_EQ(pfd.cColorBits, pfd.cRedBits + pfd.cGreenBits + pfd.cBlueBits);
        EXPECT_EQ(pfd.cAccumBits, pfd.cAccumRedBits + pfd.cAccumGreenBits + pfd.cAccumBlueBits +
                                      pfd.cAccumAlphaBits);
        EXPECT_GT(pfd.cRedBits, 0);
        if (DoubleBufferedWithDepth(pfd))
            ++doubleWithDepth;
    }
    EXPECT_GT(doubleWithDepth, 0);

    // Out of range, or nothing to describe on: 0.
    EXPECT_EQ(wglDescribePixelFormat(dc, count + 1, sizeof pfd, &pfd), 0);
    EXPECT_EQ(wglDescribePixelFormat(dc, -1, sizeof pfd, &pfd), 0);
    EXPECT_EQ(wglDescribePixelFormat(nullptr, 1, sizeof pfd, &pfd), 0);

    // A short record gets only as many bytes as it has.
    std::array<std::uint8_t, sizeof(PIXELFORMATDESCRIPTOR)> bytes;
    bytes.fill(0xAB);
    wglDescribePixelFormat(dc, 1, 4, reinterpret_cast<PIXELFORMATDESCRIPTOR*>(bytes.data()));
    EXPECT_EQ(bytes[0], 40);
    EXPECT_EQ(bytes[4], 0xAB);
    EXPECT_EQ(bytes[39], 0xAB);

    // The hidden probe window sees the same formats.
    HWND probe = CreateProbeWindow();
    EXPECT_EQ(wglDescribePixelFormat(GetDC(probe), 0, 0, nullptr), count);
    PIXELFORMATDESCRIPTOR fromProbe = Described(GetDC(probe), count);
    PIXELFORMATDESCRIPTOR fromSurface = Described(dc, count);
    EXPECT_EQ(std::memcmp(&fromProbe, &fromSurface, sizeof fromProbe), 0);
    DestroyWindow(probe);
}

TEST_F(WglTest, SetPixelFormatRecreatesTheWindowWithTheFormatsVisual)
{
    const int count = wglDescribePixelFormat(dc, 0, 0, nullptr);
    ASSERT_GT(count, 0);
    const unsigned long oldVisual = window->VisualId();
    const Window oldId = window->Id();
    const Window formId = form->Handle()->Id();

    // A double-buffered format with depth whose visual is not the window's.
    int chosen = 0;
    unsigned long chosenVisual = 0;
    for (int index = count, tries = 0; index >= 1 && tries < 80 && !chosen; --index) {
        if (!DoubleBufferedWithDepth(Described(dc, index)))
            continue;
        ++tries;
        const unsigned long visual = VisualOfFormat(index);
        if (visual != 0 && visual != oldVisual) {
            chosen = index;
            chosenVisual = visual;
        }
    }
    ASSERT_NE(chosen, 0) << "every format has the window's own visual";

    int paints = 0;
    surface->OnPaint = [&](TCustomControl&) { ++paints; };
    EXPECT_FALSE(SetPixelFormat(dc, 0, nullptr));
    EXPECT_FALSE(SetPixelFormat(dc, count + 1, nullptr));
    EXPECT_EQ(wglGetPixelFormat(dc), 0);
    PIXELFORMATDESCRIPTOR pfd = Described(dc, chosen);
    ASSERT_TRUE(SetPixelFormat(dc, chosen, &pfd));

    // Same handle and device context, new X window with the format's visual,
    // in the old one's place.
    EXPECT_EQ(surface->Handle(), window);
    EXPECT_EQ(GetDC(window), dc);
    EXPECT_EQ(wglGetPixelFormat(dc), chosen);
    const Window newId = window->Id();
    EXPECT_NE(newId, oldId);
    EXPECT_EQ(dc->Drawable(), newId);
    const XWindowAttributes attributes = observer.Attributes(newId);
    EXPECT_EQ(XVisualIDFromVisual(attributes.visual), chosenVisual);
    EXPECT_EQ(attributes.width, 64);
    EXPECT_EQ(attributes.height, 48);
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(attributes.all_event_masks & (ExposureMask | StructureNotifyMask),
              ExposureMask | StructureNotifyMask);
    EXPECT_EQ(observer.ParentOf(newId), formId);
    {
        TXErrorTrap trap(observer.Get());
        XWindowAttributes gone{};
        EXPECT_FALSE(XGetWindowAttributes(observer.Get(), oldId, &gone));
    }

    // One format per window: the same again is fine, another is refused.
    EXPECT_TRUE(SetPixelFormat(dc, chosen, &pfd));
    EXPECT_FALSE(SetPixelFormat(dc, chosen == 1 ? 2 : 1, nullptr));
    EXPECT_EQ(wglGetPixelFormat(dc), chosen);

    // Events of the new window still reach the control.
    EXPECT_TRUE(WaitUntil([&] {
        application.ProcessMessages();
        return paints > 0;
    })) << "the re-created window was never painted";
}

TEST_F(WglDrawingTest, ContextMadeOnTheMainThreadDrawsOnAnotherThread)
{
    TTestGL gl;
    ASSERT_TRUE(gl.Complete());
    const int count = wglDescribePixelFormat(dc, 0, 0, nullptr);
    int chosen = 0;
    for (int index = 1; index <= count && !chosen; ++index)
        if (DoubleBufferedWithDepth(Described(dc, index)))
            chosen = index;
    ASSERT_NE(chosen, 0);

    EXPECT_EQ(wglCreateContext(dc), nullptr) << "a context without a pixel format";
    ASSERT_TRUE(SetPixelFormat(dc, chosen, nullptr));
    HGLRC context = wglCreateContext(dc);
    ASSERT_NE(context, nullptr);
    EXPECT_NE(wglGetProcAddress("glActiveTextureARB"), nullptr);

    // Current on the main thread for a while, as during initialisation.
    ASSERT_TRUE(wglMakeCurrent(dc, context));
    EXPECT_NE(gl.GetString(GL_VERSION), nullptr);
    EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));

    std::array<std::uint8_t, 4> back{};
    bool madeCurrent = false, swapped = false;
    TThread renderer([&](TThread&) {
        madeCurrent = wglMakeCurrent(dc, context);
        if (!madeCurrent)
            return;
        gl.ClearColor(0.25f, 0.5f, 0.75f, 1.0f);
        gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gl.ReadBuffer(GL_BACK);
        gl.ReadPixels(32, 24, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
        swapped = wglSwapBuffers(dc);
        gl.Finish();
        wglMakeCurrent(nullptr, nullptr);
    });
    renderer.Resume();
    renderer.WaitFor();

    ASSERT_TRUE(madeCurrent);
    EXPECT_TRUE(swapped);
    EXPECT_NEAR(back[0], 64, 1);
    EXPECT_NEAR(back[1], 128, 1);
    EXPECT_NEAR(back[2], 191, 1);
    EXPECT_EQ(back[3], 255);
    // The swap put it on the window.
    EXPECT_TRUE(WaitUntil([&] {
        const unsigned long pixel = observer.Pixel(window->Id(), 32, 24);
        return ((pixel >> 16) & 0xFF) >= 63 && ((pixel >> 16) & 0xFF) <= 65 &&
               ((pixel >> 8) & 0xFF) >= 127 && ((pixel >> 8) & 0xFF) <= 129;
    })) << std::hex << observer.Pixel(window->Id(), 32, 24);

    // A window of another format cannot take this context.
    HWND other = CreateHiddenWindow("Other", "other", 0, 0, 8, 8);
    const int otherFormat = chosen == 1 ? 2 : 1;
    ASSERT_TRUE(SetPixelFormat(GetDC(other), otherFormat, nullptr));
    EXPECT_FALSE(wglMakeCurrent(GetDC(other), context));
    DestroyWindow(other);

    EXPECT_TRUE(wglDeleteContext(context));
    EXPECT_FALSE(wglDeleteContext(context));
    EXPECT_FALSE(wglMakeCurrent(dc, context));
}

} // namespace
} // namespace vendrake
