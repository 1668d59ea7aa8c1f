// TgrPrimitive: layout, payload reading and saving, setters, normals, copying.
// The paint routines are in mesh_paint.cpp.
#include "render/mesh.h"

#include "stream/chunk.h"
#include "stream/stream.h"

#include <algorithm>

namespace vendrake {

namespace {

struct TLayout {
    std::int32_t Position = 0; // floats of the position
    std::int32_t NormalOffset = 0;
    std::int32_t ColorOffset = 0;
    std::array<std::int32_t, 8> TexCoordOffsets{};
    std::int32_t Stride = 0;
};

TLayout LayoutOf(std::uint32_t flags)
{
    TLayout layout;
    std::int32_t o = 0;
    layout.Position = (flags & TMeshFlag::Position4)   ? 4
                      : (flags & TMeshFlag::Position3) ? 3
                      : (flags & TMeshFlag::Position2) ? 2
                                                       : 0;
    o += layout.Position;
    layout.NormalOffset = o;
    if (flags & TMeshFlag::Normal)
        o += 3;
    layout.ColorOffset = o;
    o += (flags & TMeshFlag::ColorRGBA) ? 4 : (flags & TMeshFlag::ColorRGB) ? 3 : 0;
    for (int set = 0; set < 8; ++set) {
        layout.TexCoordOffsets[static_cast<std::size_t>(set)] = o;
        // Sets 3 to 7 take four times their component count.
        const std::int32_t scale = set >= 3 ? 4 : 1;
        if (flags & TMeshFlag::TexCoord3(set))
            o += 3 * scale;
        else if (flags & TMeshFlag::TexCoord2(set))
            o += 2 * scale;
    }
    layout.Stride = o;
    return layout;
}

void RequireCount(std::int32_t value, const char* what)
{
    if (value < 0)
        throw std::invalid_argument(std::string("TgrPrimitive.") + what + ": negative count " +
                                    std::to_string(value));
}

} // namespace

TgrPrimitive::TgrPrimitive() = default;

TgrPrimitive::TgrPrimitive(void* context) : TgrPositional(context) {}

std::string TgrPrimitive::Describe() const
{
    return "mesh '" + Name + "' (Id " + std::to_string(Id) + ")";
}

// --- Layout and counts ---------------------------------------------------------

void TgrPrimitive::ComputeLayout()
{
    const TLayout layout = LayoutOf(FFlags);
    FPositionOffset = 0;
    FNormalOffset = layout.NormalOffset;
    FColorOffset = layout.ColorOffset;
    FTexCoordOffsets = layout.TexCoordOffsets;
    FStride = layout.Stride;
}

int TgrPrimitive::PositionSize() const
{
    // Three components win over four here, unlike in the layout; a record
    // laid out for four then hands out its first three.
    if (FFlags & TMeshFlag::Position3)
        return 3;
    if (FFlags & TMeshFlag::Position4)
        return 4;
    if (FFlags & TMeshFlag::Position2)
        return 2;
    return 0;
}

void TgrPrimitive::SetFlags(std::uint32_t value)
{
    FFlags = value;
    ComputeLayout();
    // Keeps VertexCount records in the buffer whatever the new stride is.
    ResizeZeroed(FVertices, static_cast<std::size_t>(FVertexCount) * static_cast<std::size_t>(FStride));
}

void TgrPrimitive::SetVertexCount(std::int32_t value)
{
    RequireCount(value, "SetVertexCount");
    FVertexCount = value;
    if (FStride == 0)
        ComputeLayout();
    ResizeZeroed(FVertices, static_cast<std::size_t>(FVertexCount) * static_cast<std::size_t>(FStride));
}

void TgrPrimitive::SetIndexCount(std::int32_t value)
{
    RequireCount(value, "SetIndexCount");
    const std::size_t kept = FIndices.size();
    FIndexCount = value;
    FIndices.resize(static_cast<std::size_t>(value));
    if (FIndices.size() >= kept)
        // Every old index is kept and the new ones are 0.
        FIndexLimit = FIndices.size() > kept ? std::max<std::uint32_t>(FIndexLimit, 1) : FIndexLimit;
    else
        UpdateIndexLimit();
}

void TgrPrimitive::SetFaceCount(std::int32_t value)
{
    RequireCount(value, "SetFaceCount");
    FFaceCount = value;
    FFaces.resize(static_cast<std::size_t>(value));
}

void TgrPrimitive::SetTriangleIndexCount(std::int32_t value)
{
    RequireCount(value, "SetTriangleIndexCount");
    FTriangleIndexCount = value;
    FTriangleIndices.resize(static_cast<std::size_t>(value));
}

void TgrPrimitive::SetIndices(std::span<const std::int32_t> values)
{
    FIndices.assign(values.begin(), values.end());
    FIndexCount = static_cast<std::int32_t>(FIndices.size());
    UpdateIndexLimit();
}

void TgrPrimitive::UpdateIndexLimit()
{
    // Eight running maxima, which the compiler keeps in one vector register.
    std::uint32_t lanes[8] = {};
    const std::size_t n = FIndices.size();
    const std::int32_t* indices = FIndices.data();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int k = 0; k < 8; ++k)
            lanes[k] = std::max(lanes[k], static_cast<std::uint32_t>(indices[i + std::size_t(k)]));
    for (; i < n; ++i)
        lanes[0] = std::max(lanes[0], static_cast<std::uint32_t>(indices[i]));
    const std::uint32_t largest = *std::max_element(lanes, lanes + 8);
    // An index of 0xFFFFFFFF (-1) saturates: it is out of range either way.
    FIndexLimit = FIndices.empty() ? 0 : std::max(largest, largest + 1);
}

