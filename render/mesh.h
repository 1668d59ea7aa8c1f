#pragma once
// TgrPrimitive: the mesh node. Vertex records are interleaved in one float
// buffer whose layout the format flags choose; an optional index list and
// optional face records (index ranges with a material each) select how it is
// drawn. The buffer goes to OpenGL as client arrays with a byte stride, so a
// face group is one draw call and nothing is copied per frame.
//
// Counts and buffers are kept in step by the setters: Vertices always holds
// VertexCount records of Stride floats, and the paint routines check the
// index and face ranges they hand to OpenGL, so no pointer given to the
// driver can be read past its buffer.
#include "math/vector.h"
#include "platform/zeroed_vector.h"
#include "scene/transform.h"

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

// Bits of TgrPrimitive::Flags. In a group the highest-precedence bit decides
// how many floats the record holds: position 4 over 3 over 2 components,
// RGBA over RGB, 3 over 2 texture components.
struct TMeshFlag {
    static constexpr std::uint32_t Position2 = 0x1;
    static constexpr std::uint32_t Position3 = 0x2;
    static constexpr std::uint32_t Position4 = 0x4;
    static constexpr std::uint32_t Normal = 0x8;
    static constexpr std::uint32_t ColorRGB = 0x10;
    static constexpr std::uint32_t ColorRGBA = 0x20;
    // Texture-coordinate set 0..7 with 2 or 3 components. Sets 3 to 7 take
    // four times their component count in the record.
    static constexpr std::uint32_t TexCoord2(int set) { return 0x40u << (2 * set); }
    static constexpr std::uint32_t TexCoord3(int set) { return 0x80u << (2 * set); }
    // Set by the constructor; nothing tests it.
    static constexpr std::uint32_t Created = 0x400000;
};

// One draw call of an indexed mesh: Count entries of Indices from FirstIndex,
// drawn as Mode with the material at MaterialIndex. 16 bytes, in memory as in
// the scene file.
struct TgrMeshFace {
    std::int32_t Mode = 0;
    std::int32_t MaterialIndex = 0;
    std::int32_t FirstIndex = 0;
    std::int32_t Count = 0;
};
static_assert(sizeof(TgrMeshFace) == 16);

using TgrPrimitiveIndexes = std::vector<std::int32_t>;
using TgrMeshFaces = std::vector<TgrMeshFace>;

// A mesh that cannot be used as it stands, such as a face naming a material
// the material tree does not have.
class EMeshError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TgrPrimitive : public TgrPositional {
    VENDRAKE_NODE_CLASS(TgrPrimitive, TgrPositional)
public:
    // A paint routine, called on the mesh with the mesh itself as sender.
    // A pointer to a virtual routine calls the subclass's replacement.
    using TPaintMethod = void (TgrPrimitive::*)(TgrPrimitive& sender);

    // The chunk type of meshes in the scene file ("MESH").
    static constexpr std::uint32_t TypeKey = 0x4D455348;

    TgrPrimitive();
    explicit TgrPrimitive(void* context);
    // Deletes the display list when the context it was made in is current
    // on the calling thread; otherwise that context keeps it until it goes.
    ~TgrPrimitive() override;

    // Reads the scene-file payload: node header, object position and
    // rotation (not kept), Flags, the three counts, then the vertex records,
    // indices and face records. Counts, index values and face ranges are
    // checked against the stream and each other before anything is allocated
    // or stored; a bad one raises EReadError naming its offset and value.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    // The save layout: Stride, VertexCount, IndexCount, Flags, a zero word,
    // the vertex records, then the indices; framed as one chunk when asked.
    bool WriteToStream(TStream& stream, bool withHeader) override;
    void Action() override;

    // Address of vertex record index (its position), or null outside the mesh.
    virtual float* VertexPtr(std::int32_t index);
    // Address of vertex index's normal, or null outside the mesh or when the
    // records hold no normal.
    virtual float* NormalPtr(std::int32_t index);
    virtual void PaintFaces(TgrPrimitive& sender);
    virtual void PaintMaterialFaces(TgrPrimitive& sender);
    virtual void ComputeFlatNormals();
    virtual void ComputeSmoothNormals();
    virtual void ComputeIndexedFlatNormals();
    // unit((a - b) x (a - c)); a degenerate triangle gives (0, 0, 0).
    virtual TVector3 FaceNormal(const TVector3& a, const TVector3& b, const TVector3& c) const;
    // Copies source's format, vertices, indices, triangle indices and faces,
    // then chooses the paint routine. Materials and switches are not copied.
    virtual bool Assign(const TgrPrimitive& source);
    // Compiles the mesh's own painting (not its children) into a display list
    // that Action calls from then on.
    virtual bool BuildList();
    virtual bool DeleteList();

    void PaintPlain(TgrPrimitive& sender);
    void PaintFakeArray(TgrPrimitive& sender);
    void PaintVertexArray(TgrPrimitive& sender);

