#include "engine/renderer.h"

#include "platform/form.h"
#include "platform/x_window.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"

#include <stdexcept>

namespace vendrake {

TRenderer::TRenderer() : FEffects(std::make_shared<TInternalEffectList>()) {}

TRenderer::~TRenderer()
{
    StopThread();
    FCanvas.reset();
    FDevice.reset();
}

void TRenderer::SetEffects(std::shared_ptr<TInternalEffectList> effects)
{
    FEffects = effects ? std::move(effects) : std::make_shared<TInternalEffectList>();
}

void TRenderer::SetupDevice()
{
    if (!FSurface)
        throw std::logic_error("TRenderer.SetupDevice: no drawing surface set");
    SetupDevice(FSurface->Handle());
}

void TRenderer::SetupDevice(HWND window)
{
    auto device = std::make_unique<TgrOpengl>();
    device->FinishBeforeSwap = false;
    FDevice = std::move(device);
    // Double-buffered first, then accelerated, then with depth, then the
    // most stencil, colour and alpha bits.
    FDevice->CreateContext(window, {6, 2, 5, 0, 3, 7});
    SetupCanvas();
    if (!FSurface) {
        RECT client{};
        GetClientRect(window, &client);
        FCanvas->SetRect(0, 0, client.right, client.bottom);
    }
    InitEffects();
}

void TRenderer::SetupCanvas()
{
    FCanvas = std::make_unique<TgrCanvas>();
    FCanvas->SetCanvas(FSurface ? &FSurface->Canvas() : nullptr);
    SetCanvasDefaults(*FCanvas);
    FCanvas->UpdateRectFromWindow();
}

void TRenderer::SetDevice(std::unique_ptr<TgrOpengl> device)
{
    FDevice = std::move(device);
}

void TRenderer::InitEffects()
{
    if (!FDevice)
        throw std::logic_error("TRenderer.InitEffects: no device; SetupDevice first");
    FDevice->MakeCurrent();
    struct TRelease {
        TgrOpengl& Device;
        ~TRelease() { Device.ReleaseCurrent(); }
    } release{*FDevice};
    // By index, holding each effect: an Init may reach back into the list.
    for (std::size_t i = 0; i < FEffects->Count(); ++i) {
        const TInternalEffectPtr effect = FEffects->Item(i);
        effect->Init(0);
    }
}

std::unique_ptr<TRenderThread> TRenderer::NewThread()
{
    return std::make_unique<TRenderThread>();
}

void TRenderer::CreateThread()
{
    if (FThread)
        return;
    FThread = NewThread();
    FThread->SetDevice(FDevice.get());
    FThread->SetCanvas(FCanvas.get());
    FThread->SetEffects(FEffects);
}

void TRenderer::Start()
{
    if (FThread)
        FThread->Resume();
}

void TRenderer::RequestResize()
{
    if (FThread)
        FThread->RequestResize();
}

void TRenderer::StopThread()
{
    if (!FThread)
        return;
    // The request comes before the resume, so a thread that never ran ends
    // at its first loop test instead of racing the request for a frame.
    FThread->Terminate();
    if (FThread->Suspended())
        FThread->Resume();
    FThread->WaitFor();
    FThreadFailure = FThread->FatalException();
    FThread.reset();
    if (FDevice) {
        FDevice->MakeCurrent();
        if (gl.glFinish)
            gl.glFinish();
        FDevice->ReleaseCurrent();
    }
}

} // namespace vendrake
