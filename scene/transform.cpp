#include "scene/transform.h"

#include "stream/stream.h"
#include "scene/gl_entry_points.h"

namespace vendrake {

void TgrPositional::Action()
{
    if (CaptureMatrix)
        gl.glGetFloatv(GL_MODELVIEW_MATRIX, WorldMatrix.m.data());
    TgrTree::Action();
}

void TgrMatrixEdit::Action()
{
    if (PushMatrix)
        gl.glPushMatrix();
    ApplyTransform();
    TgrPositional::Action();
}

void TgrMatrixEdit::RestoreState()
{
    TgrTree::RestoreState();
    if (PushMatrix)
        gl.glPopMatrix();
}

bool TgrPRS::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    OwnerId = stream.ReadInt32();
    float f[10];
    stream.ReadBuffer(f, sizeof f);
    Position = TVector::Make(f[0], f[1], f[2]);
    Rotation = TQuaternion::Make(f[6], f[3], f[4], f[5]);
    Matrix = TQuaternion::ToMatrix(Rotation);
    Matrix[12] = Position.x;
    Matrix[13] = Position.y;
    Matrix[14] = Position.z;
    PushMatrix = true;
    AutoRestore = true;
    return true;
}

void TgrPRS::ApplyTransform()
{
    gl.glMultMatrixf(Matrix.data());
}

void TgrPRS::InvertMatrix()
{
    TMatrix::Invert(Matrix, Matrix);
}

} // namespace vendrake
