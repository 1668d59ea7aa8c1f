#pragma once
#include "math/matrix.h"

namespace vendrake {

// A quaternion, scalar first. The same four floats also carry an axis-angle
// rotation: angle in degrees, then the axis x, y, z.
struct TQuat {
    float w = 0, x = 0, y = 0, z = 0;
    friend bool operator==(const TQuat&, const TQuat&) = default;
};

struct TQuaternion {
    TQuaternion() = delete;
    static TQuat Make(float w, float x, float y, float z);
    static double Dot(TQuat p, TQuat q);
    // aa is an axis-angle record; the axis is used as given, unnormalised.
    static TQuat FromAxisAngle(TQuat aa);
    // Angle in degrees and a unit axis; a zero vector part gives 0 about x.
    static TQuat ToAxisAngle(TQuat q);
    // No shortest-arc correction: keys must be stored sign-aligned. Nearly
    // equal or opposite inputs (sin theta < 0.001) return p.
    static TQuat Slerp(TQuat p, TQuat q, float t);
    // Rotation of a unit quaternion. Column 0 is (m[0], m[1], m[2]), so in
    // OpenGL's reading this rotates by the conjugate of q; scene files are
    // authored with that convention.
    static TMatrix4 ToMatrix(TQuat q);
};

// Rotation matrix of (x, y, z, w), vector part first, normalising on the way;
// the zero quaternion gives the identity.
TMatrix4 QuaternionToMatrix(float x, float y, float z, float w);

} // namespace vendrake
