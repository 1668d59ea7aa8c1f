#include "stream/chunk.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vendrake;

namespace {

TChunkHeader HeaderAt(TMemoryStream& s, std::int64_t at)
{
    const std::int64_t keep = s.Position();
    s.Seek(at);
    const TChunkHeader h = TChunkHeader::Read(s);
    s.Seek(keep);
    return h;
}

void WritePayload(TStream& s, std::size_t bytes)
{
    const std::vector<std::uint8_t> payload(bytes, 0xAB);
    s.WriteBuffer(payload.data(), payload.size());
}

} // namespace

TEST(ChunkWriter, FramesOneChunk)
{
    TMemoryStream s;
    TMasterChuncer w(&s);
    w.BeginChunk(ChunkGroupKey, 0x4D455348, 0);
    WritePayload(s, 100);
    w.EndChunk();
    EXPECT_EQ(s.Size(), 120);
    EXPECT_EQ(s.Position(), 120);
    const std::vector<std::uint8_t> head(s.Bytes().begin(), s.Bytes().begin() + 20);
    const std::vector<std::uint8_t> expected = {0x4B, 0x4C, 0x45, 0x5A, 0x48, 0x53, 0x45,
                                                0x4D, 0, 0, 0, 0, 0, 0, 0, 0, 120, 0, 0, 0};
    EXPECT_EQ(head, expected);
}

TEST(ChunkWriter, ReuseWritesThePreviousSizeProvisionally)
{
    TMemoryStream s;
    TMasterChuncer w(&s);
    w.BeginChunk(ChunkGroupKey, 1, 0);
    WritePayload(s, 8);
    w.EndChunk();
    w.BeginChunk(ChunkGroupKey, 2, 5);
    // Between Begin and End the second header still carries 28.
    EXPECT_EQ(HeaderAt(s, 28).Size, 28u);
    EXPECT_EQ(HeaderAt(s, 28).SubKey, 5u);
    WritePayload(s, 4);
    w.EndChunk();
    EXPECT_EQ(HeaderAt(s, 0).Size, 28u);
    EXPECT_EQ(HeaderAt(s, 28).Size, 24u);
    EXPECT_EQ(HeaderAt(s, 28).TypeKey, 2u);
    EXPECT_EQ(w.StartPosition, 28);
}

TEST(ChunkWriter, NestedWritersCountTheInnerChunk)
{
    TMemoryStream s;
    WritePayload(s, 3); // chunks need not start at 0
    TMasterChuncer outer(&s);
    outer.BeginChunk(ChunkGroupKey, 10, 0);
    WritePayload(s, 16);
    TMasterChuncer inner(&s);
    inner.BeginChunk(ChunkGroupKey, 11, 0);
    WritePayload(s, 12);
    inner.EndChunk();
    outer.EndChunk();
    EXPECT_EQ(HeaderAt(s, 3).Size, 20u + 16 + 32);
    EXPECT_EQ(HeaderAt(s, 3 + 36).Size, 32u);
    EXPECT_EQ(s.Position(), 3 + 68);
}

TEST(ChunkWriter, WithoutStreamDoesNothing)
{
    TMasterChuncer w(nullptr);
    w.BeginChunk(ChunkGroupKey, 1, 0);
    w.EndChunk();
    EXPECT_EQ(w.Header.Size, 0u);
    EXPECT_EQ(w.Header.TypeKey, 0u);
}

TEST(ChunkHeader, ShortHeaderRaisesTheReadError)
{
    TMemoryStream s(std::vector<std::uint8_t>(19, 0));
    EXPECT_THROW(TChunkHeader::Read(s), EReadError);
}
