#pragma once
// TRenderThread: the one thread that paints. It takes the OpenGL context for
// its whole life and paints frame after frame until told to terminate,
// handing every effect the frame time in hundredths of a second.
#include "engine/effect_list.h"
#include "platform/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace vendrake {

class TgrOpengl;
class TgrCanvas;

class TRenderThread : public TThread {
public:
    // Created suspended; runs from Resume on.
    TRenderThread();
    // Stops the body first: it uses this object's fields.
    ~TRenderThread() override;

    // The renderer's objects, handed over before Resume; not owned.
    void SetDevice(TgrOpengl* device) { FDevice = device; }
    void SetCanvas(TgrCanvas* canvas) { FCanvas = canvas; }
    void SetEffects(std::shared_ptr<TInternalEffectList> effects) { FEffects = std::move(effects); }
    // Called on the render thread right after each swap (frame counters,
    // timing); set before Resume.
    void SetOnFrame(std::function<void()> handler) { FOnFrame = std::move(handler); }
    // Called on the render thread when the body fails (an effect's Render,
    // the viewport update, anything the frame loop throws), before the body
    // ends; the exception is then FatalException's. Set before Resume.
    void SetOnFailure(std::function<void()> handler) { FOnFailure = std::move(handler); }
    // Called on the render thread once, with the performance-counter reading
    // the frame clock counts from (its time 0), before the first frame; set
    // before Resume. Whatever must keep step with the pictures (the music)
    // takes its origin from here.
    void SetOnClockStart(std::function<void(std::int64_t origin)> handler) { FOnClockStart = std::move(handler); }

    // The thread body: binds the context, then measures and paints frames
    // until Terminated, then finishes and releases the context.
    void ThreadMain();
    // Main thread: the window changed size; the next frame has the main
    // thread read the canvas's rectangle again.
    void RequestResize() { FResizePending = true; }
    // One frame: clear, pending viewport update, canvas, every painter
    // effect after its inputs, swap, yield.
    void RenderFrame();
    // Paints Effect once per frame, after the effects its inputs are linked
    // to; a cycle of links ends at an effect already painted this frame.
    void PaintEffect(TInternalEffect& Effect);

    // The accumulated time and the last frame's duration, in hundredths of a
    // second. Read them only while the body is not running.
    float Time() const { return FTime; }
    float Delta() const { return FDelta; }
    bool ResizePending() const { return FResizePending; }

protected:
    void Execute() override { ThreadMain(); }
    // The frame loop of ThreadMain: times and paints frames until Terminated.
    void PaintFrames();
    // Runs on the main thread while the render thread waits for it.
    virtual void UpdateViewport();

    TgrOpengl* FDevice = nullptr;
    TgrCanvas* FCanvas = nullptr;
    std::shared_ptr<TInternalEffectList> FEffects;
    // The effects painted in the current frame, held without owning them:
    // the effect list (or a linking property's owner) keeps them alive.
    TInternalEffectList FPainted;
    // The only flag the two threads share: set by the main thread, taken by
    // the render thread.
    std::atomic<bool> FResizePending{false};
    std::int64_t FFrequency = 0;
    std::int64_t FLastCount = 0;
    float FTime = 0;
    float FDelta = 0;
    std::function<void()> FOnFrame;
    std::function<void()> FOnFailure;
    std::function<void(std::int64_t)> FOnClockStart;
};

} // namespace vendrake
