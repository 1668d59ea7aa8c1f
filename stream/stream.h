#pragma once
// Seekable binary streams: every payload reader and writer takes a TStream.
// Numbers are little-endian. Reads go through an in-memory window so that a
// file of a million small fields costs a handful of system calls, and the
// common fixed-size reads are inline.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

static_assert(std::endian::native == std::endian::little,
              "stream readers copy little-endian fields as they stand");

// Raised for failures of a stream. The message names the stream (its file
// name, or "memory") and the byte offset where the operation started.
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // "memory" for memory streams, the file name for files.
    virtual const std::string& Name() const = 0;
    std::int64_t Position() const { return FWindowPos + (FCur - FWindowStart); }
    virtual std::int64_t Size() = 0;
    // Absolute positions; seeking past the end is allowed (reads then get
    // nothing, writes extend the stream).
    virtual void Seek(std::int64_t position) = 0;
    std::int64_t Remaining() { return Size() - Position(); }

    // Plain read: returns how many bytes it got.
    std::size_t Read(void* buffer, std::size_t count);
    // Reads exactly count bytes or raises EReadError.
    void ReadBuffer(void* buffer, std::size_t count);

    std::int32_t ReadInt32() { return ReadFixed<std::int32_t>(); }
    std::uint32_t ReadUInt32() { return ReadFixed<std::uint32_t>(); }
    float ReadSingle() { return ReadFixed<float>(); }

    // Plain write: returns how many bytes went out.
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Writes exactly count bytes or raises EWriteError.
    void WriteBuffer(const void* buffer, std::size_t count);
    void WriteInt32(std::int32_t v) { WriteBuffer(&v, sizeof v); }
    void WriteUInt32(std::uint32_t v) { WriteBuffer(&v, sizeof v); }
    void WriteSingle(float v) { WriteBuffer(&v, sizeof v); }

    // Raises EReadError "... at byte offset <offset>: <what>".
    [[noreturn]] void RaiseReadError(std::int64_t offset, const std::string& what) const;

protected:
    // Fills as much of buffer as the stream holds, past the current window.
    // Called with the window exhausted; adjusts the window and position.
    virtual std::size_t ReadSlow(void* buffer, std::size_t count) = 0;

    // The read window: [FCur, FEnd) are the next bytes of the stream, and
    // FWindowStart is the byte at stream position FWindowPos.
    const std::uint8_t* FWindowStart = nullptr;
    const std::uint8_t* FCur = nullptr;
    const std::uint8_t* FEnd = nullptr;
    std::int64_t FWindowPos = 0;

    void SetWindow(const std::uint8_t* start, const std::uint8_t* cur, const std::uint8_t* end,
                   std::int64_t startPos)
    {
        FWindowStart = start;
        FCur = cur;
        FEnd = end;
        FWindowPos = startPos;
    }
    // Drops the window, keeping the position.
    void ClearWindow(std::int64_t position) { SetWindow(nullptr, nullptr, nullptr, position); }

private:
    template <class T> T ReadFixed()
    {
        T v;
        if (FEnd - FCur >= static_cast<std::ptrdiff_t>(sizeof(T))) {
            std::memcpy(&v, FCur, sizeof(T));
            FCur += sizeof(T);
        } else {
            ReadBuffer(&v, sizeof(T));
        }
        return v;
    }
};

// A growable stream in memory.
class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::span<const std::uint8_t> bytes);
    explicit TMemoryStream(std::vector<std::uint8_t> bytes);

    const std::string& Name() const override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
    void Seek(std::int64_t position) override;
    std::size_t Write(const void* buffer, std::size_t count) override;

    const std::vector<std::uint8_t>& Bytes() const { return FData; }
    // Hands the bytes over without a copy; the stream is left empty.
    std::vector<std::uint8_t> TakeBytes();

protected:
    std::size_t ReadSlow(void* buffer, std::size_t count) override;

private:
    std::vector<std::uint8_t> FData;
    void Reanchor(std::int64_t position);
};

enum class TFileMode {
    OpenRead,      // existing file, read only
    OpenReadWrite, // existing file
    Create         // created or truncated, read and write
};

// A file with buffered reads and writes (64 KiB). Large reads bypass the buffer.
class TFileStream final : public TStream {
public:
    TFileStream(const std::string& fileName, TFileMode mode);
    ~TFileStream() override;

    const std::string& Name() const override { return FName; }
    std::int64_t Size() override;
    void Seek(std::int64_t position) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Writes out buffered bytes; raises EWriteError when the system refuses them.
    void Flush();

    static constexpr std::size_t BufferSize = 64 * 1024;

protected:
    std::size_t ReadSlow(void* buffer, std::size_t count) override;

private:
    std::string FName;
    int FHandle = -1;
    std::vector<std::uint8_t> FReadBuffer;
    std::int64_t FReadBufferPos = 0;   // file position of FReadBuffer[0]
    std::size_t FReadBufferFill = 0;   // valid bytes in FReadBuffer
    std::vector<std::uint8_t> FPending; // buffered writes, starting at FPendingPos
    std::int64_t FPendingPos = 0;
    std::int64_t FFileSize = 0;        // size on disk as far as this stream knows
    std::size_t WriteOut(std::int64_t position, const std::uint8_t* data, std::size_t count);
};

} // namespace vendrake
