#pragma once
// The WGL functions for off-screen windows, over EGL: Mesa's surfaceless
// platform, so no X server (or any other window system) is needed, and a
// pbuffer of the window's size as its drawing surface. Only platform/wgl.cpp
// calls these; everyone else goes through the WGL functions.
#include "platform/wgl.h"

namespace vendrake::egl {

// The usable configs: OpenGL, pbuffer, RGB with 8 bits a channel (what a
// 24-bit X screen offers, so a frame comes out as it does on the desktop).
// Same contract as wglDescribePixelFormat; 0 when EGL is missing.
int DescribePixelFormat(int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd);
// Makes the window's pbuffer with that config. False for a bad index or a
// second, different format.
bool SetPixelFormat(HDC dc, int index);

// An EGL context for the config, or null.
void* CreateContext(int pixelFormat);
// Releases it first when it is current on the calling thread.
void DestroyContext(void* context);
bool MakeCurrent(HDC dc, void* context);
// Releases the calling thread's EGL context; nothing when there is none.
void ReleaseCurrent();
// Whether the calling thread has an EGL context current.
bool Current();
PROC GetProcAddress(const char* name);

} // namespace vendrake::egl
