#include "math/matrix.h"

#include <cmath>
#include <utility>

namespace vendrake {

TMatrix4 TMatrix::Identity()
{
    TMatrix4 r;
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
    return r;
}

TMatrix4 TMatrix::Multiply(TMatrix4 a, TMatrix4 b)
{
    TMatrix4 r;
    for (unsigned i = 0; i < 4; ++i)
        for (unsigned j = 0; j < 4; ++j)
            r.m[4 * i + j] = static_cast<float>(
                double(a.m[4 * i]) * b.m[j] + double(a.m[4 * i + 1]) * b.m[4 + j] +
                double(a.m[4 * i + 2]) * b.m[8 + j] + double(a.m[4 * i + 3]) * b.m[12 + j]);
    return r;
}

void TMatrix::Invert(TMatrix4 a, TMatrix4& result)
{
    // Rows are four consecutive values of the flat array. Because the inverse
    // of the transpose is the transposed inverse, this is also the inverse in
    // OpenGL's column reading.
    float* w = a.m.data();
    TMatrix4 acc = Identity();
    float* r = acc.m.data();
    auto at = [](float* base, unsigned row, unsigned col) -> float& { return base[4 * row + col]; };

    for (unsigned k = 0; k < 4; ++k) {
        double best = -1.0;
        unsigned pivotRow = k;
        for (unsigned row = k; row < 4; ++row) {
            const double v = std::fabs(double(at(w, row, k)));
            if (v > best) {
                best = v;
                pivotRow = row;
            }
        }
        if (!(best > 0.0))
            return; // singular: the result stays as the caller left it
        if (pivotRow != k) {
            for (unsigned c = k; c < 4; ++c)
                std::swap(at(w, pivotRow, c), at(w, k, c));
            for (unsigned c = 0; c < 4; ++c)
                std::swap(at(r, pivotRow, c), at(r, k, c));
        }
        const double pivot = at(w, k, k);
        for (unsigned c = k + 1; c < 4; ++c)
            at(w, k, c) = static_cast<float>(at(w, k, c) / pivot);
        for (unsigned c = 0; c < 4; ++c)
            at(r, k, c) = static_cast<float>(at(r, k, c) / pivot);
        for (unsigned l = k + 1; l < 4; ++l) {
            const double f = at(w, l, k);
            for (unsigned c = k + 1; c < 4; ++c)
                at(w, l, c) = static_cast<float>(at(w, l, c) - f * at(w, k, c));
            for (unsigned c = 0; c < 4; ++c)
                at(r, l, c) = static_cast<float>(at(r, l, c) - f * at(r, k, c));
        }
    }
    for (unsigned n = 3; n >= 1; --n)
        for (unsigned row = 0; row < n; ++row) {
            const double f = at(w, row, n);
            for (unsigned c = 0; c < 4; ++c)
                at(r, row, c) = static_cast<float>(at(r, row, c) - f * at(r, n, c));
        }
    result = acc;
}

} // namespace vendrake
