#include "stream/stream.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vendrake {

namespace {

std::string Describe(const std::string& name)
{
    return name == "memory" ? name : "'" + name + "'";
}

} // namespace

// --- TStream -----------------------------------------------------------------

std::size_t TStream::Read(void* buffer, std::size_t count)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    const auto avail = static_cast<std::size_t>(FEnd - FCur);
    if (count <= avail) {
        if (count > 0)
            std::memcpy(out, FCur, count);
        FCur += count;
        return count;
    }
    if (avail > 0)
        std::memcpy(out, FCur, avail);
    FCur = FEnd;
    return avail + ReadSlow(out + avail, count - avail);
}

void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    const std::int64_t start = Position();
    const std::size_t got = Read(buffer, count);
    if (got != count)
        RaiseReadError(start, "wanted " + std::to_string(count) + " bytes, got " + std::to_string(got));
}

void TStream::WriteBuffer(const void* buffer, std::size_t count)
{
    const std::int64_t start = Position();
    const std::size_t put = Write(buffer, count);
    if (put != count)
        throw EWriteError("Stream write error in " + Describe(Name()) + " at byte offset " +
                          std::to_string(start) + ": wrote " + std::to_string(put) + " of " +
                          std::to_string(count) + " bytes");
}

void TStream::RaiseReadError(std::int64_t offset, const std::string& what) const
{
    throw EReadError("Stream read error in " + Describe(Name()) + " at byte offset " +
                     std::to_string(offset) + ": " + what);
}

// --- TMemoryStream -----------------------------------------------------------

TMemoryStream::TMemoryStream(std::span<const std::uint8_t> bytes)
    : FData(bytes.begin(), bytes.end())
{
    Reanchor(0);
}

TMemoryStream::TMemoryStream(std::vector<std::uint8_t> bytes) : FData(std::move(bytes))
{
    Reanchor(0);
}

std::vector<std::uint8_t> TMemoryStream::TakeBytes()
{
    std::vector<std::uint8_t> bytes = std::move(FData);
    FData.clear();
    Reanchor(0);
    return bytes;
}

const std::string& TMemoryStream::Name() const
{
    static const std::string name = "memory";
    return name;
}

void TMemoryStream::Reanchor(std::int64_t position)
{
    const auto size = static_cast<std::int64_t>(FData.size());
    if (position <= size)
        SetWindow(FData.data(), FData.data() + position, FData.data() + size, 0);
    else
        ClearWindow(position);
}

void TMemoryStream::Seek(std::int64_t position)
{
    if (position < 0)
        throw EStreamError("Stream seek error in memory: negative offset " + std::to_string(position));
    Reanchor(position);
}

std::size_t TMemoryStream::ReadSlow(void*, std::size_t)
{
    return 0; // the window always reaches the end of the data
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count)
{
    const std::int64_t pos = Position();
    const auto end = static_cast<std::size_t>(pos) + count;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (static_cast<std::size_t>(pos) == FData.size()) {
        // Appending: copied once, not zeroed first.
        FData.insert(FData.end(), bytes, bytes + count);
    } else {
        if (end > FData.size())
            FData.resize(end);
        if (count > 0)
            std::memcpy(FData.data() + pos, buffer, count);
    }
    Reanchor(static_cast<std::int64_t>(end));
    return count;
}

// --- TFileStream -------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FName(fileName)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case TFileMode::OpenRead: flags |= O_RDONLY; break;
    case TFileMode::OpenReadWrite: flags |= O_RDWR; break;
    case TFileMode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    FHandle = ::open(fileName.c_str(), flags, 0644);
    if (FHandle < 0) {
        const int err = errno;
        throw EFOpenError(std::string(mode == TFileMode::Create ? "Cannot create file \""
                                                                : "Cannot open file \"") +
                          fileName + "\": " + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(FHandle, &st) == 0)
        FFileSize = st.st_size;
}

TFileStream::~TFileStream()
{
    try {
        Flush();
    } catch (const EStreamError&) {
        // Nowhere to report it from a destructor; callers that care call Flush.
    }
    ::close(FHandle);
}

std::int64_t TFileStream::Size()
{
    return std::max(FFileSize, FPendingPos + static_cast<std::int64_t>(FPending.size()));
}

void TFileStream::Seek(std::int64_t position)
{
    if (position < 0)
        throw EStreamError("Stream seek error in " + Describe(FName) + ": negative offset " +
                           std::to_string(position));
    Flush();
    const std::int64_t bufEnd = FReadBufferPos + static_cast<std::int64_t>(FReadBufferFill);
    if (FReadBufferFill > 0 && position >= FReadBufferPos && position <= bufEnd) {
        const std::uint8_t* base = FReadBuffer.data();
        SetWindow(base, base + (position - FReadBufferPos), base + FReadBufferFill, FReadBufferPos);
    } else {
        ClearWindow(position);
    }
}

void TFileStream::Flush()
{
    if (FPending.empty())
        return;
    const std::size_t put = WriteOut(FPendingPos, FPending.data(), FPending.size());
    const std::size_t wanted = FPending.size();
    const std::int64_t at = FPendingPos;
    FPending.clear();
    if (put != wanted)
        throw EWriteError("Stream write error in " + Describe(FName) + " at byte offset " +
                          std::to_string(at + static_cast<std::int64_t>(put)) + ": " +
                          std::strerror(errno));
}

std::size_t TFileStream::WriteOut(std::int64_t position, const std::uint8_t* data, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(FHandle, data + done, count - done, position + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    // Bytes written over the read buffer's range would make it stale.
    const std::int64_t end = position + static_cast<std::int64_t>(done);
    if (done > 0 && position < FReadBufferPos + static_cast<std::int64_t>(FReadBufferFill) &&
        end > FReadBufferPos)
        FReadBufferFill = 0;
    FFileSize = std::max(FFileSize, end);
    return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count)
{
    const std::int64_t pos = Position();
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (!FPending.empty() && pos != FPendingPos + static_cast<std::int64_t>(FPending.size()))
        Flush();
    if (FPending.empty())
        FPendingPos = pos;
    if (FPending.size() + count > BufferSize) {
        Flush();
        FPendingPos = pos;
    }
    std::size_t put = count;
    if (count >= BufferSize) {
        put = WriteOut(pos, bytes, count);
    } else {
        FPending.insert(FPending.end(), bytes, bytes + count);
    }
    ClearWindow(pos + static_cast<std::int64_t>(put));
    return put;
}

std::size_t TFileStream::ReadSlow(void* buffer, std::size_t count)
{
    Flush();
    const std::int64_t pos = Position();
    auto* out = static_cast<std::uint8_t*>(buffer);
    auto readAt = [this](std::uint8_t* dst, std::size_t n, std::int64_t at) {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t r = ::pread(FHandle, dst + done, n - done, at + static_cast<std::int64_t>(done));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            done += static_cast<std::size_t>(r);
        }
        return done;
    };
    if (count >= BufferSize) {
        const std::size_t got = readAt(out, count, pos);
        ClearWindow(pos + static_cast<std::int64_t>(got));
        return got;
    }
    if (FReadBuffer.size() != BufferSize)
        FReadBuffer.resize(BufferSize);
    FReadBufferPos = pos;
    FReadBufferFill = readAt(FReadBuffer.data(), BufferSize, pos);
    const std::size_t got = std::min(count, FReadBufferFill);
    std::memcpy(out, FReadBuffer.data(), got);
    const std::uint8_t* base = FReadBuffer.data();
    SetWindow(base, base + got, base + FReadBufferFill, pos);
    return got;
}

} // namespace vendrake
