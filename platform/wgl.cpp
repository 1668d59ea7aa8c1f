#include "platform/wgl.h"

#include "platform/wgl_egl.h"
#include "platform/x_window.h"

#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vendrake {

// A rendering context: the GLX context, or for off-screen windows the EGL
// one, and the format it was made for.
struct TGLContext {
    std::string DisplayName;
    Display* Connection = nullptr;
    GLXContext Context = nullptr;
    void* OffscreenContext = nullptr;
    int PixelFormat = 0;
};

namespace {

// The program does not link libGL; GLX comes from the library opened here,
// which stays loaded for the life of the process.
struct TGlx {
    decltype(&::glXQueryExtension) QueryExtension = nullptr;
    decltype(&::glXQueryVersion) QueryVersion = nullptr;
    decltype(&::glXGetFBConfigs) GetFBConfigs = nullptr;
    decltype(&::glXGetFBConfigAttrib) GetFBConfigAttrib = nullptr;
    decltype(&::glXGetVisualFromFBConfig) GetVisualFromFBConfig = nullptr;
    decltype(&::glXCreateNewContext) CreateNewContext = nullptr;
    decltype(&::glXDestroyContext) DestroyContext = nullptr;
    decltype(&::glXMakeContextCurrent) MakeContextCurrent = nullptr;
    decltype(&::glXGetCurrentDisplay) GetCurrentDisplay = nullptr;
    decltype(&::glXGetCurrentContext) GetCurrentContext = nullptr;
    decltype(&::glXSwapBuffers) SwapBuffers = nullptr;
    decltype(&::glXGetProcAddressARB) GetProcAddressARB = nullptr;
    bool Loaded = false;
};

template <typename F>
bool Bind(void* library, F& function, const char* name)
{
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

const TGlx& Glx()
{
    static const TGlx glx = [] {
        TGlx g;
        void* library = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return g;
        g.Loaded = Bind(library, g.QueryExtension, "glXQueryExtension") &&
                   Bind(library, g.QueryVersion, "glXQueryVersion") &&
                   Bind(library, g.GetFBConfigs, "glXGetFBConfigs") &&
                   Bind(library, g.GetFBConfigAttrib, "glXGetFBConfigAttrib") &&
                   Bind(library, g.GetVisualFromFBConfig, "glXGetVisualFromFBConfig") &&
                   Bind(library, g.CreateNewContext, "glXCreateNewContext") &&
                   Bind(library, g.DestroyContext, "glXDestroyContext") &&
                   Bind(library, g.MakeContextCurrent, "glXMakeContextCurrent") &&
                   Bind(library, g.GetCurrentDisplay, "glXGetCurrentDisplay") &&
                   Bind(library, g.GetCurrentContext, "glXGetCurrentContext") &&
                   Bind(library, g.SwapBuffers, "glXSwapBuffers") &&
                   Bind(library, g.GetProcAddressARB, "glXGetProcAddressARB");
        return g;
    }();
    return glx;
}

// OpenGL talks to the server over a connection of its own per display, so
// the render thread's swaps never queue behind the main thread's event
// handling. The connections stay open for the life of the process: the
// driver keeps state on them.
struct TGLDisplay {
    std::unique_ptr<TXConnection> Connection;
    std::map<int, std::vector<GLXFBConfig>> Formats;  // usable configs by screen
};

struct TWglState {
    std::mutex Mutex;
    std::map<std::string, TGLDisplay> Displays;
    std::vector<std::unique_ptr<TGLContext>> Contexts;
};

// Never destroyed: tearing the driver's connections down among the static
// destructors would pull the driver from under a thread still drawing.
TWglState& Wgl()
{
    static TWglState* const state = std::make_unique<TWglState>().release();
    return *state;
}

// The GL connection for a device context's display; null without GLX 1.3.
TGLDisplay* GLDisplayOf(HDC dc)
{
    const TGlx& glx = Glx();
    if (!dc || !glx.Loaded)
        return nullptr;
    auto it = Wgl().Displays.find(dc->DisplayName());
    if (it == Wgl().Displays.end()) {
        TGLDisplay entry;
        try {
            entry.Connection = std::make_unique<TXConnection>(dc->DisplayName());
        } catch (const std::runtime_error&) {
            return nullptr;
        }
        int errorBase = 0, eventBase = 0, major = 0, minor = 0;
        Display* display = entry.Connection->Get();
        if (!glx.QueryExtension(display, &errorBase, &eventBase) ||
            !glx.QueryVersion(display, &major, &minor) || (major == 1 && minor < 3))
            return nullptr;
        it = Wgl().Displays.emplace(dc->DisplayName(), std::move(entry)).first;
    }
    return &it->second;
}

int Attribute(Display* display, GLXFBConfig config, int attribute)
{
    int value = 0;
    if (Glx().GetFBConfigAttrib(display, config, attribute, &value) != Success)
        return 0;
    return value;
}

// The screen's configs that can be pixel formats, in the order GLX gives
// them: RGBA, drawable into windows, main plane, with a visual.
const std::vector<GLXFBConfig>& FormatsOf(TGLDisplay& gl, int screen)
{
    auto found = gl.Formats.find(screen);
    if (found != gl.Formats.end())
        return found->second;
    std::vector<GLXFBConfig>& usable = gl.Formats[screen];
    Display* display = gl.Connection->Get();
    int count = 0;
    GLXFBConfig* configs = Glx().GetFBConfigs(display, screen, &count);
    for (int i = 0; configs && i < count; ++i) {
        GLXFBConfig config = configs[i];
        if ((Attribute(display, config, GLX_RENDER_TYPE) & GLX_RGBA_BIT) &&
            (Attribute(display, config, GLX_DRAWABLE_TYPE) & GLX_WINDOW_BIT) &&
            Attribute(display, config, GLX_X_RENDERABLE) &&
            Attribute(display, config, GLX_LEVEL) == 0 &&
            Attribute(display, config, GLX_VISUAL_ID) != 0)
            usable.push_back(config);
    }
    if (configs)
        XFree(configs);
    return usable;
}

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

PIXELFORMATDESCRIPTOR Describe(Display* display, GLXFBConfig config)
{
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    const int drawables = Attribute(display, config, GLX_DRAWABLE_TYPE);
    pfd.dwFlags = PFD_SUPPORT_OPENGL;
    if (drawables & GLX_WINDOW_BIT)
        pfd.dwFlags |= PFD_DRAW_TO_WINDOW;
    if (drawables & GLX_PIXMAP_BIT)
        pfd.dwFlags |= PFD_DRAW_TO_BITMAP;
    if (Attribute(display, config, GLX_DOUBLEBUFFER))
        pfd.dwFlags |= PFD_DOUBLEBUFFER;
    if (Attribute(display, config, GLX_STEREO))
        pfd.dwFlags |= PFD_STEREO;
    if (Attribute(display, config, GLX_CONFIG_CAVEAT) == GLX_SLOW_CONFIG)
        pfd.dwFlags |= PFD_GENERIC_FORMAT;
    pfd.iPixelType = PFD_TYPE_RGBA;

    const int red = Attribute(display, config, GLX_RED_SIZE);
    const int green = Attribute(display, config, GLX_GREEN_SIZE);
    const int blue = Attribute(display, config, GLX_BLUE_SIZE);
    const int alpha = Attribute(display, config, GLX_ALPHA_SIZE);
    pfd.cColorBits = Byte(red + green + blue);  // without alpha, as the record counts it
    pfd.cRedBits = Byte(red);
    pfd.cGreenBits = Byte(green);
    pfd.cBlueBits = Byte(blue);
    pfd.cAlphaBits = Byte(alpha);
    if (XVisualInfo* visual = Glx().GetVisualFromFBConfig(display, config)) {
        const unsigned long colour = visual->red_mask | visual->green_mask | visual->blue_mask;
        pfd.cRedShift = Byte(visual->red_mask ? std::countr_zero(visual->red_mask) : 0);
        pfd.cGreenShift = Byte(visual->green_mask ? std::countr_zero(visual->green_mask) : 0);
        pfd.cBlueShift = Byte(visual->blue_mask ? std::countr_zero(visual->blue_mask) : 0);
        // Alpha sits in the bits above the colour channels.
        if (alpha > 0 && colour != 0)
            pfd.cAlphaShift = Byte(std::bit_width(colour));
        XFree(visual);
    }
    const int accumRed = Attribute(display, config, GLX_ACCUM_RED_SIZE);
    const int accumGreen = Attribute(display, config, GLX_ACCUM_GREEN_SIZE);
    const int accumBlue = Attribute(display, config, GLX_ACCUM_BLUE_SIZE);
    const int accumAlpha = Attribute(display, config, GLX_ACCUM_ALPHA_SIZE);
    pfd.cAccumBits = Byte(accumRed + accumGreen + accumBlue + accumAlpha);
    pfd.cAccumRedBits = Byte(accumRed);
    pfd.cAccumGreenBits = Byte(accumGreen);
    pfd.cAccumBlueBits = Byte(accumBlue);
    pfd.cAccumAlphaBits = Byte(accumAlpha);
    pfd.cDepthBits = Byte(Attribute(display, config, GLX_DEPTH_SIZE));
    pfd.cStencilBits = Byte(Attribute(display, config, GLX_STENCIL_SIZE));
    pfd.cAuxBuffers = Byte(Attribute(display, config, GLX_AUX_BUFFERS));
    pfd.iLayerType = 0;  // main plane
    return pfd;
}

bool Offscreen(HDC dc) { return dc && dc->Window().Offscreen(); }

TGLContext* FindContext(HGLRC context)
{
    for (const auto& owned : Wgl().Contexts)
        if (owned.get() == context)
            return owned.get();
    return nullptr;
}

} // namespace

HDC GetDC(HWND window) { return window ? &window->DC() : nullptr; }

bool ReleaseDC(HWND window, HDC dc) { return window && dc == &window->DC(); }

int wglDescribePixelFormat(HDC dc, int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd)
{
    if (Offscreen(dc))
        return egl::DescribePixelFormat(index, size, pfd);
    std::lock_guard lock(Wgl().Mutex);
    TGLDisplay* gl = GLDisplayOf(dc);
    if (!gl)
        return 0;
    const auto& formats = FormatsOf(*gl, dc->Screen());
    const int count = static_cast<int>(formats.size());
    if (index == 0 || !pfd)
        return count;
    if (index < 0 || index > count)
        return 0;
    const PIXELFORMATDESCRIPTOR described =
        Describe(gl->Connection->Get(), formats[static_cast<std::size_t>(index - 1)]);
    std::memcpy(pfd, &described, std::min<std::size_t>(size, sizeof described));
    return count;
}

int wglChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* pfd)
{
    constexpr std::uint32_t DoubleBufferDontCare = 0x40000000;
    constexpr std::uint32_t StereoDontCare = 0x80000000;
    if (!pfd)
        return 0;
    std::uint32_t required = pfd->dwFlags & (PFD_DRAW_TO_WINDOW | PFD_DRAW_TO_BITMAP |
                                             PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER | PFD_STEREO);
    std::uint32_t compared = PFD_DRAW_TO_WINDOW | PFD_DRAW_TO_BITMAP | PFD_SUPPORT_OPENGL |
                             PFD_DOUBLEBUFFER | PFD_STEREO;
    // Double buffering and stereo must match unless the caller does not care;
    // the other flags only have to be present when asked for.
    if (pfd->dwFlags & DoubleBufferDontCare)
        compared &= ~PFD_DOUBLEBUFFER;
    if (pfd->dwFlags & StereoDontCare)
        compared &= ~PFD_STEREO;
    const std::uint32_t exact = compared & (PFD_DOUBLEBUFFER | PFD_STEREO);

    const int count = wglDescribePixelFormat(dc, 0, 0, nullptr);
    int fallback = 0;
    for (int index = 1; index <= count; ++index) {
        PIXELFORMATDESCRIPTOR candidate{};
        wglDescribePixelFormat(dc, index, sizeof candidate, &candidate);
        if ((candidate.dwFlags & required) != (required & compared) ||
            (candidate.dwFlags & exact) != (required & exact))
            continue;
        if (fallback == 0)
            fallback = index;
        if (candidate.cColorBits >= pfd->cColorBits && candidate.cAlphaBits >= pfd->cAlphaBits &&
            candidate.cDepthBits >= pfd->cDepthBits &&
            candidate.cStencilBits >= pfd->cStencilBits &&
            candidate.cAccumBits >= pfd->cAccumBits)
            return index;
    }
    return fallback;
}

