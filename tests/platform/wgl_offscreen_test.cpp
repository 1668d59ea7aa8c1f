// Off-screen windows and the WGL functions over EGL: no X server involved,
// whatever DISPLAY says.
#include "platform/wgl.h"
#include "platform/x_window.h"

#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>

namespace vendrake {
namespace {

struct TOffscreenWindows {
    TOffscreenWindows() { SetOffscreenWindows(true); }
    ~TOffscreenWindows() { SetOffscreenWindows(false); }
};

template <typename F>
F GLFunction(const char* name)
{
    static void* const library = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
}

TEST(WglOffscreen, DrawsIntoThePbufferOfAWindowWithoutX)
{
    const TOffscreenWindows offscreen;
    HWND window = CreateHiddenWindow("Test", "off-screen", 0, 0, 40, 30);
    ASSERT_TRUE(window->Offscreen());
    HDC dc = GetDC(window);
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 40);
    EXPECT_EQ(client.bottom, 30);

    const int count = wglDescribePixelFormat(dc, 0, 0, nullptr);
    ASSERT_GT(count, 0);
    int chosen = 0;
    for (int index = 1; index <= count; ++index) {
        PIXELFORMATDESCRIPTOR pfd{};
        ASSERT_EQ(wglDescribePixelFormat(dc, index, sizeof pfd, &pfd), count);
        EXPECT_EQ(pfd.dwFlags & (PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER),
                  PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW);
        EXPECT_EQ(pfd.cColorBits, 24);
        if (!chosen && pfd.cDepthBits > 0)
            chosen = index;
    }
    ASSERT_NE(chosen, 0);
    EXPECT_EQ(wglDescribePixelFormat(dc, count + 1, 0, nullptr), count);
    EXPECT_FALSE(SetPixelFormat(dc, count + 1, nullptr));
    ASSERT_TRUE(SetPixelFormat(dc, chosen, nullptr));
    EXPECT_TRUE(SetPixelFormat(dc, chosen, nullptr));
    EXPECT_FALSE(SetPixelFormat(dc, chosen == 1 ? 2 : 1, nullptr));

    HGLRC context = wglCreateContext(dc);
    ASSERT_NE(context, nullptr);
    ASSERT_TRUE(wglMakeCurrent(dc, context));
    EXPECT_NE(wglGetProcAddress("glActiveTextureARB"), nullptr);
    const auto clearColor = GLFunction<decltype(&glClearColor)>("glClearColor");
    const auto clear = GLFunction<decltype(&glClear)>("glClear");
    const auto readPixels = GLFunction<decltype(&glReadPixels)>("glReadPixels");
    const auto getString = GLFunction<decltype(&glGetString)>("glGetString");
    ASSERT_TRUE(clearColor && clear && readPixels && getString);
    clearColor(1.0f, 0.5f, 0.0f, 1.0f);
    clear(GL_COLOR_BUFFER_BIT);
    EXPECT_TRUE(wglSwapBuffers(dc)); // nothing to show: the frame stays
    std::array<std::uint8_t, 4> pixel{};
    readPixels(39, 29, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    EXPECT_EQ(pixel, (std::array<std::uint8_t, 4>{255, 128, 0, 255}));

    ASSERT_NE(getString(GL_VERSION), nullptr);
    EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));
    EXPECT_EQ(getString(GL_VERSION), nullptr);
    // Current again, then deleted: the deletion releases it.
    ASSERT_TRUE(wglMakeCurrent(dc, context));
    EXPECT_TRUE(wglDeleteContext(context));
    EXPECT_EQ(getString(GL_VERSION), nullptr);
    EXPECT_FALSE(wglMakeCurrent(dc, context));
    EXPECT_TRUE(DestroyWindow(window));
}

} // namespace
} // namespace vendrake
