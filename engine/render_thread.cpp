#include "engine/render_thread.h"

#include "platform/clock.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"

#include <string>

namespace vendrake {

namespace {

bool IsPainter(const std::string& effectType)
{
    static constexpr std::string_view Painter = "PAINTER";
    if (effectType.size() != Painter.size())
        return false;
    for (std::size_t i = 0; i < Painter.size(); ++i) {
        char c = effectType[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != Painter[i])
            return false;
    }
    return true;
}

// Ends the body's hold on the context however the body ends, so the main
// thread can take it back in StopThread.
class TContextRelease {
public:
    explicit TContextRelease(TgrOpengl* device) : FDevice(device) {}
    ~TContextRelease()
    {
        if (gl.glFinish)
            gl.glFinish();
        if (FDevice)
            FDevice->ReleaseCurrent();
    }
    TContextRelease(const TContextRelease&) = delete;
    TContextRelease& operator=(const TContextRelease&) = delete;

private:
    TgrOpengl* FDevice;
};

} // namespace

TRenderThread::TRenderThread() = default;

TRenderThread::~TRenderThread()
{
    Terminate();
    WaitFor();
}

void TRenderThread::ThreadMain()
{
    FTime = 0;
    FDelta = 0;
    FPainted.Clear();
    if (FDevice)
        FDevice->MakeCurrent();
    const TContextRelease release(FDevice);

    try {
        PaintFrames();
    } catch (...) {
        FPainted.Clear();
        // Whoever waits for the frames learns of it now, not at the next
        // stop: nothing else would end the run.
        if (FOnFailure)
            FOnFailure();
        throw;
    }
    FPainted.Clear();
}

void TRenderThread::PaintFrames()
{
    QueryPerformanceFrequency(&FFrequency);
    QueryPerformanceCounter(&FLastCount);
    if (FOnClockStart)
        FOnClockStart(FLastCount);
    while (!Terminated()) {
        FPainted.Clear();
        std::int64_t now = 0;
        QueryPerformanceCounter(&now);
        // The tick difference becomes a 32-bit float before the division;
        // the quotient is rounded to a 32-bit float again. Unsigned
        // subtraction keeps a counter that jumps from overflowing.
        const auto ticks = static_cast<std::int64_t>(static_cast<std::uint64_t>(now) -
                                                     static_cast<std::uint64_t>(FLastCount));
        const float elapsed = static_cast<float>(ticks);
        const float dt = static_cast<float>(double(elapsed) / double(FFrequency));
        FLastCount = now;
        FTime = FTime + dt * 100.0f;
        FDelta = dt * 100.0f;
        RenderFrame();
    }
}

void TRenderThread::RenderFrame()
{
    CheckGLError("RenderThread_0");
    gl.glClearColor(0, 0, 0, 1);
    gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    CheckGLError("RenderThread_1");
    // Take the request before handing the update over, so a resize that
    // arrives while the main thread reads the window is not lost.
    if (FResizePending.exchange(false))
        Synchronize([this] { UpdateViewport(); });
    CheckGLError("RenderThread_2");
    if (FCanvas)
        FCanvas->Action();
    CheckGLError("RenderThread_3");
    if (FEffects) {
        // By index, holding each effect, as the init pass does: an effect's
        // Render may reach back into the list.
        for (std::size_t i = 0; i < FEffects->Count(); ++i) {
            const TInternalEffectPtr effect = FEffects->Item(i);
            if (IsPainter(effect->EffectType()))
                PaintEffect(*effect);
        }
    }
    if (FDevice)
        FDevice->Swap();
    if (FOnFrame)
        FOnFrame();
    Sleep(0);
}

void TRenderThread::PaintEffect(TInternalEffect& Effect)
{
    if (FPainted.Contains(&Effect))
        return;
    // Marked before its inputs are visited, so a cycle of links ends here.
    FPainted.Add(TInternalEffectList::Unowned(Effect));
    const TPropertyInfoList& inputs = Effect.Properties();
    for (std::size_t i = 0; i < inputs.Count(); ++i) {
        const TPropertyInfo* link = inputs[i].Link;
        if (link && link->Owner)
            PaintEffect(*link->Owner);
    }
    Effect.Render(FTime, FDelta);
}

void TRenderThread::UpdateViewport()
{
    if (FCanvas)
        FCanvas->UpdateRectFromWindow();
}

} // namespace vendrake