    // Stores the flags and lays the record out for them. Existing records are
    // resized to the new stride (their floats are not moved), so set the
    // flags before filling the vertices.
    void SetFlags(std::uint32_t value);
    // Lays the record out when that has not happened yet, then resizes the
    // vertex buffer, keeping its content. Negative counts raise
    // std::invalid_argument, as do those of the three setters below.
    void SetVertexCount(std::int32_t value);
    void SetIndexCount(std::int32_t value);
    void SetFaceCount(std::int32_t value);
    void SetTriangleIndexCount(std::int32_t value);
    // Replaces the index list (and IndexCount). Values must lie below
    // VertexCount when drawn: painting checks the largest one and skips
    // indexed drawing while it does not.
    void SetIndices(std::span<const std::int32_t> values);
    // The tree whose children, by position, are the materials face records
    // select. Raises EMeshError naming the mesh, face and index when a face
    // selects a material the tree does not have; the mesh then keeps its
    // previous tree. An empty pointer clears it.
    void SetMaterials(TgrTreePtr tree);
    void SetEnabled(bool value) { Enabled = value; }
    // Writes vertex index's normal when the records hold normals and index
    // lies inside the mesh; otherwise does nothing.
    void SetNormal(std::int32_t index, float x, float y, float z);
    // Picks the paint routine from what the mesh holds: indices, face
    // records, a material tree.
    void ChoosePaintMethod();
    // Computes Stride and the offsets from Flags.
    void ComputeLayout();

    std::int32_t Stride() const { return FStride; }
    std::int32_t VertexCount() const { return FVertexCount; }
    std::int32_t IndexCount() const { return FIndexCount; }
    std::int32_t FaceCount() const { return FFaceCount; }
    std::int32_t TriangleIndexCount() const { return FTriangleIndexCount; }
    std::uint32_t Flags() const { return FFlags; }
    std::int32_t PositionOffset() const { return FPositionOffset; }
    std::int32_t NormalOffset() const { return FNormalOffset; }
    std::int32_t ColorOffset() const { return FColorOffset; }
    const std::array<std::int32_t, 8>& TexCoordOffsets() const { return FTexCoordOffsets; }
    std::uint32_t DisplayList() const { return FDisplayList; }
    const TgrTreePtr& Materials() const { return FMaterials; }

    // VertexCount records of Stride floats, back to back.
    std::span<float> Vertices() { return FVertices; }
    std::span<const float> Vertices() const { return FVertices; }
    std::span<const std::int32_t> Indices() const { return FIndices; }
    // Every index names a vertex of the mesh; indexed drawing needs it.
    bool IndicesInRange() const { return FIndexLimit <= static_cast<std::uint32_t>(FVertexCount); }
    // Used only by ComputeSmoothNormals, three per triangle; triangles with
    // an index outside the mesh are skipped there.
    std::span<std::int32_t> TriangleIndices() { return FTriangleIndices; }
    // Face ranges outside Indices are skipped when painting.
    std::span<TgrMeshFace> Faces() { return FFaces; }
    std::span<const TgrMeshFace> Faces() const { return FFaces; }

    TPaintMethod PaintMethod = &TgrPrimitive::PaintPlain;
    bool Enabled = true;       // false: Action paints nothing of the mesh itself
    bool PaintChildren = true; // false: Action stops after the mesh itself

private:
    // Components the position pointer hands to OpenGL (3 before 4 before 2);
    // 0 when the records hold no position.
    int PositionSize() const;
    // Client-array drawing needs records with a position.
    bool CanDrawArrays() const { return FStride > 0 && PositionSize() > 0; }
    bool FaceInRange(const TgrMeshFace& face) const;
    // The shared start of the array routines: push the client state, enable
    // the arrays over the interleaved buffer. exactTexCoords: set 0 with three
    // components goes out with size 3 (face routines) instead of 2.
    void SetClientArrays(const char* label, bool exactTexCoords);
    void DrawFace(const TgrMeshFace& face);
    // The face routines; with materials, the material of each face group is
    // painted before it and restored after the group.
    void DrawFaces(bool withMaterials, const char* startLabel, const char* endLabel);
    void DrawNormalLines();
    TVector3 Position(std::int32_t index) const;
    void AddNormal(std::int32_t index, TVector3 n);
    void UpdateIndexLimit();
    std::string Describe() const;

    std::int32_t FStride = 0;
    std::int32_t FVertexCount = 0;
    std::int32_t FIndexCount = 0;
    TZeroedVector<float> FVertices;
    TgrPrimitiveIndexes FIndices;
    TgrPrimitiveIndexes FTriangleIndices;
    TgrMeshFaces FFaces;
    std::uint32_t FFlags = TMeshFlag::Position3 | TMeshFlag::Created;
    std::int32_t FPositionOffset = 0;
    std::int32_t FNormalOffset = 0;
    std::int32_t FColorOffset = 0;
    std::array<std::int32_t, 8> FTexCoordOffsets{};
    std::int32_t FFaceCount = 0;
    std::uint32_t FDisplayList = 0;
    std::uint64_t FListContext = 0; // CurrentContextId when the list was made
    std::int32_t FTriangleIndexCount = 0;
    TgrTreePtr FMaterials;
    // One past the largest index as an unsigned value (0 without indices),
    // so a negative index counts as out of range.
    std::uint32_t FIndexLimit = 0;
};

} // namespace vendrake
