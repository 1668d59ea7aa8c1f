#include "scene/device.h"

#include "platform/x_window.h"
#include "scene/gl_entry_points.h"

namespace vendrake {

std::int32_t CheckGLError(const char*)
{
    return 0;
}

namespace {

std::string DisplayOf(HDC dc)
{
    return dc ? dc->DisplayName() : DefaultDisplayName();
}

} // namespace

bool TgrPixelFormats::Enumerate(HDC dc)
{
    LoadOpenGL("OpenGL32.DLL", "GLU32.DLL");
    Clear();
    HWND probe = nullptr;
    if (!dc) {
        probe = CreateProbeWindow();
        dc = GetDC(probe);
    }
    const int count = gl.DescribePixelFormat ? gl.DescribePixelFormat(dc, 0, 0, nullptr) : 0;
    for (int index = 1; index <= count; ++index) {
        PIXELFORMATDESCRIPTOR d{};
        gl.DescribePixelFormat(dc, index, sizeof d, &d);
        Add(std::make_unique<TgrPixelFormat>(index, d));
    }
    if (probe) {
        ReleaseDC(probe, dc);
        DestroyWindow(probe);
    }
    return true;
}

TgrOpengl::~TgrOpengl()
{
    if (gl.wglMakeCurrent)
        ReleaseCurrent();
    if (RenderContext && gl.wglDeleteContext)
        DestroyContext(RenderContext);
    if (DeviceContext)
        ReleaseDC(Window, DeviceContext);
}

bool TgrOpengl::CreateContext(HWND window, const std::vector<std::uint8_t>& criteria)
{
    Window = window;
    DeviceContext = GetDC(window);
    if (!LoadOpenGL("opengl32.dll", "glu32.dll"))
        throw EGLDeviceError("cannot load OpenGL: " + LastOpenGLError());
    Formats.Enumerate(nullptr);
    if (!gl.glEnable)
        throw EGLDeviceError("cannot load OpenGL: " + LastOpenGLError());
    Formats.SortByCriteria(criteria);

    const TgrPixelFormat* chosen = Formats.Get(0);
    if (!chosen)
        throw EGLDeviceError("no OpenGL pixel format on display " + DisplayOf(DeviceContext));
    if (!gl.SetPixelFormat(DeviceContext, chosen->Index, &chosen->Descriptor))
        throw EGLDeviceError("cannot set OpenGL pixel format " + std::to_string(chosen->Index) +
                             " on display " + DisplayOf(DeviceContext));
    RenderContext = gl.wglCreateContext(DeviceContext);
    if (!RenderContext)
        throw EGLDeviceError("cannot create an OpenGL context on display " + DisplayOf(DeviceContext));
    if (!ActivateContext(DeviceContext, RenderContext))
        throw EGLDeviceError("cannot make the OpenGL context current on display " + DisplayOf(DeviceContext));
    ReadExtensions();
    gl.glEnable(GL_DEPTH_TEST);
    ReleaseCurrent();
    return true;
}

void TgrOpengl::setZBuffer(bool on)
{
    if (on) {
        gl.glEnable(GL_DEPTH_TEST);
        gl.glDepthMask(GL_TRUE);
    } else {
        gl.glDisable(GL_DEPTH_TEST);
        gl.glDepthMask(GL_FALSE);
    }
    CheckGLError("setZBuffer");
}

void TgrOpengl::setZReadOnly(bool readOnly)
{
    gl.glDepthMask(readOnly ? GL_FALSE : GL_TRUE);
}

void TgrOpengl::MakeCurrent()
{
    ActivateContext(DeviceContext, RenderContext);
}

void TgrOpengl::ReleaseCurrent()
{
    DeactivateContext();
}

void TgrOpengl::Swap()
{
    if (FinishBeforeSwap) {
        gl.glFlush();
        gl.glFinish();
    }
    gl.wglSwapBuffers(DeviceContext);
}

} // namespace vendrake