int wglGetPixelFormat(HDC dc) { return dc ? dc->PixelFormat.load() : 0; }

bool SetPixelFormat(HDC dc, int index, const PIXELFORMATDESCRIPTOR*)
{
    if (Offscreen(dc))
        return egl::SetPixelFormat(dc, index);
    std::lock_guard lock(Wgl().Mutex);
    TGLDisplay* gl = GLDisplayOf(dc);
    if (!gl)
        return false;
    const auto& formats = FormatsOf(*gl, dc->Screen());
    if (index < 1 || index > static_cast<int>(formats.size()))
        return false;
    const int current = dc->PixelFormat.load();
    if (current != 0)
        return current == index;

    const unsigned long visualId = static_cast<unsigned long>(Attribute(
        gl->Connection->Get(), formats[static_cast<std::size_t>(index - 1)], GLX_VISUAL_ID));
    if (!dc->Window().Recreate(visualId))
        return false;
    dc->PixelFormat = index;
    return true;
}

HGLRC wglCreateContext(HDC dc)
{
    if (Offscreen(dc)) {
        const int format = dc->PixelFormat.load();
        void* context = format != 0 ? egl::CreateContext(format) : nullptr;
        if (!context)
            return nullptr;
        auto owned = std::make_unique<TGLContext>();
        owned->DisplayName = dc->DisplayName();
        owned->OffscreenContext = context;
        owned->PixelFormat = format;
        std::lock_guard lock(Wgl().Mutex);
        Wgl().Contexts.push_back(std::move(owned));
        return Wgl().Contexts.back().get();
    }
    std::lock_guard lock(Wgl().Mutex);
    TGLDisplay* gl = GLDisplayOf(dc);
    const int format = dc ? dc->PixelFormat.load() : 0;
    if (!gl || format == 0)
        return nullptr;
    Display* display = gl->Connection->Get();
    GLXFBConfig config = FormatsOf(*gl, dc->Screen())[static_cast<std::size_t>(format - 1)];
    GLXContext context = nullptr;
    {
        TXErrorTrap trap(display);
        context = Glx().CreateNewContext(display, config, GLX_RGBA_TYPE, nullptr, True);
        if (trap.Failed() && context) {
            Glx().DestroyContext(display, context);
            context = nullptr;
        }
    }
    if (!context)
        return nullptr;
    auto owned = std::make_unique<TGLContext>();
    owned->DisplayName = dc->DisplayName();
    owned->Connection = display;
    owned->Context = context;
    owned->PixelFormat = format;
    Wgl().Contexts.push_back(std::move(owned));
    return Wgl().Contexts.back().get();
}

