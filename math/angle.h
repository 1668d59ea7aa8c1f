#pragma once
// Angle helpers shared by the rotation code.
#include <algorithm>
#include <cmath>
#include <numbers>

namespace vendrake {

inline double DegToRad(double degrees) { return degrees * (std::numbers::pi / 180.0); }
inline double RadToDeg(double radians) { return radians * (180.0 / std::numbers::pi); }

// Sine and cosine give 0 for arguments of magnitude 2^63 and above: the
// hardware instructions that rotation code has always relied on give up there,
// and keys authored against them expect it.
inline double Sine(double x) { return std::fabs(x) >= 9223372036854775808.0 ? 0.0 : std::sin(x); }
inline double Cosine(double x) { return std::fabs(x) >= 9223372036854775808.0 ? 0.0 : std::cos(x); }

// Arc cosine as atan2(sqrt(1 - x*x), x). Values a rounding step outside
// [-1, 1] (a float "unit" quaternion with w = 1.0000001) are taken as +-1
// instead of producing NaN.
inline double ArcCos(double x) { return std::atan2(std::sqrt(std::max(0.0, 1.0 - x * x)), x); }

} // namespace vendrake