bool TgrPrimitive::FaceInRange(const TgrMeshFace& face) const
{
    return face.FirstIndex >= 0 && face.Count >= 0 &&
           static_cast<std::int64_t>(face.FirstIndex) + face.Count <= FIndexCount;
}

void TgrPrimitive::SetMaterials(TgrTreePtr tree)
{
    if (tree) {
        const int materials = tree->Count();
        for (std::size_t i = 0; i < FFaces.size(); ++i) {
            const std::int32_t index = FFaces[i].MaterialIndex;
            if (index < 0 || index >= materials)
                throw EMeshError("Mesh error in " + Describe() + ": face " + std::to_string(i) +
                                 " selects material " + std::to_string(index) +
                                 ", but the material tree holds " + std::to_string(materials) +
                                 " materials");
        }
    }
    FMaterials = std::move(tree);
}

void TgrPrimitive::ChoosePaintMethod()
{
    PaintMethod = &TgrPrimitive::PaintFakeArray;
    if (FIndexCount > 0)
        PaintMethod = &TgrPrimitive::PaintVertexArray;
    if (FIndexCount > 0 && FFaceCount > 0)
        PaintMethod = &TgrPrimitive::PaintFaces;
    if (FIndexCount > 0 && FFaceCount > 0 && FMaterials)
        PaintMethod = &TgrPrimitive::PaintMaterialFaces;
}

// --- Payload -------------------------------------------------------------------

