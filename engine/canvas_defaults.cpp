#include "engine/renderer.h"

#include "scene/viewport.h"

namespace vendrake {

void SetCanvasDefaults(TgrCanvas& canvas)
{
    canvas.SetNear(0.2f);
    canvas.SetFar(1000.0f);
    canvas.SetFieldOfView(80.0f);
    canvas.SetDepthTest(true);
    canvas.SetUseViewport(true);
    canvas.SetAutoAspect(true);
}

} // namespace vendrake
