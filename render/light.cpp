#include "render/light.h"

#include "stream/stream.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"

#include <array>
#include <bit>
#include <cmath>
#include <string>

namespace vendrake {

namespace {

// The light record as 32-bit words, addressed by byte offset.
class TLightRecord {
public:
    static constexpr std::size_t Size = 96;

    explicit TLightRecord(TStream& stream) { stream.ReadBuffer(FWords.data(), Size); }

    // A flag is on when its word, read as a signed integer, is positive.
    bool Flag(std::size_t offset) const { return std::bit_cast<std::int32_t>(Word(offset)) > 0; }
    float Real(std::size_t offset) const { return std::bit_cast<float>(Word(offset)); }

private:
    std::uint32_t Word(std::size_t offset) const { return FWords[offset / 4]; }
    std::array<std::uint32_t, Size / 4> FWords{};
};

std::array<GLfloat, 4> Components(TVector4 v) { return {v.x, v.y, v.z, v.w}; }

} // namespace

bool TgrLight::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    ReadNodeHeader(stream);

    const std::int64_t recordAt = stream.Position();
    if (const std::int64_t left = stream.Remaining(); left < std::int64_t(TLightRecord::Size))
        stream.RaiseReadError(recordAt, "light record needs " + std::to_string(TLightRecord::Size) +
                                            " bytes, " + std::to_string(left < 0 ? 0 : left) +
                                            " left");
    const TLightRecord record(stream);
    const bool spot = record.Flag(8);
    const bool directional = record.Flag(12);
    const TVector3 color{record.Real(16), record.Real(20), record.Real(24)};
    const float multiplier = record.Real(28);
    const bool feedsDiffuse = record.Flag(40);
    const bool feedsSpecular = record.Flag(44);
    const bool attenuated = record.Flag(48);
    const float distance = record.Real(56);
    const float cone = record.Real(64);

    Ambient = TColor::Make(0, 0, 0, 0);
    // The light sits at the origin of whatever frame is in force when it is painted.
    Position = TVector::Make4(0, 0, 0, directional ? 0.0f : 1.0f);

    // Out-of-range results (a cone above 180 or below 4 degrees) go to OpenGL
    // as they are; it refuses them and keeps its previous value. NaN and a
    // positive infinity would pass its range checks, so a negative (or NaN)
    // cone and a zero distance leave the light as if the flag were off.
    if (spot && cone >= 0) {
        IsSpot = true;
        SpotCutoff = static_cast<float>(double(cone) / 2.0);
        SpotExponent = static_cast<float>(128.0 / std::sqrt(double(cone) / 4.0));
        SpotDirection = TVector::Make(0, 0, -1);
    }
    const double half = double(distance) / 2.0;
    const auto quadratic = static_cast<float>(1.0 / (half * half));
    if (attenuated && std::isfinite(quadratic)) {
        Attenuated = true;
        ConstantAttenuation = 1.0f;
        LinearAttenuation = 0.0f;
        QuadraticAttenuation = quadratic;
    }

    // Scene lights bring their own ambient term; the global one would wash it out.
    if (gl.glLightModelfv) {
        const GLfloat none[4] = {0, 0, 0, 0};
        gl.glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
    }

    const TVector3 c = TColor::Scale(color, multiplier);
    if (feedsDiffuse)
        Diffuse = TColor::Make(c.x, c.y, c.z, Diffuse.w);
    else
        Diffuse = TColor::Make(0, 0, 0, 0);
    if (feedsSpecular)
        Specular = TColor::Make(c.x, c.y, c.z, Specular.w);
    else
        Specular = TColor::Make(0, 0, 0, 0);
    return true;
}

void TgrLight::Action()
{
    if (FixedToEye) {
        gl.glPushMatrix();
        gl.glLoadIdentity();
    }

    GLint maxLights = 0;
    gl.glGetIntegerv(GL_MAX_LIGHTS, &maxLights);
    // A negative number would name some other enum, not a light.
    if (Number >= 0 && Number < maxLights) {
        const GLenum light = GL_LIGHT0 + static_cast<GLenum>(Number);
        gl.glEnable(light);
        gl.glLightfv(light, GL_POSITION, Components(Position).data());
        gl.glLightfv(light, GL_DIFFUSE, Components(Diffuse).data());
        gl.glLightfv(light, GL_SPECULAR, Components(Specular).data());
        gl.glLightfv(light, GL_AMBIENT, Components(Ambient).data());
        CheckGLError("LIGHT_0");

        if (IsSpot) {
            gl.glLightf(light, GL_SPOT_CUTOFF, SpotCutoff);
            gl.glLightf(light, GL_SPOT_EXPONENT, SpotExponent);
            const GLfloat direction[3] = {SpotDirection.x, SpotDirection.y, SpotDirection.z};
            gl.glLightfv(light, GL_SPOT_DIRECTION, direction);
        } else {
            gl.glLightf(light, GL_SPOT_CUTOFF, 180.0f);
        }
        CheckGLError("LIGHT_1");

        if (Attenuated) {
            gl.glLightf(light, GL_CONSTANT_ATTENUATION, ConstantAttenuation);
            gl.glLightf(light, GL_LINEAR_ATTENUATION, LinearAttenuation);
            gl.glLightf(light, GL_QUADRATIC_ATTENUATION, QuadraticAttenuation);
        } else {
            gl.glLightf(light, GL_CONSTANT_ATTENUATION, 1.0f);
            gl.glLightf(light, GL_LINEAR_ATTENUATION, 0.0f);
            gl.glLightf(light, GL_QUADRATIC_ATTENUATION, 0.0f);
        }

        // The marker leaves its point size and white current colour behind.
        gl.glPointSize(5.0f);
        gl.glDisable(GL_LIGHTING);
        gl.glBegin(GL_POINTS);
        gl.glColor3f(1.0f, 1.0f, 1.0f);
        const GLfloat at[3] = {Position.x, Position.y, Position.z};
        gl.glVertex3fv(at);
        gl.glEnd();
        gl.glEnable(GL_LIGHTING);

        TgrPositional::Action();
    }

    if (FixedToEye)
        gl.glPopMatrix();
}

} // namespace vendrake
