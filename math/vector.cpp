#include "math/vector.h"

#include <cmath>

namespace vendrake {

TVector3 TVector::Make(float x, float y, float z) { return {x, y, z}; }

TVector4 TVector::Make4(float x, float y, float z, float w) { return {x, y, z, w}; }

TVector3 TVector::Add(TVector3 a, TVector3 b)
{
    return {static_cast<float>(double(a.x) + b.x), static_cast<float>(double(a.y) + b.y),
            static_cast<float>(double(a.z) + b.z)};
}

TVector3 TVector::Normalize(TVector3 v)
{
    const double x = v.x, y = v.y, z = v.z;
    float len = static_cast<float>(std::sqrt(x * x + y * y + z * z));
    if (len == 0.0f)
        len = 1e-7f;
    const float inv = static_cast<float>(1.0 / len);
    return {static_cast<float>(x * inv), static_cast<float>(y * inv), static_cast<float>(z * inv)};
}

TVector4 TColor::Make(float r, float g, float b, float a) { return {r, g, b, a}; }

TVector3 TColor::Scale(TVector3 c, float s)
{
    return {static_cast<float>(double(c.x) * s), static_cast<float>(double(c.y) * s),
            static_cast<float>(double(c.z) * s)};
}

} // namespace vendrake
