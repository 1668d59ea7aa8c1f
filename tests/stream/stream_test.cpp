#include "stream/stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace vendrake;

namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() /
            ("vendrake_stream_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

// Read system calls made by this process so far (read, pread, ...).
long ReadSyscalls()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value)
        if (key == "syscr:")
            return value;
    return -1;
}

} // namespace

TEST(MemoryStream, LittleEndianFieldsAndPositions)
{
    TMemoryStream s;
    s.WriteInt32(-2);
    s.WriteUInt32(0x5A454C4B);
    s.WriteSingle(1.5f);
    const std::vector<std::uint8_t> expected = {0xFE, 0xFF, 0xFF, 0xFF, 0x4B, 0x4C, 0x45, 0x5A,
                                                0x00, 0x00, 0xC0, 0x3F};
    EXPECT_EQ(s.Bytes(), expected);
    EXPECT_EQ(s.Position(), 12);
    EXPECT_EQ(s.Size(), 12);

    s.Seek(0);
    EXPECT_EQ(s.ReadInt32(), -2);
    EXPECT_EQ(s.ReadUInt32(), 0x5A454C4Bu);
    EXPECT_EQ(s.ReadSingle(), 1.5f);

    // Overwriting in the middle keeps the size; writing past the end fills the gap.
    s.Seek(4);
    s.WriteInt32(7);
    EXPECT_EQ(s.Size(), 12);
    s.Seek(16);
    s.WriteInt32(1);
    EXPECT_EQ(s.Size(), 20);
    s.Seek(12);
    EXPECT_EQ(s.ReadInt32(), 0);
    s.Seek(4);
    EXPECT_EQ(s.ReadInt32(), 7);
}

TEST(MemoryStream, ShortReadsNameTheStreamAndOffset)
{
    TMemoryStream s(std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(s.ReadInt32(), 0x04030201);
    char buf[8];
    EXPECT_EQ(s.Read(buf, 8), 2u); // a plain read just reports the count
    s.Seek(4);
    try {
        s.ReadInt32();
        FAIL() << "short read must raise";
    } catch (const EReadError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Stream read error in memory at byte offset 4: wanted 4 bytes, got 2");
    }
    s.Seek(100); // past the end: nothing to read, no crash
    EXPECT_EQ(s.Read(buf, 4), 0u);
    EXPECT_EQ(s.Position(), 100);
    EXPECT_THROW(s.Seek(-1), EStreamError);
}

TEST(FileStream, WriteSeekRewriteAndReadBack)
{
    const std::string path = TempPath("rw.bin");
    {
        TFileStream out(path, TFileMode::Create);
        for (int i = 0; i < 50000; ++i)
            out.WriteInt32(i);
        EXPECT_EQ(out.Size(), 200000);
        out.Seek(8); // rewrite inside what is still buffered or already on disk
        out.WriteInt32(-1);
        out.Seek(199996);
        out.WriteInt32(-2);
        out.WriteSingle(0.25f); // extends the file
        EXPECT_EQ(out.Position(), 200004);
        // Reading back through the same stream sees the writes.
        out.Seek(4);
        EXPECT_EQ(out.ReadInt32(), 1);
        EXPECT_EQ(out.ReadInt32(), -1);
    }
    TFileStream in(path, TFileMode::OpenRead);
    EXPECT_EQ(in.Size(), 200004);
    EXPECT_EQ(in.ReadInt32(), 0);
    in.Seek(8);
    EXPECT_EQ(in.ReadInt32(), -1);
    EXPECT_EQ(in.ReadInt32(), 3);
    in.Seek(100000);
    EXPECT_EQ(in.ReadInt32(), 25000);
    in.Seek(199996);
    EXPECT_EQ(in.ReadInt32(), -2);
    EXPECT_EQ(in.ReadSingle(), 0.25f);

    // A large block read bypasses the buffer and lands at the right place.
    in.Seek(12);
    std::vector<std::int32_t> block(40000);
    in.ReadBuffer(block.data(), block.size() * 4);
    EXPECT_EQ(block.front(), 3);
    EXPECT_EQ(block.back(), 40002);
    EXPECT_EQ(in.Position(), 12 + 160000);
    std::filesystem::remove(path);
}

TEST(FileStream, SmallFieldsCostFewSystemCalls)
{
    const std::string path = TempPath("many.bin");
    {
        TFileStream out(path, TFileMode::Create);
        for (int i = 0; i < 1000000; ++i)
            out.WriteInt32(i);
    }
    TFileStream in(path, TFileMode::OpenRead);
    const long before = ReadSyscalls();
    ASSERT_GE(before, 0);
    long sum = 0;
    for (int i = 0; i < 1000000; ++i)
        sum += in.ReadInt32() == i;
    EXPECT_EQ(sum, 1000000);
    EXPECT_LT(ReadSyscalls() - before, 200); // 4 MB through a 64 KiB window: ~62 reads
    std::filesystem::remove(path);
}

TEST(FileStream, ErrorsNameTheFile)
{
    const std::string missing = TempPath("does-not-exist.y3d");
    try {
        TFileStream s(missing, TFileMode::OpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }

    const std::string path = TempPath("short.bin");
    {
        TFileStream out(path, TFileMode::Create);
        out.WriteInt32(1);
        out.WriteUInt32(2);
        out.WriteBuffer("xy", 2);
    }
    TFileStream in(path, TFileMode::OpenRead);
    in.ReadInt32();
    in.ReadInt32();
    try {
        in.ReadSingle();
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(std::string(e.what()), "Stream read error in '" + path +
                                             "' at byte offset 8: wanted 4 bytes, got 2");
    }
    std::filesystem::remove(path);
}
