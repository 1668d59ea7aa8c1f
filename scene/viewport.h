#pragma once
// Viewport nodes: depth state, window viewport and projection. The renderer
// paints one canvas at the start of every frame; every camera of a scene is a
// viewport that replaces the projection with its own lens.
#include "scene/tree.h"

#include <cstdint>

namespace vendrake {

class TCanvas;

struct TgrRect {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TgrViewPort : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrViewPort, TgrTree)
public:
    TgrViewPort() = default;
    // Follows a window: UseViewport and AutoAspect on.
    explicit TgrViewPort(void* context);

    // Camera payload: node header, lens L (field of view L - L/4.5), far,
    // near, and four ignored bytes.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    void Action() override;
    virtual void ResetProjection();

    void SetRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    void SetCanvas(TCanvas* canvas) { Canvas = canvas; }
    void SetNear(float value) { Near = value; }
    void SetFar(float value) { Far = value; }
    void SetFieldOfView(float value) { FieldOfView = value; }
    void SetAspect(float value) { Aspect = value; }
    void SetDepthTest(bool value) { DepthTest = value; }
    void SetUseViewport(bool value) { UseViewport = value; }
    void SetAutoAspect(bool value) { AutoAspect = value; }
    // Takes the client rectangle of the canvas's window, moved to (0, 0).
    void UpdateRectFromWindow();

    TgrRect Rect;
    bool Ortho = false;
    float Far = 1000.0f;
    float Near = 1.0f;
    float FieldOfView = 60.0f;
    TCanvas* Canvas = nullptr;
    bool UseViewport = false;
    double DepthRangeNear = 0.0;
    double DepthRangeFar = 1.0;
    std::int32_t DepthFunc = 0x201; // GL_LESS
    bool DepthTest = true;
    bool DepthWrite = true;
    bool AutoAspect = false;
    float Aspect = 4.0f / 3.0f;
};

// The renderer's window-sized viewport.
class TgrCanvas : public TgrViewPort {
    VENDRAKE_NODE_CLASS(TgrCanvas, TgrViewPort)
public:
    using TgrViewPort::TgrViewPort;
};

} // namespace vendrake
