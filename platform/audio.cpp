#include "platform/audio.h"

#include <mpg123.h>
#include <out123.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vendrake {

namespace {

constexpr std::int32_t DefaultDevice = -1;
// The one format the output is opened with; every stream is decoded to it,
// resampled by libmpg123 when the file's own rate differs.
constexpr int OutputChannels = 2;
constexpr int OutputEncoding = MPG123_ENC_SIGNED_16;
// About 90 ms of sound: the longest a stop request waits for the player.
constexpr std::size_t BlockBytes = 16384;

struct TDecoderFree {
    void operator()(mpg123_handle* decoder) const { mpg123_delete(decoder); }
};
using TDecoder = std::unique_ptr<mpg123_handle, TDecoderFree>;

struct TOutputFree {
    void operator()(out123_handle* output) const {
        // Closing drains first; at the end sound still queued is dropped, not
        // waited for.
        out123_drop(output);
        out123_del(output);
    }
};
using TOutput = std::unique_ptr<out123_handle, TOutputFree>;

class TFileDescriptor {
public:
    TFileDescriptor() = default;
    explicit TFileDescriptor(int fd) : FFd(fd) {}
    ~TFileDescriptor() {
        if (FFd >= 0)
            close(FFd);
    }
    TFileDescriptor(TFileDescriptor&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TFileDescriptor& operator=(TFileDescriptor&&) = delete;
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;

    int Get() const { return FFd; }

private:
    int FFd = -1;
};

// libout123 reports the failure of the last driver it tries even when told
// to be quiet, and a sound server's client library may print on its own, so
// the output is opened with stderr pointed at /dev/null. The music starts
// before the render thread exists: no other thread's message is lost.
class TQuietStderr {
public:
    TQuietStderr() {
        std::fflush(stderr);
        const TFileDescriptor sink(open("/dev/null", O_WRONLY | O_CLOEXEC));
        if (sink.Get() >= 0 && FSaved.Get() >= 0)
            dup2(sink.Get(), STDERR_FILENO);
    }
    ~TQuietStderr() {
        std::fflush(stderr);
        if (FSaved.Get() >= 0)
            dup2(FSaved.Get(), STDERR_FILENO);
    }
    TQuietStderr(const TQuietStderr&) = delete;
    TQuietStderr& operator=(const TQuietStderr&) = delete;

private:
    TFileDescriptor FSaved{fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)};
};

struct TMusicStream {
    explicit TMusicStream(TFileDescriptor file) : File(std::move(file)) {}

    TFileDescriptor File;  // libmpg123 reads it but leaves closing to us
    TDecoder Decoder;      // declared after File: freed before the file closes
    std::vector<unsigned char> Block = std::vector<unsigned char>(BlockBytes);
    std::atomic<bool> StopRequest{false};
    std::thread Player;
};

bool IsDecoderRate(std::uint32_t freq) {
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    return rates && std::find(rates, rates + count, static_cast<long>(freq)) != rates + count;
}

// A regular file only. O_NONBLOCK keeps the open of a FIFO from waiting for a
// writer; reads of a regular file ignore it.
std::optional<TFileDescriptor> OpenRegularFile(const char* fileName) {
    TFileDescriptor file(open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (file.Get() < 0 || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return file;
}

// A decoder positioned at the start of the file, or null when the file holds
// nothing that decodes.
TDecoder OpenDecoder(int fd, long rate, std::vector<unsigned char>& block) {
    int error = MPG123_OK;
    TDecoder decoder(mpg123_new(nullptr, &error));
    mpg123_handle* mh = decoder.get();
    // ID3v2 tags are skipped unparsed: a tag's size field then never decides
    // how much memory is taken.
    if (!mh || mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2, 0.0) != MPG123_OK ||
        mpg123_format_none(mh) != MPG123_OK ||
        mpg123_format(mh, rate, MPG123_STEREO, OutputEncoding) != MPG123_OK || mpg123_open_fd(mh, fd) != MPG123_OK)
        return nullptr;

    long decodedRate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(mh, &decodedRate, &channels, &encoding) != MPG123_OK || decodedRate != rate ||
        channels != OutputChannels || encoding != OutputEncoding)
        return nullptr;
    // A stream is handed out only when it has sound to play: the first block
    // has to decode (a file can hold whole frames and still decode to nothing
    // once the encoder's delay and padding are trimmed).
    std::size_t decoded = 0;
    const int result = mpg123_read(mh, block.data(), block.size(), &decoded);
    if (decoded == 0 || (result != MPG123_OK && result != MPG123_DONE))
        return nullptr;
    if (mpg123_seek(mh, 0, SEEK_SET) < 0)
        return nullptr;
    return decoder;
}

// The player thread: decode a block, hand it to the output, until the file
// ends, the output fails or a stop is requested.
void PlayToEnd(TMusicStream& stream, out123_handle* output) {
    while (!stream.StopRequest.load(std::memory_order_relaxed)) {
        std::size_t decoded = 0;
        const int result = mpg123_read(stream.Decoder.get(), stream.Block.data(), stream.Block.size(), &decoded);
        if (decoded > 0 && out123_play(output, stream.Block.data(), decoded) < decoded)
            return;
        if (result == MPG123_NEW_FORMAT)
            continue;
        // The end of the file, or damage libmpg123 could not step over.
        if (result != MPG123_OK || decoded == 0)
            return;
    }
}

// The audio state of the process. Its destructor runs at exit: it stops the
// player at its next block and joins it, so the song never outlives the
// handles it plays through and exit never waits for the rest of it.
class TAudio {
public:
    ~TAudio() { Shutdown(false); }

