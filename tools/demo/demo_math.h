#pragma once
// Double-precision vectors, frames, noise and a seeded generator for laying
// out the demo. Everything here is deterministic: the same calls give the
// same bits on every run, so the generated files never change.
#include "math/quaternion.h"

#include <cmath>
#include <cstdint>

namespace vendrake::demo {

constexpr double Pi = 3.14159265358979323846;

inline double Radians(double degrees) { return degrees * (Pi / 180.0); }

struct TVec {
    double x = 0, y = 0, z = 0;
};

inline TVec operator+(TVec a, TVec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline TVec operator-(TVec a, TVec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline TVec operator-(TVec a) { return {-a.x, -a.y, -a.z}; }
inline TVec operator*(TVec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline TVec operator*(double s, TVec a) { return a * s; }
inline double Dot(TVec a, TVec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline TVec Cross(TVec a, TVec b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(TVec a) { return std::sqrt(Dot(a, a)); }
// A zero vector stays zero.
TVec Normalize(TVec a);
inline TVec Lerp(TVec a, TVec b, double t) { return a + (b - a) * t; }

inline double Clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }
inline double Mix(double a, double b, double t) { return a + (b - a) * t; }
// 0 at edge0, 1 at edge1, smooth in between; edge0 > edge1 runs downwards.
double SmoothStep(double edge0, double edge1, double x);

// A rotation given by the images of the three axes (the columns of its
// matrix). Frames are right-handed and orthonormal.
struct TFrame {
    TVec X{1, 0, 0}, Y{0, 1, 0}, Z{0, 0, 1};
};

inline TVec Apply(const TFrame& f, TVec v) { return f.X * v.x + f.Y * v.y + f.Z * v.z; }
// Applies b, then a.
TFrame Compose(const TFrame& a, const TFrame& b);
// Rotation by angle (radians) about a unit axis, counter-clockwise when the
// axis points at the viewer.
TFrame AxisRotation(TVec axis, double angle);
// A camera frame: it looks down its -Z along forward, with its Y as close to
// up as forward allows.
TFrame LookFrame(TVec forward, TVec up);
// The quaternion a scene file stores for frame f. The file's rotation
// matrix is read transposed (see math/quaternion.h), so what is stored is
// the conjugate of f's own quaternion.
TQuat FileRotation(const TFrame& f);

// A small, fast generator with a fixed seed (SplitMix64); never seeded from
// the clock or the system.
class TRandom {
public:
    explicit TRandom(std::uint64_t seed) : FState(seed) {}
    std::uint64_t Next();
    // Uniform in [0, 1).
    double Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

private:
    std::uint64_t FState;
};

// Smooth value noise on an integer lattice, in [-1, 1]; the seed picks one
// of many independent fields.
double ValueNoise(double x, double y, std::uint32_t seed);
// Octaves of value noise, each at twice the frequency and half the weight;
// roughly in [-1, 1].
double Fbm(double x, double y, int octaves, std::uint32_t seed);
// Octaves of ridged noise (1 - |noise|), sharp crests like mountain ranges;
// in [0, 1].
double RidgedFbm(double x, double y, int octaves, std::uint32_t seed);
// A hash of lattice coordinates, uniform in [0, 1).
double Hash01(std::int64_t x, std::int64_t y, std::uint32_t seed);

} // namespace vendrake::demo
