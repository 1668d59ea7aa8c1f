#pragma once
// Lights: one fixed-function OpenGL light each. The file's description (colour
// and multiplier, spot cone, attenuation distance) is turned into OpenGL
// parameters once, while loading; every frame the light is programmed,
// enabled and marked with a small white point where it sits.
#include "math/vector.h"
#include "scene/transform.h"

#include <cstdint>

namespace vendrake {

class TgrLight : public TgrPositional {
    VENDRAKE_NODE_CLASS(TgrLight, TgrPositional)
public:
    using TgrPositional::TgrPositional;

    // Node header, then a 96-byte light record. Reading a light also turns the
    // global ambient light off, so it needs the OpenGL context current (with
    // no OpenGL loaded at all that call is skipped).
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    // Programs and enables GL_LIGHT0 + Number, draws the marker and paints the
    // children. A Number the driver has no light for paints nothing at all.
    void Action() override;

    void SetNumber(std::int32_t value) { Number = value; }
    void SetPosition(TVector4 value) { Position = value; }
    void SetIsSpot(bool value) { IsSpot = value; }
    void SetAttenuated(bool value) { Attenuated = value; }

    // Places the light in eye coordinates instead of under the current
    // transforms.
    bool FixedToEye = false;
    std::int32_t Number = 0;
    TVector4 Position{0.0f, 0.0f, 0.0f, 1.0f}; // w = 0: directional
    bool IsSpot = false;                       // otherwise the cut-off is 180
    bool Attenuated = false;                   // otherwise the factors are 1, 0, 0
    TVector4 Ambient{0.1f, 0.1f, 0.1f, 1.0f};
    TVector4 Diffuse{1.0f, 1.0f, 1.0f, 1.0f};
    TVector4 Specular{1.0f, 1.0f, 1.0f, 1.0f};
    float SpotCutoff = 0.0f; // degrees, half the cone
    float SpotExponent = 0.0f;
    TVector3 SpotDirection;
    float ConstantAttenuation = 0.0f;
    float LinearAttenuation = 0.0f;
    float QuadraticAttenuation = 0.0f;
};

} // namespace vendrake
