#pragma once
// Chunk framing of the scene file: a 20-byte header in front of every node's
// payload, and the writer that frames a payload as one chunk.
#include "stream/stream.h"

#include <cstdint>

namespace vendrake {

// Every chunk the program writes or registers carries this group key
// (file bytes 4B 4C 45 5A).
constexpr std::uint32_t ChunkGroupKey = 0x5A454C4B;

// Type keys of the node chunks; read as big-endian text they spell the name.
constexpr std::uint32_t ChunkTypeMesh = 0x4D455348;        // MESH
constexpr std::uint32_t ChunkTypeMaterial = 0x4D54524C;    // MTRL
constexpr std::uint32_t ChunkTypeMap = 0x4D4D4150;         // MMAP
constexpr std::uint32_t ChunkTypeTexture = 0x54585452;     // TXTR
constexpr std::uint32_t ChunkTypeTransform = 0x49505253;   // IPRS
constexpr std::uint32_t ChunkTypeCamera = 0x43414D52;      // CAMR
constexpr std::uint32_t ChunkTypeAnimTransform = 0x4354524C; // CTRL
constexpr std::uint32_t ChunkTypeLight = 0x4C474854;       // LGHT

struct TChunkHeader {
    std::uint32_t GroupKey = 0;
    std::uint32_t TypeKey = 0;
    std::uint32_t SubKey = 0; // never examined when reading
    std::uint32_t Spare = 0;  // never examined when reading
    // The whole chunk from the first header byte: 20 + payload + nested chunk.
    // 0 marks a chunk without content.
    std::uint32_t Size = 0;

    static constexpr std::size_t Bytes = 20;

    // Raises the stream's read error when fewer than 20 bytes remain.
    static TChunkHeader Read(TStream& stream);
    // Plain write: the number of bytes that went out.
    std::size_t Write(TStream& stream) const;
};
static_assert(sizeof(TChunkHeader) == TChunkHeader::Bytes);

// Frames one chunk at a time: BeginChunk writes a header at the current
// position, EndChunk goes back and fills in the size. A nested chunk needs a
// writer of its own on the same stream. The stream is not owned.
class TMasterChuncer {
public:
    explicit TMasterChuncer(TStream* stream) : Stream(stream) {}

    // SubKey is written as given; Spare and Size keep their current values, so a
    // reused writer writes the previous chunk's size provisionally.
    void BeginChunk(std::uint32_t groupKey, std::uint32_t typeKey, std::uint32_t subKey);
    // Sets Size to everything written since BeginChunk, header included, and
    // leaves the stream at the end of the chunk.
    void EndChunk();

    std::int32_t StartPosition = 0;
    TChunkHeader Header;
    TStream* Stream = nullptr;
};

} // namespace vendrake