bool TgrPrimitive::ReadFromStream(TStream& stream, bool withHeader)
{
    if (withHeader)
        SkipChunkHeader(stream);
    ReadNodeHeader(stream);
    float placement[7]; // object position and rotation; painting does not use them
    stream.ReadBuffer(placement, sizeof placement);
    const std::uint32_t flags = stream.ReadUInt32();
    const std::int64_t countsAt = stream.Position();
    std::int32_t counts[3];
    stream.ReadBuffer(counts, sizeof counts);

    // Everything the counts promise must fit in what the stream still holds,
    // checked before a single buffer is sized.
    static constexpr const char* CountNames[3] = {"vertex count", "index count", "face count"};
    const std::int64_t recordBytes = 4 * static_cast<std::int64_t>(LayoutOf(flags).Stride);
    const std::int64_t itemBytes[3] = {recordBytes, 4, static_cast<std::int64_t>(sizeof(TgrMeshFace))};
    std::int64_t left = stream.Remaining();
    for (int i = 0; i < 3; ++i) {
        const std::int64_t at = countsAt + 4 * i;
        if (counts[i] < 0)
            stream.RaiseReadError(at, std::string("negative ") + CountNames[i] + " " +
                                          std::to_string(counts[i]) + " in " + Describe());
        const std::int64_t bytes = itemBytes[i] * counts[i];
        if (bytes > left)
            stream.RaiseReadError(at, std::string(CountNames[i]) + " " + std::to_string(counts[i]) +
                                          " needs " + std::to_string(bytes) + " bytes, but only " +
                                          std::to_string(std::max<std::int64_t>(left, 0)) +
                                          " are left for " + Describe());
        left -= bytes;
    }

    SetFlags(flags);
    SetVertexCount(counts[0]);
    SetIndexCount(counts[1]);
    SetFaceCount(counts[2]);

    if (!FVertices.empty())
        stream.ReadBuffer(FVertices.data(), FVertices.size() * sizeof(float));

    const std::int64_t indicesAt = stream.Position();
    if (!FIndices.empty()) {
        stream.ReadBuffer(FIndices.data(), FIndices.size() * sizeof(std::int32_t));
        // Painting refuses indexed drawing while an index is out of range, so
        // the mesh stays safe to paint even if the error below is ignored.
        // The same pass tells whether any index is bad.
        UpdateIndexLimit();
    }
    const std::int64_t facesAt = stream.Position();
    if (!FFaces.empty())
        stream.ReadBuffer(FFaces.data(), FFaces.size() * sizeof(TgrMeshFace));

    for (std::size_t i = 0; !IndicesInRange() && i < FIndices.size(); ++i) {
        const std::int32_t index = FIndices[i];
        if (index < 0 || index >= FVertexCount)
            stream.RaiseReadError(indicesAt + 4 * static_cast<std::int64_t>(i),
                                  "index " + std::to_string(index) + " (entry " + std::to_string(i) +
                                      ") is outside the " + std::to_string(FVertexCount) +
                                      " vertices of " + Describe());
    }
    for (std::size_t i = 0; i < FFaces.size(); ++i) {
        const TgrMeshFace& face = FFaces[i];
        if (!FaceInRange(face))
            stream.RaiseReadError(facesAt + 16 * static_cast<std::int64_t>(i),
                                  "face " + std::to_string(i) + " (FirstIndex " +
                                      std::to_string(face.FirstIndex) + ", Count " +
                                      std::to_string(face.Count) + ") reaches outside the " +
                                      std::to_string(FIndexCount) + " indices of " + Describe());
    }

    ChoosePaintMethod();
    return true;
}

bool TgrPrimitive::WriteToStream(TStream& stream, bool withHeader)
{
    // A writer without a stream frames nothing.
    TMasterChuncer chunk(withHeader ? &stream : nullptr);
    chunk.BeginChunk(ChunkGroupKey, TypeKey, 0);
    stream.WriteInt32(FStride);
    stream.WriteInt32(FVertexCount);
    stream.WriteInt32(FIndexCount);
    stream.WriteUInt32(FFlags);
    stream.WriteInt32(0);
    if (!FVertices.empty())
        stream.WriteBuffer(FVertices.data(), FVertices.size() * sizeof(float));
    if (FIndexCount > 0)
        stream.WriteBuffer(FIndices.data(), FIndices.size() * sizeof(std::int32_t));
    chunk.EndChunk();
    return true;
}

// --- Vertex access and normals -------------------------------------------------

float* TgrPrimitive::VertexPtr(std::int32_t index)
{
    if (index < 0 || index >= FVertexCount || FStride == 0)
        return nullptr;
    return FVertices.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(FStride) +
           FPositionOffset;
}

float* TgrPrimitive::NormalPtr(std::int32_t index)
{
    if (!(FFlags & TMeshFlag::Normal))
        return nullptr;
    float* record = VertexPtr(index);
    return record ? record - FPositionOffset + FNormalOffset : nullptr;
}

TVector3 TgrPrimitive::Position(std::int32_t index) const
{
    const float* p = FVertices.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(FStride);
    // A two-component position lies in the z = 0 plane.
    const bool hasZ = (FFlags & (TMeshFlag::Position3 | TMeshFlag::Position4)) != 0;
    if (!hasZ && !(FFlags & TMeshFlag::Position2))
        return {};
    return {p[0], p[1], hasZ ? p[2] : 0.0f};
}