bool wglDeleteContext(HGLRC context)
{
    std::unique_ptr<TGLContext> doomed;
    {
        std::lock_guard lock(Wgl().Mutex);
        auto it = std::find_if(Wgl().Contexts.begin(), Wgl().Contexts.end(),
                               [&](const auto& owned) { return owned.get() == context; });
        if (it == Wgl().Contexts.end())
            return false;
        doomed = std::move(*it);
        Wgl().Contexts.erase(it);
    }
    if (doomed->OffscreenContext) {
        egl::DestroyContext(doomed->OffscreenContext);
        return true;
    }
    const TGlx& glx = Glx();
    // A context current on the calling thread stops being current first.
    if (glx.GetCurrentContext() == doomed->Context)
        glx.MakeContextCurrent(doomed->Connection, None, None, nullptr);
    glx.DestroyContext(doomed->Connection, doomed->Context);
    return true;
}

bool wglMakeCurrent(HDC dc, HGLRC context)
{
    const TGlx& glx = Glx();
    // A thread has one current context, whichever API made it.
    const auto releaseGlx = [&glx] {
        if (!glx.Loaded)
            return true;
        if (Display* current = glx.GetCurrentDisplay())
            return glx.MakeContextCurrent(current, None, None, nullptr) != False;
        return true;
    };
    if (!context) {
        egl::ReleaseCurrent();
        return releaseGlx();
    }
    TGLContext* target = nullptr;
    {
        std::lock_guard lock(Wgl().Mutex);
        target = FindContext(context);
    }
    // A context draws only into windows of the format it was made for.
    if (!target || !dc || dc->PixelFormat.load() != target->PixelFormat ||
        dc->DisplayName() != target->DisplayName || Offscreen(dc) != (target->OffscreenContext != nullptr))
        return false;
    if (target->OffscreenContext) {
        releaseGlx();
        return egl::MakeCurrent(dc, target->OffscreenContext);
    }
    egl::ReleaseCurrent();
    const GLXDrawable drawable = dc->Drawable();
    TXErrorTrap trap(target->Connection);
    const Bool made =
        glx.MakeContextCurrent(target->Connection, drawable, drawable, target->Context);
    return made && !trap.Failed();
}

PROC wglGetProcAddress(const char* name)
{
    if (egl::Current())
        return egl::GetProcAddress(name);
    const TGlx& glx = Glx();
    if (!glx.Loaded || !name)
        return nullptr;
    return glx.GetProcAddressARB(reinterpret_cast<const GLubyte*>(name));
}

bool wglSwapBuffers(HDC dc)
{
    if (!dc)
        return false;
    // An off-screen frame stays where it was drawn, to be read back.
    if (Offscreen(dc))
        return true;
    Display* display = nullptr;
    {
        std::lock_guard lock(Wgl().Mutex);
        TGLDisplay* gl = GLDisplayOf(dc);
        if (!gl)
            return false;
        display = gl->Connection->Get();
    }
    Glx().SwapBuffers(display, dc->Drawable());
    return true;
}

} // namespace vendrake