    bool Init(std::int32_t device, std::uint32_t freq) {
        std::lock_guard lock(FLock);
        if (FOutput || device != DefaultDevice || !IsDecoderRate(freq))
            return false;
        TOutput output(out123_new());
        if (!output || out123_param_int(output.get(), OUT123_ADD_FLAGS, OUT123_QUIET) != OUT123_OK ||
            out123_param_int(output.get(), OUT123_VERBOSE, 0) != OUT123_OK)
            return false;
        const char* driver = FDriver ? FDriver->c_str() : nullptr;
        const char* deviceName = FDriver && !FDevice.empty() ? FDevice.c_str() : nullptr;
        const TQuietStderr quiet;
        if (out123_open(output.get(), driver, deviceName) != OUT123_OK)
            return false;
        const int encodings = out123_encodings(output.get(), static_cast<long>(freq), OutputChannels);
        if (encodings < 0 || (encodings & OutputEncoding) != OutputEncoding)
            return false;
        FOutput = std::move(output);
        FRate = static_cast<long>(freq);
        return true;
    }

    bool Start() {
        std::lock_guard lock(FLock);
        return FOutput != nullptr;
    }

    HSTREAM Create(const char* fileName) {
        std::lock_guard lock(FLock);
        if (!FOutput || !fileName)
            return 0;
        std::optional<TFileDescriptor> file = OpenRegularFile(fileName);
        if (!file)
            return 0;
        auto stream = std::make_unique<TMusicStream>(std::move(*file));
        stream->Decoder = OpenDecoder(stream->File.Get(), FRate, stream->Block);
        if (!stream->Decoder)
            return 0;
        const HSTREAM handle = FNextHandle++;
        FStreams.emplace(handle, std::move(stream));
        return handle;
    }

    bool Play(HSTREAM handle) {
        std::lock_guard lock(FLock);
        const auto found = FStreams.find(handle);
        if (!FOutput || found == FStreams.end())
            return false;
        TMusicStream& stream = *found->second;
        // One output, one song at a time.
        StopPlayer(false);
        if (mpg123_seek(stream.Decoder.get(), 0, SEEK_SET) < 0)
            return false;
        if (!FStarted) {
            const TQuietStderr quiet;
            if (out123_start(FOutput.get(), FRate, OutputChannels, OutputEncoding) != OUT123_OK)
                return false;
            FStarted = true;
        } else {
            out123_drop(FOutput.get());  // what is still queued of the song stopped
        }
        stream.StopRequest = false;
        try {
            stream.Player = std::thread(PlayToEnd, std::ref(stream), FOutput.get());
        } catch (const std::system_error&) {
            return false;
        }
        FPlaying = &stream;
        return true;
    }

    void SetOutput(const char* driver, const char* device) {
        std::lock_guard lock(FLock);
        FDriver = driver ? std::optional<std::string>(driver) : std::nullopt;
        FDevice = device ? device : "";
    }

    void Shutdown(bool waitForEnd) {
        std::lock_guard lock(FLock);
        StopPlayer(waitForEnd);
        FStreams.clear();
        FOutput.reset();
        FStarted = false;
        FRate = 0;
    }

private:
    void StopPlayer(bool waitForEnd) {
        if (!FPlaying)
            return;
        if (!waitForEnd)
            FPlaying->StopRequest = true;
        FPlaying->Player.join();
        FPlaying = nullptr;
    }

    std::mutex FLock;
    std::optional<std::string> FDriver;  // null: the system's default output
    std::string FDevice;
    TOutput FOutput;  // null: no output, every call fails
    long FRate = 0;
    bool FStarted = false;
    std::map<HSTREAM, std::unique_ptr<TMusicStream>> FStreams;
    HSTREAM FNextHandle = 1;
    TMusicStream* FPlaying = nullptr;
};

TAudio& Audio() {
    static TAudio audio;
    return audio;
}

} // namespace

std::int32_t BASS_Init(std::int32_t device, std::uint32_t freq, std::uint32_t /*flags*/, HWND /*win*/) {
    return Audio().Init(device, freq);
}

std::int32_t BASS_Start() { return Audio().Start(); }

HSTREAM BASS_StreamCreateFile(std::int32_t mem, const void* file, std::uint64_t offset, std::uint64_t length,
                              std::uint32_t /*flags*/) {
    // Only a whole file named by its path; memory blocks and byte ranges are
    // not offered.
    if (mem != 0 || offset != 0 || length != 0)
        return 0;
    return Audio().Create(static_cast<const char*>(file));
}

// Every play starts from the beginning, so flush changes nothing.
std::int32_t BASS_StreamPlay(HSTREAM handle, std::int32_t /*flush*/, std::uint32_t /*flags*/) {
    return Audio().Play(handle);
}

void SetAudioOutputForTesting(const char* driver, const char* device) { Audio().SetOutput(driver, device); }

void ShutdownAudioForTesting(bool waitForEnd) { Audio().Shutdown(waitForEnd); }

} // namespace vendrake
