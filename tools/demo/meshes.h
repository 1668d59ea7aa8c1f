#pragma once
// Meshes built in code: a builder that collects vertices and triangles and
// writes them as a scene-file mesh (one face record per material), and the
// shapes the demo is made of.
//
// Every triangle is wound counter-clockwise as seen from the side it shows:
// the player culls back faces.
#include "scenefile/scene_writer.h"
#include "tools/demo/demo_math.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vendrake::demo {

struct TVertex {
    TVec Position;
    TVec Normal{0, 0, 1};
    double U = 0, V = 0;
    TVec Color{1, 1, 1};
};

class TMeshBuilder {
public:
    // With colours, vertex records carry an RGB colour, which the player
    // applies as the ambient and diffuse colour of the faces.
    explicit TMeshBuilder(bool colors = false) : FColors(colors) {}

    std::int32_t Add(const TVertex& vertex);
    void Triangle(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t material);
    // a, b, c, d counter-clockwise.
    void Quad(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t material);
    // The same, wound so that the front faces the `facing` side.
    void TriangleFacing(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t material, TVec facing);
    void QuadFacing(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t material,
                    TVec facing);
    // A triangle with vertices of its own carrying its face normal (flat
    // shading whatever the material's shade model), its front towards
    // `facing`.
    void FlatTriangle(TVertex a, TVertex b, TVertex c, std::int32_t material, TVec facing);
    // Adds a copy of every triangle so far, wound the other way with the
    // normals turned round: a sheet seen from both sides.
    void AddBackFaces();
    // Moves every vertex by the transform (rotation frame, then offset).
    void Transform(const TFrame& frame, TVec offset);
    // Appends another builder's geometry.
    void Append(const TMeshBuilder& other);

    std::size_t VertexCount() const { return FVertices.size(); }
    std::size_t TriangleCount() const { return FTriangles.size(); }
    const std::vector<TVertex>& Vertices() const { return FVertices; }

    // The mesh chunk: vertices with position, normal, (colour,) texture
    // coordinates; indices grouped by material, one face record per
    // material in order of first use.
    TMeshDesc Build(const TNodeHeaderDesc& header) const;

private:
    struct TTriangle {
        std::int32_t A, B, C, Material;
    };
    bool FColors;
    std::vector<TVertex> FVertices;
    std::vector<TTriangle> FTriangles;
};

// A sphere of latitude rings, texture u around and v from pole to pole;
// inward turns it inside out (a dome seen from within). Rings cover the
// latitudes from bottom to top (degrees, -90 to 90).
TMeshBuilder UvSphere(double radius, int slices, int stacks, std::int32_t material, bool inward = false,
                      double bottom = -90, double top = 90);
// An icosahedron subdivided `levels` times, pushed onto a sphere and then
// out or in by `displace` (unit direction -> radius factor). Flat: every
// triangle with its own normal; otherwise smooth normals from the sphere.
TMeshBuilder Geosphere(double radius, int levels, bool flat, std::int32_t material,
                       const std::function<double(TVec)>& displace = {});
// A ring about the z axis: major radius R, tube radius r.
TMeshBuilder Torus(double majorRadius, double minorRadius, int segments, int sides, std::int32_t material);
// One crystal: a hexagonal prism with a pointed top, standing on the origin
// along +y, flat-shaded.
TMeshBuilder Crystal(double radius, double height, double tip, std::int32_t material);
// A square in the xy plane facing +z, side `size`, texture 0..1 over it.
TMeshBuilder Square(double size, std::int32_t material);

// A pipe along a path of centre points with a frame at each (its Z along
// the path): an inner wall seen from inside, an outer wall seen from
// outside, and rims at both ends. The texture runs once around the pipe
// and is mirrored every `repeat` rings along it.
struct TPipeRing {
    TVec Centre;
    TFrame Frame;
};
// Where open(ring, side) holds, the quad from that ring to the next is left
// out of both walls: a window.
TMeshBuilder Pipe(const std::vector<TPipeRing>& rings, double innerRadius, double outerRadius, int sides,
                  int repeat, std::int32_t innerMaterial, std::int32_t outerMaterial,
                  const std::function<bool(int ring, int side)>& open = {});

// A grid over x and z (cells of `cell` units, n by n, centred on the origin)
// following height(x, z), smooth normals, texture mirrored every `tile`
// cells, colours from colour(position, normal).
TMeshBuilder HeightField(int n, double cell, int tile, const std::function<double(double, double)>& height,
                         const std::function<TVec(TVec, TVec)>& colour, std::int32_t material);

// Texture coordinate of a mirrored tiling: 0 at even multiples of period, 1
// at odd ones, linear in between; kept `inset` inside the edges so clamped
// sampling never reaches the border colour.
double MirroredCoordinate(double position, double period, double inset);

} // namespace vendrake::demo
