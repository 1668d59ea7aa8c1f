#include "render/material.h"

#include "stream/stream.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"

#include <array>
#include <string>

namespace vendrake {

static_assert(GL_FRONT_AND_BACK == 0x0408 && GL_SMOOTH == 0x1D01 && GL_FILL == 0x1B02,
              "material defaults are spelt as numbers in the header");

namespace {

constexpr std::int64_t RecordSize = 96;

std::array<GLfloat, 4> Components(TVector4 v) { return {v.x, v.y, v.z, v.w}; }

TVector4 ReadColor(TStream& stream)
{
    TVector4 c;
    c.x = stream.ReadSingle();
    c.y = stream.ReadSingle();
    c.z = stream.ReadSingle();
    c.w = stream.ReadSingle();
    return c;
}

} // namespace

bool TgrMaterial::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    ReadNodeHeader(stream);

    const std::int64_t recordAt = stream.Position();
    if (const std::int64_t left = stream.Remaining(); left < RecordSize)
        stream.RaiseReadError(recordAt, "material record needs " + std::to_string(RecordSize) +
                                            " bytes, " + std::to_string(left < 0 ? 0 : left) +
                                            " left");

    // Codes 1 to 3 all mean smooth shading; anything unknown keeps what we have.
    const std::int32_t shading = stream.ReadInt32();
    if (shading == 0)
        ShadeModel = GL_FLAT;
    else if (shading >= 1 && shading <= 3)
        ShadeModel = GL_SMOOTH;
    Face = stream.ReadInt32() > 0 ? GL_FRONT_AND_BACK : GL_FRONT;
    PolygonMode = stream.ReadInt32() > 0 ? GL_LINE : GL_FILL;
    LineWidth = stream.ReadSingle();

    Ambient = ReadColor(stream);
    Diffuse = ReadColor(stream);
    Specular = ReadColor(stream);
    Emission = ReadColor(stream);

    // The file keeps shininess as a fraction of the OpenGL range.
    Shininess = static_cast<float>(double(stream.ReadSingle()) * 100.0);
    const float level = stream.ReadSingle();
    const TVector3 scaled = TColor::Scale({Specular.x, Specular.y, Specular.z}, level);
    Specular = TColor::Make(scaled.x, scaled.y, scaled.z, Specular.w);

    stream.ReadInt32();
    stream.ReadInt32();
    return true;
}

void TgrMaterial::Action()
{
    gl.glPushAttrib(GL_LIGHTING_BIT);
    gl.glShadeModel(ShadeModel);
    GLboolean lighting = GL_FALSE;
    gl.glGetBooleanv(GL_LIGHTING, &lighting);
    if (lighting) {
        gl.glMaterialfv(Face, GL_AMBIENT, Components(Ambient).data());
        gl.glMaterialfv(Face, GL_DIFFUSE, Components(Diffuse).data());
        gl.glMaterialfv(Face, GL_SPECULAR, Components(Specular).data());
        gl.glMaterialfv(Face, GL_EMISSION, Components(Emission).data());
        gl.glMaterialfv(Face, GL_SHININESS, &Shininess);
    } else {
        gl.glColor4fv(Components(Diffuse).data());
    }
    gl.glPolygonMode(Face, PolygonMode);
    if (PolygonMode == GL_LINE)
        gl.glLineWidth(LineWidth);
    CheckGLError("Material.Action");
    TgrTree::Action();
}

void TgrMaterial::RestoreState()
{
    TgrTree::RestoreState();
    gl.glPopAttrib();
}

} // namespace vendrake
