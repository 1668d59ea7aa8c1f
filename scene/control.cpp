#include "scene/control.h"

#include "scene/gl_entry_points.h"

namespace vendrake {

void TgrBlend::Action()
{
    gl.glPushAttrib(GL_COLOR_BUFFER_BIT);
    gl.glEnable(GL_BLEND);
    gl.glBlendFunc(static_cast<GLenum>(SourceFactor), static_cast<GLenum>(DestFactor));
    TgrTree::Action();
}

void TgrBlend::RestoreState()
{
    TgrTree::RestoreState();
    gl.glPopAttrib();
}

void TgrCallback::Action()
{
    if (OnBefore)
        OnBefore();
    TgrTree::Action();
}

void TgrCallback::RestoreState()
{
    TgrTree::RestoreState();
    if (OnAfter)
        OnAfter();
}

void TgrChooser::Action()
{
    if (const TgrTreePtr& child = GetChild(Selected))
        child->Action();
    if (AutoRestore)
        RestoreState();
}

} // namespace vendrake
