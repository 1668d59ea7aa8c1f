#pragma once
// The window-system binding of OpenGL in the shape the rest of the program
// expects: windows, their device contexts, pixel formats described by a
// 40-byte record, rendering contexts. Implemented over Xlib and GLX, and
// for off-screen windows (platform/x_window.h) over EGL.
#include <cstdint>

namespace vendrake {

struct TXWindow;        // a native window of the toolkit (platform/x_window.h)
struct TDeviceContext;  // the drawing handle of a window, stable for its life
struct TGLContext;      // a rendering context

using HWND = TXWindow*;
using HDC = TDeviceContext*;
using HGLRC = TGLContext*;
using PROC = void (*)();

// Byte-for-byte the classic pixel-format record: 40 bytes, no padding.
struct PIXELFORMATDESCRIPTOR {
    std::uint16_t nSize;
    std::uint16_t nVersion;
    std::uint32_t dwFlags;
    std::uint8_t iPixelType;
    std::uint8_t cColorBits;
    std::uint8_t cRedBits;
    std::uint8_t cRedShift;
    std::uint8_t cGreenBits;
    std::uint8_t cGreenShift;
    std::uint8_t cBlueBits;
    std::uint8_t cBlueShift;
    std::uint8_t cAlphaBits;
    std::uint8_t cAlphaShift;
    std::uint8_t cAccumBits;
    std::uint8_t cAccumRedBits;
    std::uint8_t cAccumGreenBits;
    std::uint8_t cAccumBlueBits;
    std::uint8_t cAccumAlphaBits;
    std::uint8_t cDepthBits;
    std::uint8_t cStencilBits;
    std::uint8_t cAuxBuffers;
    std::uint8_t iLayerType;
    std::uint8_t bReserved;
    std::uint32_t dwLayerMask;
    std::uint32_t dwVisibleMask;
    std::uint32_t dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

constexpr std::uint32_t PFD_DOUBLEBUFFER = 0x00000001;
constexpr std::uint32_t PFD_STEREO = 0x00000002;
constexpr std::uint32_t PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr std::uint32_t PFD_DRAW_TO_BITMAP = 0x00000008;
constexpr std::uint32_t PFD_SUPPORT_GDI = 0x00000010;
constexpr std::uint32_t PFD_SUPPORT_OPENGL = 0x00000020;
constexpr std::uint32_t PFD_GENERIC_FORMAT = 0x00000040;
constexpr std::uint32_t PFD_NEED_PALETTE = 0x00000080;
constexpr std::uint32_t PFD_NEED_SYSTEM_PALETTE = 0x00000100;
constexpr std::uint32_t PFD_SWAP_EXCHANGE = 0x00000200;
constexpr std::uint32_t PFD_SWAP_COPY = 0x00000400;
constexpr std::uint32_t PFD_SWAP_LAYER_BUFFERS = 0x00000800;
constexpr std::uint32_t PFD_GENERIC_ACCELERATED = 0x00001000;
constexpr std::uint8_t PFD_TYPE_RGBA = 0;

// Device contexts. GetDC returns the same handle for a window every time.
HDC GetDC(HWND window);
bool ReleaseDC(HWND window, HDC dc);

// Pixel formats are the usable GLX framebuffer configurations of the
// context's screen (RGBA, window-capable, with a visual), numbered from 1 in
// the order GLX lists them; on an off-screen window, the usable EGL configs
// (platform/wgl_egl.h). Describe returns their count; index 0 or a null
// record only counts.
int wglDescribePixelFormat(HDC dc, int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd);
int wglChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* pfd);
int wglGetPixelFormat(HDC dc);
// Fails for a bad index, or for a second, different format on one window.
bool SetPixelFormat(HDC dc, int index, const PIXELFORMATDESCRIPTOR* pfd);

HGLRC wglCreateContext(HDC dc);
bool wglDeleteContext(HGLRC context);
// wglMakeCurrent(nullptr, nullptr) releases the calling thread's context.
bool wglMakeCurrent(HDC dc, HGLRC context);
PROC wglGetProcAddress(const char* name);
bool wglSwapBuffers(HDC dc);

} // namespace vendrake
