#include "tools/demo/meshes.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

namespace vendrake::demo {

namespace {

constexpr std::uint32_t FlagPosition3 = 0x2;
constexpr std::uint32_t FlagNormal = 0x8;
constexpr std::uint32_t FlagColorRGB = 0x10;
constexpr std::uint32_t FlagTexCoord2 = 0x40;
constexpr std::int32_t GLTriangles = 4;

TVec FaceNormal(TVec a, TVec b, TVec c) { return Normalize(Cross(b - a, c - a)); }

} // namespace

std::int32_t TMeshBuilder::Add(const TVertex& vertex)
{
    FVertices.push_back(vertex);
    return static_cast<std::int32_t>(FVertices.size() - 1);
}

void TMeshBuilder::Triangle(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t material)
{
    FTriangles.push_back({a, b, c, material});
}

void TMeshBuilder::Quad(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t material)
{
    Triangle(a, b, c, material);
    Triangle(a, c, d, material);
}

void TMeshBuilder::TriangleFacing(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t material,
                                  TVec facing)
{
    const TVec n = Cross(FVertices[std::size_t(b)].Position - FVertices[std::size_t(a)].Position,
                         FVertices[std::size_t(c)].Position - FVertices[std::size_t(a)].Position);
    if (Dot(n, facing) >= 0)
        Triangle(a, b, c, material);
    else
        Triangle(a, c, b, material);
}

void TMeshBuilder::QuadFacing(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                              std::int32_t material, TVec facing)
{
    const TVec n = Cross(FVertices[std::size_t(c)].Position - FVertices[std::size_t(a)].Position,
                         FVertices[std::size_t(d)].Position - FVertices[std::size_t(b)].Position);
    if (Dot(n, facing) >= 0)
        Quad(a, b, c, d, material);
    else
        Quad(a, d, c, b, material);
}

void TMeshBuilder::FlatTriangle(TVertex a, TVertex b, TVertex c, std::int32_t material, TVec facing)
{
    TVec n = FaceNormal(a.Position, b.Position, c.Position);
    if (Dot(n, facing) < 0) {
        std::swap(b, c);
        n = -n;
    }
    a.Normal = b.Normal = c.Normal = n;
    const std::int32_t ia = Add(a), ib = Add(b), ic = Add(c);
    Triangle(ia, ib, ic, material);
}

void TMeshBuilder::AddBackFaces()
{
    const std::size_t vertexCount = FVertices.size(), triangleCount = FTriangles.size();
    for (std::size_t i = 0; i < vertexCount; ++i) {
        TVertex back = FVertices[i];
        back.Normal = -back.Normal;
        FVertices.push_back(back);
    }
    const auto offset = static_cast<std::int32_t>(vertexCount);
    for (std::size_t i = 0; i < triangleCount; ++i) {
        const TTriangle t = FTriangles[i];
        Triangle(t.A + offset, t.C + offset, t.B + offset, t.Material);
    }
}

void TMeshBuilder::Transform(const TFrame& frame, TVec offset)
{
    for (TVertex& v : FVertices) {
        v.Position = Apply(frame, v.Position) + offset;
        v.Normal = Apply(frame, v.Normal);
    }
}

void TMeshBuilder::Append(const TMeshBuilder& other)
{
    const auto offset = static_cast<std::int32_t>(FVertices.size());
    FVertices.insert(FVertices.end(), other.FVertices.begin(), other.FVertices.end());
    for (const TTriangle& t : other.FTriangles)
        Triangle(t.A + offset, t.B + offset, t.C + offset, t.Material);
}

TMeshDesc TMeshBuilder::Build(const TNodeHeaderDesc& header) const
{
    TMeshDesc mesh;
    mesh.Header = header;
    mesh.Flags = FlagPosition3 | FlagNormal | FlagTexCoord2 | (FColors ? FlagColorRGB : 0);
    mesh.Vertices.reserve(FVertices.size() * (FColors ? 11 : 8));
    for (const TVertex& v : FVertices) {
        for (double f : {v.Position.x, v.Position.y, v.Position.z, v.Normal.x, v.Normal.y, v.Normal.z})
            mesh.Vertices.push_back(float(f));
        if (FColors)
            for (double f : {v.Color.x, v.Color.y, v.Color.z})
                mesh.Vertices.push_back(float(f));
        mesh.Vertices.push_back(float(v.U));
        mesh.Vertices.push_back(float(v.V));
    }
    std::vector<std::int32_t> order; // materials in order of first use
    for (const TTriangle& t : FTriangles)
        if (std::find(order.begin(), order.end(), t.Material) == order.end())
            order.push_back(t.Material);
    for (std::int32_t material : order) {
        TMeshFaceDesc face;
        face.Mode = GLTriangles;
        face.MaterialIndex = material;
        face.FirstIndex = static_cast<std::int32_t>(mesh.Indices.size());
        for (const TTriangle& t : FTriangles)
            if (t.Material == material)
                mesh.Indices.insert(mesh.Indices.end(), {t.A, t.B, t.C});
        face.Count = static_cast<std::int32_t>(mesh.Indices.size()) - face.FirstIndex;
        mesh.Faces.push_back(face);
    }
    return mesh;
}

TMeshBuilder UvSphere(double radius, int slices, int stacks, std::int32_t material, bool inward, double bottom,
                      double top)
{
    TMeshBuilder b;
    const double lat0 = Radians(bottom), lat1 = Radians(top);
    for (int j = 0; j <= stacks; ++j) {
        const double v = double(j) / stacks;
        const double lat = Mix(lat0, lat1, v);
        for (int i = 0; i <= slices; ++i) {
            const double u = double(i) / slices;
            const double lon = 2 * Pi * u;
            const TVec n{std::cos(lat) * std::cos(lon), std::sin(lat), -std::cos(lat) * std::sin(lon)};
            b.Add({n * radius, inward ? -n : n, u, v});
        }
    }
    const int row = slices + 1;
    for (int j = 0; j < stacks; ++j)
        for (int i = 0; i < slices; ++i) {
            const std::int32_t a = j * row + i, c = (j + 1) * row + i + 1;
            const TVec centre = b.Vertices()[std::size_t(a)].Position + b.Vertices()[std::size_t(c)].Position;
            // Near the poles one edge of the quad shrinks to a point; the
            // other triangle still carries the orientation.
            b.QuadFacing(a, a + 1, c, c - 1, material, inward ? -centre : centre);
        }
    return b;
}

TMeshBuilder Geosphere(double radius, int levels, bool flat, std::int32_t material,
                       const std::function<double(TVec)>& displace)
{
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<TVec> points = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                                {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    for (TVec& p : points)
        p = Normalize(p);
    std::vector<std::array<int, 3>> faces = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                             {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                             {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                             {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<int, int>, int> middle;
        auto midpoint = [&](int a, int b) {
            const auto key = std::minmax(a, b);
            const auto found = middle.find(key);
            if (found != middle.end())
                return found->second;
            points.push_back(Normalize(points[std::size_t(a)] + points[std::size_t(b)]));
            const int index = static_cast<int>(points.size() - 1);
            middle.emplace(key, index);
            return index;
        };
        std::vector<std::array<int, 3>> next;
        next.reserve(faces.size() * 4);
        for (const auto& f : faces) {
            const int ab = midpoint(f[0], f[1]), bc = midpoint(f[1], f[2]), ca = midpoint(f[2], f[0]);
            next.push_back({f[0], ab, ca});
            next.push_back({f[1], bc, ab});
            next.push_back({f[2], ca, bc});
            next.push_back({ab, bc, ca});
        }
        faces = std::move(next);
    }
    auto place = [&](TVec unit) { return unit * (radius * (displace ? displace(unit) : 1.0)); };
    TMeshBuilder b;
    if (flat) {
        for (const auto& f : faces) {
            const TVec p0 = place(points[std::size_t(f[0])]), p1 = place(points[std::size_t(f[1])]),
                       p2 = place(points[std::size_t(f[2])]);
            // Planar texture coordinates across the face's main axis.
            const TVec n = FaceNormal(p0, p1, p2);
            const TVec an{std::fabs(n.x), std::fabs(n.y), std::fabs(n.z)};
            auto uv = [&](TVec p, TVertex& v) {
                double s, q;
                if (an.x >= an.y && an.x >= an.z) {
                    s = p.z;
                    q = p.y;
                } else if (an.y >= an.z) {
                    s = p.x;
                    q = p.z;
                } else {
                    s = p.x;
                    q = p.y;
                }
                v.U = Clamp(0.5 + 0.45 * s / radius, 0.02, 0.98);
                v.V = Clamp(0.5 + 0.45 * q / radius, 0.02, 0.98);
            };
            TVertex v0{p0}, v1{p1}, v2{p2};
            uv(p0, v0);
            uv(p1, v1);
            uv(p2, v2);
            b.FlatTriangle(v0, v1, v2, material, p0 + p1 + p2);
        }
    } else {
        for (const TVec& unit : points) {
            TVertex v{place(unit), unit};
            v.U = 0.5 + 0.45 * unit.x;
            v.V = 0.5 + 0.45 * unit.y;
            b.Add(v);
        }
        for (const auto& f : faces)
            b.TriangleFacing(f[0], f[1], f[2], material, points[std::size_t(f[0])]);
    }
    return b;
}

TMeshBuilder Torus(double majorRadius, double minorRadius, int segments, int sides, std::int32_t material)
{
    TMeshBuilder b;
    for (int i = 0; i <= segments; ++i) {
        const double theta = 2 * Pi * i / segments;
        for (int j = 0; j <= sides; ++j) {
            const double phi = 2 * Pi * j / sides;
            const TVec n{std::cos(phi) * std::cos(theta), std::cos(phi) * std::sin(theta), std::sin(phi)};
            const TVec centre{majorRadius * std::cos(theta), majorRadius * std::sin(theta), 0};
            TVertex v{centre + n * minorRadius, n};
            v.U = MirroredCoordinate(i, segments / 8.0, 0.01);
            v.V = 0.02 + 0.96 * double(j) / sides;
            b.Add(v);
        }
    }
    const int row = sides + 1;
    for (int i = 0; i < segments; ++i)
        for (int j = 0; j < sides; ++j) {
            const std::int32_t a = i * row + j;
            b.QuadFacing(a, a + row, a + row + 1, a + 1, material, b.Vertices()[std::size_t(a)].Normal);
        }
    return b;
}

TMeshBuilder Crystal(double radius, double height, double tip, std::int32_t material)
{
    TMeshBuilder b;
    constexpr int Sides = 6;
    for (int i = 0; i < Sides; ++i) {
        const double a0 = 2 * Pi * i / Sides, a1 = 2 * Pi * (i + 1) / Sides;
        const TVec r0{std::cos(a0) * radius, 0, std::sin(a0) * radius};
        const TVec r1{std::cos(a1) * radius, 0, std::sin(a1) * radius};
        const TVec up{0, height, 0}, apex{0, height + tip, 0};
        const TVec out = r0 + r1;
        const double bodyTop = 0.7;
        b.FlatTriangle({r0, {}, 0.05, 0.02}, {r1, {}, 0.95, 0.02}, {r1 + up, {}, 0.95, bodyTop}, material, out);
        b.FlatTriangle({r0, {}, 0.05, 0.02}, {r1 + up, {}, 0.95, bodyTop}, {r0 + up, {}, 0.05, bodyTop}, material,
                       out);
        b.FlatTriangle({r0 + up, {}, 0.05, bodyTop}, {r1 + up, {}, 0.95, bodyTop}, {apex, {}, 0.5, 0.98}, material,
                       out + up * (radius / tip));
    }
    return b;
}

TMeshBuilder Square(double size, std::int32_t material)
{
    TMeshBuilder b;
    const double h = size / 2;
    const std::int32_t a = b.Add({{-h, -h, 0}, {0, 0, 1}, 0, 0});
    const std::int32_t c = b.Add({{h, -h, 0}, {0, 0, 1}, 1, 0});
    const std::int32_t d = b.Add({{h, h, 0}, {0, 0, 1}, 1, 1});
    const std::int32_t e = b.Add({{-h, h, 0}, {0, 0, 1}, 0, 1});
    b.Quad(a, c, d, e, material);
    return b;
}

TMeshBuilder Pipe(const std::vector<TPipeRing>& rings, double innerRadius, double outerRadius, int sides,
                  int repeat, std::int32_t innerMaterial, std::int32_t outerMaterial,
                  const std::function<bool(int ring, int side)>& open)
{
    TMeshBuilder b;
    const int row = sides + 1;
    auto wall = [&](double radius, bool inner, std::int32_t material) {
        const auto first = static_cast<std::int32_t>(b.VertexCount());
        for (std::size_t i = 0; i < rings.size(); ++i) {
            const double v = MirroredCoordinate(double(i), repeat, 0.01);
            for (int j = 0; j <= sides; ++j) {
                const double phi = 2 * Pi * j / sides;
                const TVec out = rings[i].Frame.X * std::cos(phi) + rings[i].Frame.Y * std::sin(phi);
                TVertex vertex{rings[i].Centre + out * radius, inner ? -out : out};
                vertex.U = 0.01 + 0.98 * double(j) / sides;
                vertex.V = v;
                b.Add(vertex);
            }
        }
        for (std::size_t i = 0; i + 1 < rings.size(); ++i)
            for (int j = 0; j < sides; ++j) {
                if (open && open(static_cast<int>(i), j))
                    continue;
                const std::int32_t a = first + static_cast<std::int32_t>(i) * row + j;
                b.QuadFacing(a, a + 1, a + row + 1, a + row, material, b.Vertices()[std::size_t(a)].Normal);
            }
    };
    wall(innerRadius, true, innerMaterial);
    wall(outerRadius, false, outerMaterial);
    // The rims close the wall's thickness at both ends.
    for (int end = 0; end < 2; ++end) {
        const TPipeRing& ring = end == 0 ? rings.front() : rings.back();
        const TVec facing = end == 0 ? -ring.Frame.Z : ring.Frame.Z;
        const auto first = static_cast<std::int32_t>(b.VertexCount());
        for (int j = 0; j <= sides; ++j) {
            const double phi = 2 * Pi * j / sides;
            const TVec out = ring.Frame.X * std::cos(phi) + ring.Frame.Y * std::sin(phi);
            const double u = 0.01 + 0.98 * double(j) / sides;
            b.Add({ring.Centre + out * innerRadius, facing, u, 0.02});
            b.Add({ring.Centre + out * outerRadius, facing, u, 0.2});
        }
        for (int j = 0; j < sides; ++j) {
            const std::int32_t a = first + 2 * j;
            b.QuadFacing(a, a + 2, a + 3, a + 1, outerMaterial, facing);
        }
    }
    return b;
}

TMeshBuilder HeightField(int n, double cell, int tile, const std::function<double(double, double)>& height,
                         const std::function<TVec(TVec, TVec)>& colour, std::int32_t material)
{
    TMeshBuilder b(true);
    const double origin = -0.5 * n * cell;
    const double e = cell * 0.5;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = origin + i * cell, z = origin + j * cell;
            const TVec p{x, height(x, z), z};
            const double dx = height(x + e, z) - height(x - e, z);
            const double dz = height(x, z + e) - height(x, z - e);
            const TVec normal = Normalize({-dx, 2 * e, -dz});
            TVertex v{p, normal};
            v.U = MirroredCoordinate(i, tile, 1.0 / 16);
            v.V = MirroredCoordinate(j, tile, 1.0 / 16);
            v.Color = colour(p, normal);
            b.Add(v);
        }
    const int row = n + 1;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const std::int32_t a = j * row + i;
            b.QuadFacing(a, a + 1, a + row + 1, a + row, material, {0, 1, 0});
        }
    return b;
}

double MirroredCoordinate(double position, double period, double inset)
{
    const double t = position / period;
    const double f = t - 2.0 * std::floor(t / 2.0); // 0 .. 2
    const double tri = f <= 1.0 ? f : 2.0 - f;
    return inset + (1.0 - 2.0 * inset) * tri;
}

} // namespace vendrake::demo
