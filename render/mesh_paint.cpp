// TgrPrimitive painting: Action, the five paint routines and display lists.
// These run every frame for every mesh, so they allocate nothing and hand
// OpenGL the interleaved buffer as it stands.
#include "render/mesh.h"

#include "scene/device.h"
#include "scene/gl_entry_points.h"

namespace vendrake {

namespace {

// Every attribute group of OpenGL 1.1; the normal lines change colour,
// texturing and lighting and put all of it back.
constexpr GLbitfield AllAttribBits = 0x000FFFFF;

// Length of the normal lines in model units.
constexpr float NormalLineLength = 5.0f;

} // namespace

void TgrPrimitive::Action()
{
    // Read once so the disable always matches the enable.
    const bool arrayRange = glExtensions.NV_vertex_array_range;
    if (arrayRange)
        gl.glEnableClientState(GL_VERTEX_ARRAY_RANGE_NV);
    if (Enabled) {
        if (FDisplayList != 0)
            gl.glCallList(FDisplayList);
        else if (PaintMethod)
            (this->*PaintMethod)(*this);
        else
            PaintPlain(*this);
    }
    if (arrayRange)
        gl.glDisableClientState(GL_VERTEX_ARRAY_RANGE_NV);
    if (PaintChildren)
        TgrPositional::Action();
    CheckGLError("TgrPrimitive.Action");
}

void TgrPrimitive::PaintPlain(TgrPrimitive&)
{
    const std::uint32_t f = FFlags;
    if (f & (TMeshFlag::ColorRGB | TMeshFlag::ColorRGBA))
        gl.glEnable(GL_COLOR_MATERIAL);
    gl.glBegin(GL_TRIANGLES);
    // A zero stride means the flags give the records nothing to send.
    if (FStride > 0) {
        const bool secondSet = (f & TMeshFlag::TexCoord2(1)) && gl.glMultiTexCoord2fvARB;
        const float* r = FVertices.data();
        for (std::int32_t i = 0; i < FVertexCount; ++i, r += FStride) {
            if (f & TMeshFlag::Normal)
                gl.glNormal3fv(r + FNormalOffset);
            if (f & TMeshFlag::ColorRGB)
                gl.glColor3fv(r + FColorOffset);
            else if (f & TMeshFlag::ColorRGBA)
                gl.glColor4fv(r + FColorOffset);
            if (f & TMeshFlag::TexCoord2(0))
                gl.glTexCoord2fv(r + FTexCoordOffsets[0]);
            else if (f & TMeshFlag::TexCoord3(0))
                gl.glTexCoord3fv(r + FTexCoordOffsets[0]);
            if (secondSet)
                gl.glMultiTexCoord2fvARB(GL_TEXTURE1_ARB, r + FTexCoordOffsets[1]);
            if (f & TMeshFlag::Position4)
                gl.glVertex4fv(r + FPositionOffset);
            else if (f & TMeshFlag::Position3)
                gl.glVertex3fv(r + FPositionOffset);
            else if (f & TMeshFlag::Position2)
                gl.glVertex2fv(r + FPositionOffset);
        }
    }
    gl.glEnd();
    CheckGLError("TgrPrimitive.PaintPlain");
}

void TgrPrimitive::SetClientArrays(const char* label, bool exactTexCoords)
{
    const auto stride = static_cast<GLsizei>(FStride * sizeof(float));
    // A mesh without vertices has no buffer to point into (and the GL reads
    // nothing through these pointers then).
    auto field = [this](std::int32_t offset) -> const float* {
        return FVertices.empty() ? nullptr : FVertices.data() + offset;
    };
    const std::uint32_t f = FFlags;

    gl.glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    gl.glEnableClientState(GL_VERTEX_ARRAY);
    gl.glVertexPointer(PositionSize(), GL_FLOAT, stride, field(FPositionOffset));
    CheckGLError(label);

    GLint texSize = 0;
    if (f & TMeshFlag::TexCoord2(0))
        texSize = 2;
    else if (f & TMeshFlag::TexCoord3(0))
        texSize = exactTexCoords ? 3 : 2;
    if (texSize > 0) {
        gl.glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        gl.glTexCoordPointer(texSize, GL_FLOAT, stride, field(FTexCoordOffsets[0]));
    }
    if (f & TMeshFlag::Normal) {
        gl.glEnableClientState(GL_NORMAL_ARRAY);
        gl.glNormalPointer(GL_FLOAT, stride, field(FNormalOffset));
    }
    const GLint colorSize = (f & TMeshFlag::ColorRGBA) ? 4 : (f & TMeshFlag::ColorRGB) ? 3 : 0;
    if (colorSize > 0) {
        // Stays enabled after the routine: the colours feed the material.
        gl.glEnableClientState(GL_COLOR_ARRAY);
        gl.glEnable(GL_COLOR_MATERIAL);
        gl.glColorPointer(colorSize, GL_FLOAT, stride, field(FColorOffset));
    }
}

void TgrPrimitive::PaintFakeArray(TgrPrimitive&)
{
    if (!CanDrawArrays())
        return;
    SetClientArrays("TgrPrimitive.PaintFakeArray", false);
    gl.glDrawArrays(GL_TRIANGLES, 0, FVertexCount);
    gl.glPopClientAttrib();
    CheckGLError("TgrPrimitive.PaintFakeArray");
}

void TgrPrimitive::PaintVertexArray(TgrPrimitive&)
{
    if (!CanDrawArrays() || !IndicesInRange())
        return;
    SetClientArrays("TgrPrimitive.PaintVertexArray", false);
    gl.glDrawElements(GL_TRIANGLES, FIndexCount, GL_UNSIGNED_INT, FIndices.data());
    gl.glPopClientAttrib();
    // Only records that carry a normal have one to show.
    if (FFlags & TMeshFlag::Normal)
        DrawNormalLines();
    CheckGLError("TgrPrimitive.PaintVertexArray");
}

void TgrPrimitive::DrawNormalLines()
{
    gl.glPushAttrib(AllAttribBits);
    gl.glColor3f(1, 1, 1);
    gl.glDisable(GL_TEXTURE_CUBE_MAP_ARB);
    gl.glDisable(GL_LIGHTING);
    gl.glBegin(GL_LINES);
    const float* r = FVertices.data();
    for (std::int32_t i = 0; i < FVertexCount; ++i, r += FStride) {
        const float* p = r + FPositionOffset;
        const float* n = r + FNormalOffset;
        gl.glVertex3fv(p);
        gl.glVertex3f(p[0] + NormalLineLength * n[0], p[1] + NormalLineLength * n[1],
                      p[2] + NormalLineLength * n[2]);
    }
    gl.glEnd();
    gl.glPopAttrib();
}

void TgrPrimitive::DrawFace(const TgrMeshFace& face)
{
    if (FaceInRange(face))
        gl.glDrawElements(static_cast<GLenum>(face.Mode), face.Count, GL_UNSIGNED_INT,
                          FIndices.data() + face.FirstIndex);
}

void TgrPrimitive::DrawFaces(bool withMaterials, const char* startLabel, const char* endLabel)
{
    if (!CanDrawArrays() || !IndicesInRange())
        return;
    SetClientArrays(startLabel, true);
    const TgrTree* materials = withMaterials ? FMaterials.get() : nullptr;
    if (!materials) {
        for (const TgrMeshFace& face : FFaces)
            DrawFace(face);
    } else {
        // Consecutive faces with one material apply it once. A material the
        // tree no longer holds is neither painted nor restored.
        std::int32_t current = -1;
        for (const TgrMeshFace& face : FFaces) {
            if (face.MaterialIndex != current) {
                if (current >= 0)
                    if (const TgrTreePtr& m = materials->GetChild(current))
                        m->RestoreState();
                if (const TgrTreePtr& m = materials->GetChild(face.MaterialIndex))
                    m->Action();
                current = face.MaterialIndex;
            }
            DrawFace(face);
        }
        if (current >= 0)
            if (const TgrTreePtr& m = materials->GetChild(current))
                m->RestoreState();
    }
    gl.glPopClientAttrib();
    CheckGLError(endLabel);
}

void TgrPrimitive::PaintFaces(TgrPrimitive&)
{
    DrawFaces(false, "TgrPrimitive.PaintFaces_0", "TgrPrimitive.PaintFaces_1");
}

void TgrPrimitive::PaintMaterialFaces(TgrPrimitive&)
{
    DrawFaces(true, "TgrPrimitive.PaintMaterialFaces_0", "TgrPrimitive.PaintMaterialFaces_1");
}

TgrPrimitive::~TgrPrimitive()
{
    if (FDisplayList != 0 && FListContext != 0 && FListContext == CurrentContextId() && gl.glDeleteLists)
        gl.glDeleteLists(FDisplayList, 1);
}

bool TgrPrimitive::BuildList()
{
    // The list holds the mesh's own painting; the children stay live.
    PaintChildren = false;
    const GLuint list = gl.glGenLists(1);
    gl.glNewList(list, GL_COMPILE);
    Action();
    gl.glEndList();
    FDisplayList = list;
    FListContext = CurrentContextId();
    PaintChildren = true;
    return FDisplayList != 0;
}

bool TgrPrimitive::DeleteList()
{
    gl.glDeleteLists(FDisplayList, 1);
    FDisplayList = 0;
    return true;
}

} // namespace vendrake
