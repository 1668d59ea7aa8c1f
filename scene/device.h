#pragma once
// The OpenGL device: binds a rendering context to a window with the pixel
// format ranked first by a list of criterion codes, and makes it current,
// releases it and presents frames.
#include "platform/wgl.h"
#include "scene/pixel_format.h"
#include "scene/tree.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

// The device cannot work: no OpenGL library, no pixel format, no context.
class EGLDeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The labelled error check painting code calls at fixed points
// ("TgrPrimitive.Action", "RenderThread_0", ...). It is switched off: it
// returns 0 (success) at once and queries nothing.
std::int32_t CheckGLError(const char* label);

class TgrDevice : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrDevice, TgrTree)
public:
    virtual bool getZBuffer() { return false; }
    virtual void setZBuffer(bool) {}
    virtual bool getZReadOnly() { return false; }
    virtual void setZReadOnly(bool) {}
    virtual void MakeCurrent() = 0;
    virtual void ReleaseCurrent() = 0;
    virtual void Swap() {}
};

class TgrOpengl : public TgrDevice {
    VENDRAKE_NODE_CLASS(TgrOpengl, TgrDevice)
public:
    TgrOpengl() = default;
    // Releases the context, deletes it and gives the device context back.
    ~TgrOpengl() override;

    // Loads OpenGL, enumerates the driver's pixel formats, sorts them by each
    // code in turn (the last code is the primary key), sets the first on the
    // window, creates the context, reads the extensions and enables the depth
    // test. Returns with the context released. Raises EGLDeviceError when the
    // libraries cannot be loaded, no pixel format exists or none can be set,
    // or the new context cannot be made current.
    bool CreateContext(HWND window, const std::vector<std::uint8_t>& criteria);

    bool getZBuffer() override { return false; } // not tracked
    void setZBuffer(bool on) override;
    bool getZReadOnly() override { return false; } // not tracked
    void setZReadOnly(bool readOnly) override;
    void MakeCurrent() override;
    void ReleaseCurrent() override;
    void Swap() override;

    TgrPixelFormats Formats;
    HGLRC RenderContext = nullptr;
    HWND Window = nullptr;
    HDC DeviceContext = nullptr;
    bool FinishBeforeSwap = false;
};

} // namespace vendrake
