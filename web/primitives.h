#pragma once
// Primitives as the fixed-function emulation breaks them down: polygons into
// the triangles they are rasterised as, lines into segments, and where the
// rasteriser the desktop program runs on puts a wide line's ends.
#include "scene/gl_entry_points.h"

#include <cstdint>
#include <vector>

namespace vendrake::web {

bool IsTriangleMode(GLenum mode);
bool IsLineMode(GLenum mode);

// Polygons as the triangles they are rasterised as, appended to `out`, each
// ending with the vertex whose colour flat shading takes.
void Triangulate(GLenum mode, const std::vector<std::uint32_t>& in, std::vector<std::uint32_t>& out);
// Lines as segments, two indices each, appended to `out`.
void Segments(GLenum mode, const std::vector<std::uint32_t>& in, std::vector<std::uint32_t>& out);

// Where a wide line's ends go so that its first and last pixels are the ones
// the diamond-exit rule draws: the quad alone would take every pixel whose
// centre lies between the ends. Window coordinates, y down; the shifts are
// per end, in pixels.
struct TLineEnds {
    bool XMajor = true;
    float Shift[2][2] = {{0, 0}, {0, 0}};
};
TLineEnds DiamondExitEnds(float x1, float y1, float x2, float y2);

} // namespace vendrake::web
