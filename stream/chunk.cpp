#include "stream/chunk.h"

namespace vendrake {

TChunkHeader TChunkHeader::Read(TStream& stream)
{
    TChunkHeader h;
    stream.ReadBuffer(&h, Bytes);
    return h;
}

std::size_t TChunkHeader::Write(TStream& stream) const
{
    return stream.Write(this, Bytes);
}

void TMasterChuncer::BeginChunk(std::uint32_t groupKey, std::uint32_t typeKey, std::uint32_t subKey)
{
    if (!Stream)
        return;
    Header.GroupKey = groupKey;
    Header.TypeKey = typeKey;
    Header.SubKey = subKey;
    StartPosition = static_cast<std::int32_t>(Stream->Position());
    Header.Write(*Stream);
}

void TMasterChuncer::EndChunk()
{
    if (!Stream)
        return;
    const std::int64_t end = Stream->Position();
    Header.Size = static_cast<std::uint32_t>(end - StartPosition);
    Stream->Seek(StartPosition);
    Header.Write(*Stream);
    Stream->Seek(end);
}

} // namespace vendrake
