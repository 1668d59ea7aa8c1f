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
    const TgrTreePtr& child = GetChild(Selected);
    FPainted = child;
    if (child)
        child->Action();
    if (AutoRestore)
        RestoreState();
}

void TgrChooser::RestoreState()
{
    // Only the child that was painted has anything to undo: restoring the
    // others would pop what an ancestor pushed and run after-hooks whose
    // before-hooks never ran.
    if (const TgrTreePtr child = FPainted.lock(); child && !child->AutoRestore)
        child->RestoreState();
    FPainted.reset();
}

} // namespace vendrake
