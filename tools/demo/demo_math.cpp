#include "tools/demo/demo_math.h"

namespace vendrake::demo {

TVec Normalize(TVec a)
{
    const double length = Length(a);
    return length > 0 ? a * (1.0 / length) : a;
}

double SmoothStep(double edge0, double edge1, double x)
{
    const double t = Clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

TFrame Compose(const TFrame& a, const TFrame& b)
{
    return {Apply(a, b.X), Apply(a, b.Y), Apply(a, b.Z)};
}

TFrame AxisRotation(TVec axis, double angle)
{
    const TVec n = Normalize(axis);
    const double c = std::cos(angle), s = std::sin(angle);
    // Rodrigues: v' = v c + (n x v) s + n (n . v)(1 - c), for each axis.
    auto rotate = [&](TVec v) { return v * c + Cross(n, v) * s + n * (Dot(n, v) * (1 - c)); };
    return {rotate({1, 0, 0}), rotate({0, 1, 0}), rotate({0, 0, 1})};
}

TFrame LookFrame(TVec forward, TVec up)
{
    const TVec z = Normalize(-forward);
    TVec x = Cross(up, z);
    if (Length(x) < 1e-9)
        x = Cross({0, 0, 1}, z); // looking straight up or down
    x = Normalize(x);
    return {x, Cross(z, x), z};
}

TQuat FileRotation(const TFrame& f)
{
    // Shepperd's method on the matrix whose columns are X, Y, Z; m(r, c).
    const double m00 = f.X.x, m10 = f.X.y, m20 = f.X.z;
    const double m01 = f.Y.x, m11 = f.Y.y, m21 = f.Y.z;
    const double m02 = f.Z.x, m12 = f.Z.y, m22 = f.Z.z;
    double w, x, y, z;
    const double trace = m00 + m11 + m22;
    if (trace > 0) {
        const double s = std::sqrt(trace + 1.0) * 2;
        w = 0.25 * s;
        x = (m21 - m12) / s;
        y = (m02 - m20) / s;
        z = (m10 - m01) / s;
    } else if (m00 > m11 && m00 > m22) {
        const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2;
        w = (m21 - m12) / s;
        x = 0.25 * s;
        y = (m01 + m10) / s;
        z = (m02 + m20) / s;
    } else if (m11 > m22) {
        const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2;
        w = (m02 - m20) / s;
        x = (m01 + m10) / s;
        y = 0.25 * s;
        z = (m12 + m21) / s;
    } else {
        const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2;
        w = (m10 - m01) / s;
        x = (m02 + m20) / s;
        y = (m12 + m21) / s;
        z = 0.25 * s;
    }
    if (w < 0) { // one hemisphere, so neighbouring keys stay close
        w = -w;
        x = -x;
        y = -y;
        z = -z;
    }
    return {float(w), float(-x), float(-y), float(-z)};
}

std::uint64_t TRandom::Next()
{
    std::uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Hash01(std::int64_t x, std::int64_t y, std::uint32_t seed)
{
    std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full + seed * 0x165667B19E3779F9ull;
    h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ (h >> 32)) * 0x94D049BB133111EBull;
    h ^= h >> 29;
    return double(h >> 11) * (1.0 / 9007199254740992.0);
}

double ValueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
    const double tx = x - fx, ty = y - fy;
    // Quintic fade: no visible creases along the lattice lines.
    const double sx = tx * tx * tx * (tx * (tx * 6 - 15) + 10);
    const double sy = ty * ty * ty * (ty * (ty * 6 - 15) + 10);
    const double a = Hash01(ix, iy, seed), b = Hash01(ix + 1, iy, seed);
    const double c = Hash01(ix, iy + 1, seed), d = Hash01(ix + 1, iy + 1, seed);
    return 2.0 * Mix(Mix(a, b, sx), Mix(c, d, sx), sy) - 1.0;
}

double Fbm(double x, double y, int octaves, std::uint32_t seed)
{
    double sum = 0, weight = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * ValueNoise(x, y, seed + std::uint32_t(i) * 101u);
        total += weight;
        x = x * 2.03 + 17.1;
        y = y * 2.03 - 9.7;
        weight *= 0.5;
    }
    return sum / total;
}

double RidgedFbm(double x, double y, int octaves, std::uint32_t seed)
{
    double sum = 0, weight = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        const double n = 1.0 - std::fabs(ValueNoise(x, y, seed + std::uint32_t(i) * 131u));
        sum += weight * n * n;
        total += weight;
        x = x * 2.07 + 5.3;
        y = y * 2.07 + 11.9;
        weight *= 0.5;
    }
    return sum / total;
}

} // namespace vendrake::demo
