#include "scene/viewport.h"

#include "stream/stream.h"
#include "platform/form.h"
#include "platform/x_window.h"
#include "scene/gl_entry_points.h"

namespace vendrake {

TgrViewPort::TgrViewPort(void* context) : TgrTree(context)
{
    UseViewport = true;
    AutoAspect = true;
}

bool TgrViewPort::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    ReadNodeHeader(stream);
    const float lens = stream.ReadSingle();
    FieldOfView = static_cast<float>(double(lens) - double(lens) / 4.5);
    Far = stream.ReadSingle();
    Near = stream.ReadSingle();
    stream.ReadInt32(); // no meaning
    return true;
}

void TgrViewPort::SetRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom)
{
    Rect = {left, top, right, bottom};
}

void TgrViewPort::UpdateRectFromWindow()
{
    if (!Canvas)
        return;
    RECT r{};
    GetClientRect(Canvas->Window(), &r);
    Rect = {0, 0, r.right - r.left, r.bottom - r.top};
}

void TgrViewPort::ResetProjection()
{
    gl.glLoadIdentity();
}

void TgrViewPort::Action()
{
    gl.glDepthRange(DepthRangeNear, DepthRangeFar);
    gl.glDepthFunc(static_cast<GLenum>(DepthFunc));
    if (DepthTest)
        gl.glEnable(GL_DEPTH_TEST);
    else
        gl.glDisable(GL_DEPTH_TEST);
    gl.glDepthMask(DepthWrite ? GL_TRUE : GL_FALSE);
    // A degenerate rectangle (a minimised window) keeps the previous viewport
    // and aspect.
    if (Rect.Left != Rect.Right && Rect.Top != Rect.Bottom) {
        if (UseViewport)
            gl.glViewport(Rect.Left, Rect.Top, Rect.Right, Rect.Bottom);
        if (AutoAspect)
            Aspect = static_cast<float>(double(Rect.Right) / double(Rect.Bottom));
    }
    gl.glMatrixMode(GL_PROJECTION);
    ResetProjection();
    if (Ortho)
        gl.glOrtho(Rect.Left, Rect.Right, Rect.Bottom, Rect.Top, Near, Far);
    else
        gl.gluPerspective(FieldOfView, Aspect, Near, Far);
    gl.glMatrixMode(GL_MODELVIEW);
    TgrTree::Action();
}

} // namespace vendrake
