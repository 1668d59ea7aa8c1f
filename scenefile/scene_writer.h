#pragma once
// Authoring scene files from plain descriptions. Every chunk kind the loader
// reads can be written, each framed as one chunk; a chunk may carry nested
// chunks, written by the callback given with it.
//
//     TSceneWriter w(stream);
//     w.Material(material, [&] { w.Map(map); });
//     w.Mesh(mesh);
//
// The writer does not check what it is given: tests use it to write
// malformed files as well.
#include "stream/chunk.h"
#include "stream/stream.h"
#include "math/quaternion.h"
#include "math/vector.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vendrake {

// The common node header: Id, ParentId, a reserved word, the name.
struct TNodeHeaderDesc {
    std::int32_t Id = 0;
    std::int32_t ParentId = 0;
    std::int32_t Reserved = 0;
    std::string Name;
};

struct TMeshFaceDesc {
    std::int32_t Mode = 4; // GL_TRIANGLES
    std::int32_t MaterialIndex = 0;
    std::int32_t FirstIndex = 0;
    std::int32_t Count = 0;
};

struct TMeshDesc {
    TNodeHeaderDesc Header;
    TVector3 Position;             // stored, not used for painting
    TQuat Rotation{1, 0, 0, 0};    // stored as x, y, z, w
    std::uint32_t Flags = 0x2;     // position with 3 components
    // -1: Vertices.size() / the stride of Flags.
    std::int32_t VertexCount = -1;
    std::vector<float> Vertices;   // interleaved records in the layout of Flags
    std::vector<std::int32_t> Indices;
    std::vector<TMeshFaceDesc> Faces;
};

// Floats per vertex record for a set of format flags.
std::int32_t MeshStride(std::uint32_t flags);

struct TMaterialDesc {
    TNodeHeaderDesc Header;
    std::int32_t Shading = 1;   // 0 flat, 1 to 3 smooth
    std::int32_t TwoSided = 0;  // > 0: both faces
    std::int32_t Wireframe = 0; // > 0: lines
    float LineWidth = 1;
    TVector4 Ambient{0.2f, 0.2f, 0.2f, 1};
    TVector4 Diffuse{0.8f, 0.8f, 0.8f, 1};
    TVector4 Specular{0, 0, 0, 1};
    TVector4 Emission{0, 0, 0, 1};
    float Shininess = 0.1f;     // as stored: the node uses 100 times this
    float SpecularLevel = 1;    // scales the red, green and blue of Specular
    std::int32_t Spare1 = 0, Spare2 = 0;
};

// A material's map: which texture map (by position among the file's texture
// maps) and how (kind 1: modulate, and alpha-blend 32-bit images).
struct TMapDesc {
    std::int32_t MapKind = 1;
    std::int32_t TextureNumber = 0;
    std::uint64_t Value1 = 0, Value2 = 0; // stored, unused
};

// A texture map: an image file named by Header.Name, or inline pixels, rows
// top to bottom, R, G, B (, A).
struct TTexMapDesc {
    TNodeHeaderDesc Header;
    bool Inline = false;
    std::int32_t Width = 0, Height = 0;
    std::int32_t BytesPerPixel = 3; // 3 or 4
    std::int32_t BitsPerComponent = 8;
    std::vector<std::uint8_t> Pixels;
};

struct TTransformDesc {
    std::int32_t OwnerId = 0;
    TVector3 Position;
    TQuat Rotation{1, 0, 0, 0}; // stored as x, y, z, w
    TVector3 Scale{1, 1, 1};    // stored, never applied
};

struct TCameraDesc {
    TNodeHeaderDesc Header;
    float Lens = 45; // field of view lens - lens / 4.5
    float Far = 1000;
    float Near = 1;
    std::int32_t Spare = 0;
};

// An animated transform. Kind 2 keys hold x, y, z; kind 4 keys hold x, y, z
// and a rotation quaternion x, y, z, w. Key k sits at time k * Step.
struct TAnimTransformDesc {
    std::int32_t Id = 0;
    std::int32_t OwnerId = 0;
    std::int32_t Kind = 4;
    std::int32_t KeyFormat = 1;
    std::int32_t FloatsPerKey = 7;
    std::int32_t Step = 1;
    std::vector<std::vector<float>> Keys; // each padded or cut to FloatsPerKey
    // -1: Keys.size().
    std::int32_t KeyCount = -1;
};

struct TLightDesc {
    TNodeHeaderDesc Header;
    bool Spot = false;
    bool Directional = false;
    TVector3 Color{1, 1, 1};
    float Multiplier = 1;
    bool Diffuse = true;
    bool Specular = true;
    bool Attenuated = false;
    float AttenuationDistance = 0;
    float Cone = 0; // degrees
};

class TSceneWriter {
public:
    using TNested = std::function<void()>;

    explicit TSceneWriter(TStream& stream) : FStream(stream) {}

    void Mesh(const TMeshDesc& mesh, const TNested& nested = {});
    void Material(const TMaterialDesc& material, const TNested& nested = {});
    void Map(const TMapDesc& map, const TNested& nested = {});
    void TexMap(const TTexMapDesc& texMap, const TNested& nested = {});
    void Transform(const TTransformDesc& transform, const TNested& nested = {});
    void Camera(const TCameraDesc& camera, const TNested& nested = {});
    void AnimTransform(const TAnimTransformDesc& anim, const TNested& nested = {});
    void Light(const TLightDesc& light, const TNested& nested = {});
    // Any chunk: the given payload bytes under the given keys.
    void Raw(std::uint32_t typeKey, const std::vector<std::uint8_t>& payload, const TNested& nested = {},
             std::uint32_t groupKey = ChunkGroupKey);

    TStream& Stream() { return FStream; }

private:
    void Chunk(std::uint32_t typeKey, const std::function<void()>& payload, const TNested& nested,
               std::uint32_t groupKey = ChunkGroupKey);
    void Header(const TNodeHeaderDesc& header);
    void Vector4(const TVector4& v);

    TStream& FStream;
};

// Reads a whole file into memory.
std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName);

} // namespace vendrake
