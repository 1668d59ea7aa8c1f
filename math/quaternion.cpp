#include "math/quaternion.h"

#include "math/angle.h"

#include <cmath>

namespace vendrake {

namespace {
float F(double v) { return static_cast<float>(v); }
} // namespace

TQuat TQuaternion::Make(float w, float x, float y, float z) { return {w, x, y, z}; }

double TQuaternion::Dot(TQuat p, TQuat q)
{
    return double(p.w) * q.w + double(p.x) * q.x + double(p.y) * q.y + double(p.z) * q.z;
}

TQuat TQuaternion::FromAxisAngle(TQuat aa)
{
    const double h = DegToRad(aa.w) * 0.5;
    const double s = Sine(h);
    const float c = F(Cosine(h));
    return Make(c, F(s * aa.x), F(s * aa.y), F(s * aa.z));
}

TQuat TQuaternion::ToAxisAngle(TQuat q)
{
    const double n = double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z;
    if (!(n > 0.0))
        return {0.0f, 1.0f, 0.0f, 0.0f};
    const double inv = 1.0 / std::sqrt(n);
    return {F(RadToDeg(2.0 * ArcCos(q.w))), F(q.x * inv), F(q.y * inv), F(q.z * inv)};
}

TQuat TQuaternion::Slerp(TQuat p, TQuat q, float t)
{
    double d = Dot(p, q);
    if (d < -1.0)
        d = -1.0;
    if (d > 1.0)
        d = 1.0;
    const double theta = ArcCos(d);
    const double s = Sine(theta);
    if (s < 0.001)
        return p;
    const double a = Sine((1.0 - t) * theta) / s;
    const double b = Sine(double(t) * theta) / s;
    return {F(a * p.w + b * q.w), F(a * p.x + b * q.x), F(a * p.y + b * q.y), F(a * p.z + b * q.z)};
}

TMatrix4 TQuaternion::ToMatrix(TQuat q)
{
    // Products of the doubled components, each rounded to float before the sums.
    const float x2 = q.x + q.x, y2 = q.y + q.y, z2 = q.z + q.z;
    const double xx = F(double(q.x) * x2), yy = F(double(q.y) * y2), zz = F(double(q.z) * z2);
    const double xy = F(double(q.x) * y2), xz = F(double(q.x) * z2), yz = F(double(q.y) * z2);
    const double wx = F(double(q.w) * x2), wy = F(double(q.w) * y2), wz = F(double(q.w) * z2);
    TMatrix4 m = TMatrix::Identity();
    m[0] = F(1.0 - (yy + zz));
    m[1] = F(xy - wz);
    m[2] = F(xz + wy);
    m[4] = F(xy + wz);
    m[5] = F(1.0 - (xx + zz));
    m[6] = F(yz - wx);
    m[8] = F(xz - wy);
    m[9] = F(yz + wx);
    m[10] = F(1.0 - (xx + yy));
    return m;
}

TMatrix4 QuaternionToMatrix(float x, float y, float z, float w)
{
    const float n = F(double(x) * x + double(y) * y + double(z) * z + double(w) * w);
    const float f = n > 0.0f ? F(2.0 / n) : 0.0f;
    const float xs = F(double(x) * f), ys = F(double(y) * f), zs = F(double(z) * f);
    auto p = [](float a, float b) { return double(F(double(a) * b)); };
    TMatrix4 m;
    m[0] = F(1.0 - (p(y, ys) + p(z, zs)));
    m[1] = F(p(x, ys) - p(w, zs));
    m[2] = F(p(x, zs) + p(w, ys));
    m[4] = F(p(x, ys) + p(w, zs));
    m[5] = F(1.0 - (p(x, xs) + p(z, zs)));
    m[6] = F(p(y, zs) - p(w, xs));
    m[8] = F(p(x, zs) - p(w, ys));
    m[9] = F(p(y, zs) + p(w, xs));
    m[10] = F(1.0 - (p(x, xs) + p(y, ys)));
    m[15] = 1.0f;
    return m;
}

} // namespace vendrake
