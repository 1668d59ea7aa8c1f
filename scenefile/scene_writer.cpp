#include "scenefile/scene_writer.h"

#include "render/mesh.h"

#include <algorithm>

namespace vendrake {

std::int32_t MeshStride(std::uint32_t flags)
{
    // The mesh node's own layout, so the writer and the reader never differ.
    TgrPrimitive layout;
    layout.SetFlags(flags);
    return layout.Stride();
}

void TSceneWriter::Chunk(std::uint32_t typeKey, const std::function<void()>& payload, const TNested& nested,
                         std::uint32_t groupKey)
{
    TMasterChuncer chunk(&FStream);
    chunk.BeginChunk(groupKey, typeKey, 0);
    payload();
    if (nested)
        nested();
    chunk.EndChunk();
}

void TSceneWriter::Header(const TNodeHeaderDesc& h)
{
    FStream.WriteInt32(h.Id);
    FStream.WriteInt32(h.ParentId);
    FStream.WriteInt32(h.Reserved);
    FStream.WriteInt32(static_cast<std::int32_t>(h.Name.size()));
    FStream.WriteBuffer(h.Name.data(), h.Name.size());
}

void TSceneWriter::Vector4(const TVector4& v)
{
    for (float f : {v.x, v.y, v.z, v.w})
        FStream.WriteSingle(f);
}

void TSceneWriter::Mesh(const TMeshDesc& m, const TNested& nested)
{
    Chunk(ChunkTypeMesh, [&] {
        Header(m.Header);
        for (float f : {m.Position.x, m.Position.y, m.Position.z, m.Rotation.x, m.Rotation.y, m.Rotation.z,
                        m.Rotation.w})
            FStream.WriteSingle(f);
        FStream.WriteUInt32(m.Flags);
        const std::int32_t stride = MeshStride(m.Flags);
        const std::int32_t vertexCount =
            m.VertexCount >= 0 ? m.VertexCount
                               : (stride > 0 ? static_cast<std::int32_t>(m.Vertices.size()) / stride : 0);
        FStream.WriteInt32(vertexCount);
        FStream.WriteInt32(static_cast<std::int32_t>(m.Indices.size()));
        FStream.WriteInt32(static_cast<std::int32_t>(m.Faces.size()));
        FStream.WriteBuffer(m.Vertices.data(), m.Vertices.size() * sizeof(float));
        FStream.WriteBuffer(m.Indices.data(), m.Indices.size() * sizeof(std::int32_t));
        for (const TMeshFaceDesc& f : m.Faces)
            for (std::int32_t v : {f.Mode, f.MaterialIndex, f.FirstIndex, f.Count})
                FStream.WriteInt32(v);
    }, nested);
}

void TSceneWriter::Material(const TMaterialDesc& m, const TNested& nested)
{
    Chunk(ChunkTypeMaterial, [&] {
        Header(m.Header);
        FStream.WriteInt32(m.Shading);
        FStream.WriteInt32(m.TwoSided);
        FStream.WriteInt32(m.Wireframe);
        FStream.WriteSingle(m.LineWidth);
        Vector4(m.Ambient);
        Vector4(m.Diffuse);
        Vector4(m.Specular);
        Vector4(m.Emission);
        FStream.WriteSingle(m.Shininess);
        FStream.WriteSingle(m.SpecularLevel);
        FStream.WriteInt32(m.Spare1);
        FStream.WriteInt32(m.Spare2);
    }, nested);
}

void TSceneWriter::Map(const TMapDesc& m, const TNested& nested)
{
    Chunk(ChunkTypeMap, [&] {
        FStream.WriteInt32(m.MapKind);
        FStream.WriteInt32(m.TextureNumber);
        FStream.WriteBuffer(&m.Value2, 8); // the file holds the second value first
        FStream.WriteBuffer(&m.Value1, 8);
    }, nested);
}

void TSceneWriter::TexMap(const TTexMapDesc& t, const TNested& nested)
{
    Chunk(ChunkTypeTexture, [&] {
        Header(t.Header);
        FStream.WriteInt32(t.Inline ? 1 : 0);
        if (!t.Inline)
            return;
        FStream.WriteInt32(t.Width);
        FStream.WriteInt32(t.Height);
        FStream.WriteInt32(t.BytesPerPixel);
        FStream.WriteInt32(t.BitsPerComponent);
        FStream.WriteBuffer(t.Pixels.data(), t.Pixels.size());
    }, nested);
}

void TSceneWriter::Transform(const TTransformDesc& t, const TNested& nested)
{
    Chunk(ChunkTypeTransform, [&] {
        FStream.WriteInt32(t.OwnerId);
        for (float f : {t.Position.x, t.Position.y, t.Position.z, t.Rotation.x, t.Rotation.y, t.Rotation.z,
                        t.Rotation.w, t.Scale.x, t.Scale.y, t.Scale.z})
            FStream.WriteSingle(f);
    }, nested);
}

void TSceneWriter::Camera(const TCameraDesc& c, const TNested& nested)
{
    Chunk(ChunkTypeCamera, [&] {
        Header(c.Header);
        FStream.WriteSingle(c.Lens);
        FStream.WriteSingle(c.Far);
        FStream.WriteSingle(c.Near);
        FStream.WriteInt32(c.Spare);
    }, nested);
}

void TSceneWriter::AnimTransform(const TAnimTransformDesc& a, const TNested& nested)
{
    Chunk(ChunkTypeAnimTransform, [&] {
        for (std::int32_t v : {a.Id, a.OwnerId, a.Kind, a.KeyFormat, a.FloatsPerKey})
            FStream.WriteInt32(v);
        if (a.KeyFormat != 1)
            return;
        FStream.WriteInt32(a.KeyCount >= 0 ? a.KeyCount : static_cast<std::int32_t>(a.Keys.size()));
        FStream.WriteInt32(a.Step);
        std::vector<float> record(static_cast<std::size_t>(std::max(a.FloatsPerKey, 0)));
        for (const std::vector<float>& key : a.Keys) {
            std::fill(record.begin(), record.end(), 0.0f);
            std::copy_n(key.begin(), std::min(key.size(), record.size()), record.begin());
            FStream.WriteBuffer(record.data(), record.size() * sizeof(float));
        }
    }, nested);
}

void TSceneWriter::Light(const TLightDesc& l, const TNested& nested)
{
    Chunk(ChunkTypeLight, [&] {
        Header(l.Header);
        auto flag = [this](bool on) { FStream.WriteInt32(on ? 1 : 0); };
        FStream.WriteInt32(0);
        FStream.WriteInt32(0);
        flag(l.Spot);
        flag(l.Directional);
        for (float f : {l.Color.x, l.Color.y, l.Color.z, l.Multiplier})
            FStream.WriteSingle(f);
        FStream.WriteInt32(0);
        FStream.WriteInt32(0);
        flag(l.Diffuse);
        flag(l.Specular);
        flag(l.Attenuated);
        FStream.WriteInt32(0);
        FStream.WriteSingle(l.AttenuationDistance);
        FStream.WriteInt32(0);
        FStream.WriteSingle(l.Cone);
        for (int i = 0; i < 7; ++i)
            FStream.WriteInt32(0);
    }, nested);
}

void TSceneWriter::Raw(std::uint32_t typeKey, const std::vector<std::uint8_t>& payload, const TNested& nested,
                       std::uint32_t groupKey)
{
    Chunk(typeKey, [&] { FStream.WriteBuffer(payload.data(), payload.size()); }, nested, groupKey);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName)
{
    TFileStream in(fileName, TFileMode::OpenRead);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.Size()));
    in.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

} // namespace vendrake