void TgrPrimitive::SetNormal(std::int32_t index, float x, float y, float z)
{
    if (float* n = NormalPtr(index)) {
        n[0] = x;
        n[1] = y;
        n[2] = z;
    }
}

void TgrPrimitive::AddNormal(std::int32_t index, TVector3 n)
{
    if (float* p = NormalPtr(index)) {
        const TVector3 sum = TVector::Add({p[0], p[1], p[2]}, n);
        SetNormal(index, sum.x, sum.y, sum.z);
    }
}

TVector3 TgrPrimitive::FaceNormal(const TVector3& a, const TVector3& b, const TVector3& c) const
{
    const double ux = double(a.x) - b.x, uy = double(a.y) - b.y, uz = double(a.z) - b.z;
    const double vx = double(a.x) - c.x, vy = double(a.y) - c.y, vz = double(a.z) - c.z;
    // Normalize keeps a zero vector zero, so a degenerate triangle gets no
    // direction rather than NaNs.
    return TVector::Normalize({static_cast<float>(uy * vz - uz * vy), static_cast<float>(uz * vx - ux * vz),
                               static_cast<float>(ux * vy - uy * vx)});
}

void TgrPrimitive::ComputeFlatNormals()
{
    if (!(FFlags & TMeshFlag::Normal))
        return;
    // Whole triangles only: a trailing vertex or two keep their normals.
    for (std::int32_t i = 0; i + 2 < FVertexCount; i += 3) {
        const TVector3 n = FaceNormal(Position(i + 2), Position(i + 1), Position(i));
        for (int k = 0; k < 3; ++k)
            SetNormal(i + k, n.x, n.y, n.z);
    }
}

void TgrPrimitive::ComputeIndexedFlatNormals()
{
    if (!(FFlags & TMeshFlag::Normal))
        return;
    for (std::int32_t i = 0; i + 2 < FIndexCount; i += 3) {
        const std::int32_t* t = FIndices.data() + i;
        if (std::any_of(t, t + 3, [this](std::int32_t v) { return v < 0 || v >= FVertexCount; }))
            continue;
        // A shared vertex keeps the normal of the last triangle touching it.
        const TVector3 n = FaceNormal(Position(t[2]), Position(t[1]), Position(t[0]));
        for (int k = 0; k < 3; ++k)
            SetNormal(t[k], n.x, n.y, n.z);
    }
}

void TgrPrimitive::ComputeSmoothNormals()
{
    if (!(FFlags & TMeshFlag::Normal))
        return;
    for (std::int32_t i = 0; i < FVertexCount; ++i)
        SetNormal(i, 0, 0, 0);
    for (std::int32_t i = 0; i + 2 < FTriangleIndexCount; i += 3) {
        const std::int32_t* t = FTriangleIndices.data() + i;
        if (std::any_of(t, t + 3, [this](std::int32_t v) { return v < 0 || v >= FVertexCount; }))
            continue;
        const TVector3 n = FaceNormal(Position(t[2]), Position(t[1]), Position(t[0]));
        for (int k = 0; k < 3; ++k)
            AddNormal(t[k], n);
    }
    for (std::int32_t i = 0; i < FVertexCount; ++i) {
        float* p = NormalPtr(i);
        const TVector3 n = TVector::Normalize({p[0], p[1], p[2]});
        SetNormal(i, n.x, n.y, n.z);
    }
}

// --- Copying -------------------------------------------------------------------

bool TgrPrimitive::Assign(const TgrPrimitive& source)
{
    if (&source != this) {
        SetFlags(source.FFlags);
        SetVertexCount(source.FVertexCount);
        SetTriangleIndexCount(source.FTriangleIndexCount);
        SetIndexCount(source.FIndexCount);
        SetFaceCount(source.FFaceCount);
        auto copy = [](const auto& from, auto& to) {
            std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
        };
        copy(source.FVertices, FVertices);
        copy(source.FTriangleIndices, FTriangleIndices);
        copy(source.FIndices, FIndices);
        copy(source.FFaces, FFaces);
        UpdateIndexLimit();
    }
    ChoosePaintMethod();
    return true;
}

} // namespace vendrake
