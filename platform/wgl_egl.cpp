#include "platform/wgl_egl.h"

#include "platform/x_window.h"

// Native types as plain handles, without Xlib.
#define EGL_NO_X11
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace vendrake::egl {

namespace {

// Like GLX, EGL comes from a library opened at run time and kept for the
// life of the process. With the system's dispatching libGL, the core entry
// points the table takes from libGL then reach whichever context EGL made
// current.
struct TEgl {
    PFNEGLGETPROCADDRESSPROC GetProcAddress = nullptr;
    PFNEGLQUERYSTRINGPROC QueryString = nullptr;
    PFNEGLINITIALIZEPROC Initialize = nullptr;
    PFNEGLGETCONFIGSPROC GetConfigs = nullptr;
    PFNEGLGETCONFIGATTRIBPROC GetConfigAttrib = nullptr;
    PFNEGLBINDAPIPROC BindAPI = nullptr;
    PFNEGLCREATECONTEXTPROC CreateContext = nullptr;
    PFNEGLDESTROYCONTEXTPROC DestroyContext = nullptr;
    PFNEGLCREATEPBUFFERSURFACEPROC CreatePbufferSurface = nullptr;
    PFNEGLDESTROYSURFACEPROC DestroySurface = nullptr;
    PFNEGLMAKECURRENTPROC MakeCurrent = nullptr;
    PFNEGLGETCURRENTCONTEXTPROC GetCurrentContext = nullptr;
    PFNEGLGETCURRENTDISPLAYPROC GetCurrentDisplay = nullptr;
    PFNEGLGETPLATFORMDISPLAYEXTPROC GetPlatformDisplay = nullptr;
    EGLDisplay Display = EGL_NO_DISPLAY;
    std::vector<EGLConfig> Formats; // the usable configs, in EGL's order
};

template <typename F>
bool Bind(void* library, F& function, const char* name)
{
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

bool Listed(const char* list, std::string_view name)
{
    std::string_view rest = list ? list : "";
    while (!rest.empty()) {
        const auto space = rest.find(' ');
        if (rest.substr(0, space) == name)
            return true;
        if (space == std::string_view::npos)
            break;
        rest.remove_prefix(space + 1);
    }
    return false;
}

std::atomic<bool> Opened{false}; // the library is loaded: Current may ask it

int Attribute(const TEgl& egl, EGLConfig config, EGLint attribute)
{
    EGLint value = 0;
    return egl.GetConfigAttrib(egl.Display, config, attribute, &value) ? value : 0;
}

void FindFormats(TEgl& egl)
{
    EGLint count = 0;
    if (!egl.GetConfigs(egl.Display, nullptr, 0, &count) || count <= 0)
        return;
    std::vector<EGLConfig> configs(static_cast<std::size_t>(count));
    if (!egl.GetConfigs(egl.Display, configs.data(), count, &count))
        return;
    configs.resize(static_cast<std::size_t>(std::max(count, 0)));
    for (EGLConfig config : configs) {
        if ((Attribute(egl, config, EGL_RENDERABLE_TYPE) & EGL_OPENGL_BIT) &&
            (Attribute(egl, config, EGL_SURFACE_TYPE) & EGL_PBUFFER_BIT) &&
            Attribute(egl, config, EGL_COLOR_BUFFER_TYPE) == EGL_RGB_BUFFER &&
            Attribute(egl, config, EGL_RED_SIZE) == 8 && Attribute(egl, config, EGL_GREEN_SIZE) == 8 &&
            Attribute(egl, config, EGL_BLUE_SIZE) == 8)
            egl.Formats.push_back(config);
    }
}

// Loaded and initialised on first use; a machine without EGL or without the
// surfaceless platform simply has no formats.
TEgl& Egl()
{
    static TEgl* const egl = [] {
        auto e = std::make_unique<TEgl>();
        void* library = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return e.release();
        const bool bound = Bind(library, e->GetProcAddress, "eglGetProcAddress") &&
                           Bind(library, e->QueryString, "eglQueryString") &&
                           Bind(library, e->Initialize, "eglInitialize") &&
                           Bind(library, e->GetConfigs, "eglGetConfigs") &&
                           Bind(library, e->GetConfigAttrib, "eglGetConfigAttrib") &&
                           Bind(library, e->BindAPI, "eglBindAPI") &&
                           Bind(library, e->CreateContext, "eglCreateContext") &&
                           Bind(library, e->DestroyContext, "eglDestroyContext") &&
                           Bind(library, e->CreatePbufferSurface, "eglCreatePbufferSurface") &&
                           Bind(library, e->DestroySurface, "eglDestroySurface") &&
                           Bind(library, e->MakeCurrent, "eglMakeCurrent") &&
                           Bind(library, e->GetCurrentContext, "eglGetCurrentContext") &&
                           Bind(library, e->GetCurrentDisplay, "eglGetCurrentDisplay");
        if (!bound)
            return e.release();
        Opened = true;
        if (!Listed(e->QueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), "EGL_MESA_platform_surfaceless"))
            return e.release();
        e->GetPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(e->GetProcAddress("eglGetPlatformDisplayEXT"));
        if (!e->GetPlatformDisplay)
            return e.release();
        EGLDisplay display = e->GetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (display == EGL_NO_DISPLAY || !e->Initialize(display, &major, &minor) ||
            !Listed(e->QueryString(display, EGL_CLIENT_APIS), "OpenGL"))
            return e.release();
        e->Display = display;
        FindFormats(*e);
        return e.release();
    }();
    return *egl;
}

std::mutex Mutex;

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

PIXELFORMATDESCRIPTOR Describe(const TEgl& egl, EGLConfig config)
{
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    // A pbuffer has one colour buffer: not double-buffered.
    pfd.dwFlags = PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW;
    if (Attribute(egl, config, EGL_CONFIG_CAVEAT) == EGL_SLOW_CONFIG)
        pfd.dwFlags |= PFD_GENERIC_FORMAT;
    pfd.iPixelType = PFD_TYPE_RGBA;
    const int red = Attribute(egl, config, EGL_RED_SIZE);
    const int green = Attribute(egl, config, EGL_GREEN_SIZE);
    const int blue = Attribute(egl, config, EGL_BLUE_SIZE);
    const int alpha = Attribute(egl, config, EGL_ALPHA_SIZE);
    pfd.cColorBits = Byte(red + green + blue);
    pfd.cRedBits = Byte(red);
    pfd.cGreenBits = Byte(green);
    pfd.cBlueBits = Byte(blue);
    pfd.cAlphaBits = Byte(alpha);
    // Laid out as a 24-bit screen's pixels: blue lowest, alpha on top.
    pfd.cBlueShift = 0;
    pfd.cGreenShift = Byte(blue);
    pfd.cRedShift = Byte(blue + green);
    pfd.cAlphaShift = Byte(alpha > 0 ? red + green + blue : 0);
    pfd.cDepthBits = Byte(Attribute(egl, config, EGL_DEPTH_SIZE));
    pfd.cStencilBits = Byte(Attribute(egl, config, EGL_STENCIL_SIZE));
    return pfd;
}

EGLConfig FormatAt(const TEgl& egl, int index)
{
    return index >= 1 && index <= static_cast<int>(egl.Formats.size())
               ? egl.Formats[static_cast<std::size_t>(index - 1)]
               : nullptr;
}

} // namespace

int DescribePixelFormat(int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd)
{
    std::lock_guard lock(Mutex);
    const TEgl& egl = Egl();
    const int count = static_cast<int>(egl.Formats.size());
    if (index == 0 || !pfd)
        return count;
    EGLConfig config = FormatAt(egl, index);
    if (!config)
        return 0;
    const PIXELFORMATDESCRIPTOR described = Describe(egl, config);
    std::memcpy(pfd, &described, std::min<std::size_t>(size, sizeof described));
    return count;
}

bool SetPixelFormat(HDC dc, int index)
{
    std::lock_guard lock(Mutex);
    const TEgl& egl = Egl();
    EGLConfig config = FormatAt(egl, index);
    if (!dc || !config)
        return false;
    const int current = dc->PixelFormat.load();
    if (current != 0)
        return current == index;
    const EGLint attributes[] = {EGL_WIDTH, dc->Window().Width(), EGL_HEIGHT, dc->Window().Height(), EGL_NONE};
    EGLSurface surface = egl.CreatePbufferSurface(egl.Display, config, attributes);
    if (surface == EGL_NO_SURFACE)
        return false;
    const auto destroy = egl.DestroySurface;
    EGLDisplay display = egl.Display;
    dc->OffscreenSurface = std::shared_ptr<void>(surface, [destroy, display](void* s) { destroy(display, s); });
    dc->PixelFormat = index;
    return true;
}

void* CreateContext(int pixelFormat)
{
    std::lock_guard lock(Mutex);
    const TEgl& egl = Egl();
    EGLConfig config = FormatAt(egl, pixelFormat);
    if (!config || !egl.BindAPI(EGL_OPENGL_API))
        return nullptr;
    EGLContext context = egl.CreateContext(egl.Display, config, EGL_NO_CONTEXT, nullptr);
    return context == EGL_NO_CONTEXT ? nullptr : context;
}

void DestroyContext(void* context)
{
    const TEgl& egl = Egl();
    if (!context || egl.Display == EGL_NO_DISPLAY)
        return;
    if (egl.GetCurrentContext() == context)
        egl.MakeCurrent(egl.Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    egl.DestroyContext(egl.Display, context);
}

bool MakeCurrent(HDC dc, void* context)
{
    const TEgl& egl = Egl();
    if (!dc || !dc->OffscreenSurface || !context || egl.Display == EGL_NO_DISPLAY)
        return false;
    // The API is the calling thread's, so it is bound on every thread that
    // makes a context current.
    EGLSurface surface = dc->OffscreenSurface.get();
    return egl.BindAPI(EGL_OPENGL_API) && egl.MakeCurrent(egl.Display, surface, surface, context);
}

void ReleaseCurrent()
{
    if (!Opened)
        return;
    const TEgl& egl = Egl();
    if (egl.GetCurrentContext() == EGL_NO_CONTEXT)
        return;
    egl.MakeCurrent(egl.GetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

bool Current()
{
    return Opened && Egl().GetCurrentContext() != EGL_NO_CONTEXT;
}

PROC GetProcAddress(const char* name)
{
    const TEgl& egl = Egl();
    return egl.GetProcAddress && name ? egl.GetProcAddress(name) : nullptr;
}

} // namespace vendrake::egl
