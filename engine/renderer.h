#pragma once
// TRenderer: owns the OpenGL device and the canvas, runs the init passes over
// the effects, and creates and stops the render thread.
//
// Order of use: construct; SetSurface; SetEffects; SetupDevice; further
// InitEffects passes as needed; CreateThread; Start. Between SetupDevice and
// Start the context is bound to the main thread only during an init pass;
// after Start it belongs to the render thread until StopThread.
#include "engine/effect_list.h"
#include "engine/render_thread.h"
#include "platform/wgl.h"

#include <exception>
#include <memory>

namespace vendrake {

class TCustomControl;
class TgrOpengl;
class TgrCanvas;

// The settings of the canvas every frame is painted through: near 0.2, far
// 1000, a vertical field of view of 80 degrees, depth test, and a viewport
// and aspect that follow its rectangle.
void SetCanvasDefaults(TgrCanvas& canvas);

class TRenderer {
public:
    // An empty effect list and no thread.
    TRenderer();
    // Stops the thread, then frees the canvas and the device.
    virtual ~TRenderer();
    TRenderer(const TRenderer&) = delete;
    TRenderer& operator=(const TRenderer&) = delete;

    // The drawing surface whose window carries the context; not owned.
    void SetSurface(TCustomControl* Surface) { FSurface = Surface; }
    TCustomControl* Surface() const { return FSurface; }
    // Replaces the effect list; the renderer shares it with the caller.
    void SetEffects(std::shared_ptr<TInternalEffectList> effects);
    const std::shared_ptr<TInternalEffectList>& Effects() const { return FEffects; }

    // Creates the device on the surface's window (pixel formats ranked by
    // the criterion codes 6, 2, 5, 0, 3, 7), then the canvas (SetupCanvas),
    // then runs the first init pass. Raises std::logic_error without a
    // surface and EGLDeviceError when the device cannot be made.
    void SetupDevice();
    // The same on a window of the caller's (a hidden or an off-screen one)
    // instead of the surface's; the canvas then takes that window's client
    // rectangle.
    void SetupDevice(HWND window);
    // Steps of SetupDevice after the device: a canvas on the surface with
    // near 0.2, far 1000, a vertical field of view of 80 degrees, depth test,
    // viewport and automatic aspect, and the window's rectangle read once.
    void SetupCanvas();
    // Uses a device whose context was made elsewhere (an off-screen set-up,
    // or a recording double) instead of creating one in SetupDevice.
    void SetDevice(std::unique_ptr<TgrOpengl> device);
    // An init pass: binds the context to the calling thread, calls Init(0)
    // on every effect in list order, releases the context (also when an
    // effect's Init raises).
    void InitEffects();

    // Creates the render thread suspended, with the renderer's device,
    // canvas and effects; does nothing when one exists.
    void CreateThread();
    // Lets the render thread run.
    void Start();
    // The window changed size: the render thread's next frame reads it
    // again. Nothing happens while there is no thread.
    void RequestResize();
    // Ends the render thread (one that never ran is resumed and ends at its
    // first loop test, painting nothing), waits for its body to end, frees
    // it, then finishes the GL work on the calling thread. On the main thread
    // the wait keeps running calls the render thread hands over, so it
    // cannot deadlock.
    void StopThread();
    // What the last render thread threw, kept by StopThread; null when it
    // ended normally.
    std::exception_ptr ThreadFailure() const { return FThreadFailure; }

    TgrOpengl* Device() const { return FDevice.get(); }
    TgrCanvas* Canvas() const { return FCanvas.get(); }
    TRenderThread* Thread() const { return FThread.get(); }

protected:
    // The render thread CreateThread makes; suspended.
    virtual std::unique_ptr<TRenderThread> NewThread();

    std::shared_ptr<TInternalEffectList> FEffects;
    std::unique_ptr<TgrOpengl> FDevice;
    std::unique_ptr<TgrCanvas> FCanvas;
    std::unique_ptr<TRenderThread> FThread;
    std::exception_ptr FThreadFailure;
    TCustomControl* FSurface = nullptr;
};

} // namespace vendrake
