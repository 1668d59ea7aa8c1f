#pragma once
#include <array>

namespace vendrake {

// A 4x4 matrix in OpenGL's column-major order: m[4*c + r] is row r of
// column c, so m[12..14] hold the translation and the array goes to
// glMultMatrixf / glLoadMatrixf unchanged.
struct TMatrix4 {
    std::array<float, 16> m{};
    float& operator[](int i) { return m[static_cast<unsigned>(i)]; }
    float operator[](int i) const { return m[static_cast<unsigned>(i)]; }
    const float* data() const { return m.data(); }
    friend bool operator==(const TMatrix4&, const TMatrix4&) = default;
};

struct TMatrix {
    TMatrix() = delete;
    static TMatrix4 Identity();
    // In OpenGL's reading the product is b*a: a is applied first, then b.
    // The result may alias either input.
    static TMatrix4 Multiply(TMatrix4 a, TMatrix4 b);
    // Gauss-Jordan with partial pivoting. A singular matrix leaves `result`
    // as it was, so callers that need a value fill it first.
    static void Invert(TMatrix4 a, TMatrix4& result);
};

} // namespace vendrake
