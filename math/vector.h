#pragma once
// Points, directions and colours: plain records of 32-bit floats, passed by
// value. Intermediate arithmetic is done in double and rounded to float only
// where a result is stored, or where an operation says so explicitly.

namespace vendrake {

struct TVector3 {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const TVector3&, const TVector3&) = default;
};

// Homogeneous positions and directions (w), and RGBA colours in the same slots.
struct TVector4 {
    float x = 0, y = 0, z = 0, w = 0;
    friend bool operator==(const TVector4&, const TVector4&) = default;
};

struct TVector {
    TVector() = delete;
    static TVector3 Make(float x, float y, float z);
    static TVector4 Make4(float x, float y, float z, float w);
    static TVector3 Add(TVector3 a, TVector3 b);
    // The length is rounded to float before inverting; a zero vector stays zero.
    static TVector3 Normalize(TVector3 v);
};

struct TColor {
    TColor() = delete;
    static TVector4 Make(float r, float g, float b, float a);
    // Scales red, green and blue; used for a material's specular level.
    static TVector3 Scale(TVector3 c, float s);
};

} // namespace vendrake
