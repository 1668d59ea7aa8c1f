#include "web/primitives.h"

#include <cmath>

namespace vendrake::web {

bool IsTriangleMode(GLenum mode)
{
    return mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN || mode == GL_QUADS ||
           mode == GL_QUAD_STRIP || mode == GL_POLYGON;
}

bool IsLineMode(GLenum mode) { return mode == GL_LINES || mode == GL_LINE_STRIP || mode == GL_LINE_LOOP; }

void Triangulate(GLenum mode, const std::vector<std::uint32_t>& in, std::vector<std::uint32_t>& out)
{
    const std::size_t n = in.size();
    auto add = [&](std::size_t a, std::size_t b, std::size_t c) {
        out.push_back(in[a]);
        out.push_back(in[b]);
        out.push_back(in[c]);
    };
    switch (mode) {
    case GL_TRIANGLES:
        for (std::size_t i = 0; i + 2 < n; i += 3)
            add(i, i + 1, i + 2);
        break;
    case GL_TRIANGLE_STRIP:
        for (std::size_t i = 0; i + 2 < n; ++i)
            (i % 2) ? add(i + 1, i, i + 2) : add(i, i + 1, i + 2);
        break;
    case GL_TRIANGLE_FAN:
    case GL_POLYGON:
        for (std::size_t i = 1; i + 1 < n; ++i)
            add(0, i, i + 1);
        break;
    case GL_QUADS:
        for (std::size_t i = 0; i + 3 < n; i += 4) {
            add(i, i + 1, i + 3);
            add(i + 1, i + 2, i + 3);
        }
        break;
    case GL_QUAD_STRIP:
        for (std::size_t i = 0; i + 3 < n; i += 2) {
            add(i, i + 1, i + 3);
            add(i, i + 3, i + 2);
        }
        break;
    default:
        break;
    }
}

void Segments(GLenum mode, const std::vector<std::uint32_t>& in, std::vector<std::uint32_t>& out)
{
    const std::size_t n = in.size();
    if (mode == GL_LINES) {
        for (std::size_t i = 0; i + 1 < n; i += 2)
            out.insert(out.end(), {in[i], in[i + 1]});
        return;
    }
    for (std::size_t i = 0; i + 1 < n; ++i)
        out.insert(out.end(), {in[i], in[i + 1]});
    if (mode == GL_LINE_LOOP && n > 2)
        out.insert(out.end(), {in[n - 1], in[0]});
}

namespace {

float Sign(float x) { return x < 0 ? -1.0f : 1.0f; }
float Fraction(float x) { return x - std::floor(x); }

} // namespace

TLineEnds DiamondExitEnds(float x1, float y1, float x2, float y2)
{
    TLineEnds ends;
    const float dx = x1 - x2, dy = y1 - y2;
    const float x1diff = x1 - std::floor(x1) - 0.5f, y1diff = y1 - std::floor(y1) - 0.5f;
    float x2diff = x2 - std::floor(x2) - 0.5f, y2diff = y2 - std::floor(y2) - 0.5f;
    float* start = ends.Shift[0];
    float* end = ends.Shift[1];
    if (std::fabs(dx) >= std::fabs(dy)) {
        const float dydx = dy / dx;
        if (y2diff == -0.5f && dy < 0)
            y2diff = 0.5f;
        bool drawStart, drawEnd;
        if (std::fabs(x1diff) + std::fabs(y1diff) < 0.5f)
            drawStart = true;
        else if (Sign(x1diff) == Sign(-dx))
            drawStart = false;
        else if (Sign(-y1diff) != Sign(dy))
            drawStart = true;
        else {
            const float at = Fraction(y1) + x1diff * dydx;
            drawStart = at < 1 && at > 0;
        }
        if (std::fabs(x2diff) + std::fabs(y2diff) < 0.5f)
            drawEnd = false;
        else if (Sign(x2diff) != Sign(-dx))
            drawEnd = false;
        else if (Sign(-y2diff) == Sign(dy))
            drawEnd = true;
        else {
            const float at = Fraction(y2) + x2diff * dydx;
            drawEnd = at < 1 && at > 0;
        }
        const bool willDrawStart = Sign(-x1diff) != Sign(dx);
        const bool willDrawEnd = Sign(x2diff) == Sign(-dx) || x2diff == 0;
        if (willDrawStart != drawStart) {
            start[0] = dx < 0 ? -x1diff - 0.5f : -x1diff + 0.5f;
            start[1] = start[0] * dydx;
        }
        if (willDrawEnd != drawEnd) {
            end[0] = dx < 0 ? -x2diff - 0.5f : -x2diff + 0.5f;
            end[1] = end[0] * dydx;
        }
    } else {
        ends.XMajor = false;
        const float dxdy = dx / dy;
        if (x2diff == -0.5f && dx < 0)
            x2diff = 0.5f;
        bool drawStart, drawEnd;
        if (std::fabs(x1diff) + std::fabs(y1diff) < 0.5f)
            drawStart = true;
        else if (Sign(-y1diff) == Sign(dy))
            drawStart = false;
        else if (Sign(x1diff) != Sign(-dx))
            drawStart = true;
        else {
            const float at = Fraction(x1) + y1diff * dxdy;
            drawStart = at < 1 && at > 0;
        }
        if (std::fabs(x2diff) + std::fabs(y2diff) < 0.5f)
            drawEnd = false;
        else if (Sign(-y2diff) != Sign(dy))
            drawEnd = false;
        else if (Sign(x2diff) == Sign(-dx))
            drawEnd = true;
        else {
            const float at = Fraction(x2) + y2diff * dxdy;
            drawEnd = at < 1 && at >= 0;
        }
        const bool willDrawStart = Sign(y1diff) == Sign(dy);
        const bool willDrawEnd = Sign(-y2diff) == Sign(dy) || y2diff == 0;
        if (willDrawStart != drawStart) {
            start[1] = dy > 0 ? -y1diff + 0.5f : -y1diff - 0.5f;
            start[0] = start[1] * dxdy;
        }
        if (willDrawEnd != drawEnd) {
            end[1] = dy > 0 ? -y2diff + 0.5f : -y2diff - 0.5f;
            end[0] = end[1] * dxdy;
        }
    }
    return ends;
}

} // namespace vendrake::web
