#include "platform/audio.h"

#include "platform/clock.h"
#include "platform/out123_output.h"
#include "platform/pulse_output.h"

#include <mpg123.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
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
constexpr std::size_t FrameBytes = 2 * OutputChannels;
// The most decoded at a time: about 90 ms of sound.
constexpr std::size_t BlockBytes = 16384;
// How far the song may drift from the picture's clock before it is put back
// in place. A jump is heard as a click, so small errors are left alone; this
// one is well inside what a viewer notices.
constexpr std::int64_t SyncTolerance = PerformanceFrequency / 50;

struct TDecoderFree {
    void operator()(mpg123_handle* decoder) const { mpg123_delete(decoder); }
};
using TDecoder = std::unique_ptr<mpg123_handle, TDecoderFree>;

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

struct TMusicStream {
    explicit TMusicStream(TFileDescriptor file) : File(std::move(file)) {}

    TFileDescriptor File;  // libmpg123 reads it but leaves closing to us
    TDecoder Decoder;      // declared after File: freed before the file closes
    std::vector<unsigned char> Block = std::vector<unsigned char>(BlockBytes);
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

// The audio state of the process. The program's calls only record what they
// ask for; the player thread opens the output, starts it and feeds it, so
// whatever a sound server or an output module does (take seconds, never
// answer) no caller waits for it. Nothing tears it down at exit either: the
// player may still be waiting for a server then, and it only touches state
// that is never destroyed.
class TAudio {
public:
    bool Init(std::int32_t device, std::uint32_t freq) {
        std::lock_guard lock(FLock);
        if (FRate != 0 || device != DefaultDevice || !IsDecoderRate(freq))
            return false;
        FOutputDriver.clear();
        try {
            FPlayer = std::thread(&TAudio::Run, this, FDriver, FDevice, static_cast<long>(freq));
        } catch (const std::system_error&) {
            return false;
        }
        FRate = static_cast<long>(freq);
        return true;
    }

    bool Start() {
        std::lock_guard lock(FLock);
        return FRate != 0;
    }

    // The file is checked here, on the caller's thread: it is local work, and
    // a bad file is then reported at once.
    HSTREAM Create(const char* fileName) {
        std::lock_guard lock(FLock);
        if (FRate == 0 || !fileName)
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
        if (FRate == 0 || found == FStreams.end())
            return false;
        FRequested = found->second.get();
        QueryPerformanceCounter(&FRequestedAt);
        ++FRequests;  // the song playing, if any, stops at its next block
        FWake.notify_one();
        if (FOutput)
            FOutput->Wake();
        return true;
    }

    void SetClockOrigin(std::int64_t origin) { FOrigin = origin; }

    std::string OutputDriver() {
        std::lock_guard lock(FLock);
        return FOutputDriver;
    }

    void SetOutput(const char* driver, const char* device) {
        std::lock_guard lock(FLock);
        FDriver = driver ? std::optional<std::string>(driver) : std::nullopt;
        FDevice = device ? device : "";
    }

    void Shutdown(bool waitForEnd) {
        {
            std::lock_guard lock(FLock);
            FQuit = true;
            if (!waitForEnd)
                FStop = true;
            FWake.notify_one();
            if (FOutput && !waitForEnd)
                FOutput->Wake();
        }
        if (FPlayer.joinable())
            FPlayer.join();
        std::lock_guard lock(FLock);
        FStreams.clear();
        FRequested = nullptr;
        FRequests = 0;
        FQuit = false;
        FStop = false;
        FRate = 0;
        FOrigin = 0;
    }

private:
    // The player thread: opens the output, then plays each song asked for
    // until the next request, a stop, or the song's end.
    void Run(const std::optional<std::string>& driver, const std::string& device, long rate) {
        // PulseAudio first, which PipeWire serves as well: it is what desktop
        // users have, and it tells when the sound will be heard.
        std::unique_ptr<TSoundOutput> output = driver ? nullptr : OpenPulseOutput(rate);
        if (!output)
            output = OpenOut123Output(driver, device, rate);
        if (!output)
            return;
        std::uint64_t played = 0;
        bool started = false;
        std::unique_lock lock(FLock);
        FOutput = output.get();
        for (;;) {
            FWake.wait(lock, [&] { return FQuit || FRequests != played; });
            if (FStop || FRequests == played)
                break;
            played = FRequests;
            TMusicStream& stream = *FRequested;
            const std::int64_t requestedAt = FRequestedAt;
            lock.unlock();
            if (Restart(*output, started))
                PlaySong(stream, *output, played, requestedAt, rate);
            lock.lock();
        }
        FOutput = nullptr;
        lock.unlock();
        if (FStop)
            output->Drop();
    }

    // Clears the way for a song: the first one starts the output, a later
    // one drops what is queued of the last.
    bool Restart(TSoundOutput& output, bool& started) {
        if (started) {
            output.Drop();
            return true;
        }
        started = output.Start();
        if (started) {
            std::lock_guard lock(FLock);
            FOutputDriver = output.Driver();
        }
        return started;
    }

    // Decodes and writes, as much as the output takes at a time, until the
    // song ends, the output fails, another song is asked for or a stop is.
    // The song keeps the picture's time: the frame written next is the one
    // whose time in the song is the picture's time when it will be heard. An
    // output that cannot tell when that is starts the song where the
    // picture's time is at that moment.
    void PlaySong(TMusicStream& stream, TSoundOutput& output, std::uint64_t request, std::int64_t requestedAt,
                  long rate) {
        mpg123_handle* decoder = stream.Decoder.get();
        // The song's sample (per channel) written next; negative while
        // silence comes before the song.
        std::int64_t position = 0;
        bool placed = false;
        int strikes = 0;
        auto placeAt = [&](std::int64_t target) {
            position = target;
            placed = true;
            if (target <= 0)
                return mpg123_seek(decoder, 0, SEEK_SET) >= 0;
            const off_t reached = mpg123_seek(decoder, static_cast<off_t>(target), SEEK_SET);
            position = reached;
            return reached >= 0;
        };
        auto songFrame = [&](std::int64_t counter, std::int64_t origin) {
            return static_cast<std::int64_t>(static_cast<double>(counter - origin) * static_cast<double>(rate) /
                                             static_cast<double>(PerformanceFrequency));
        };
        const std::int64_t tolerance = songFrame(SyncTolerance, 0);

        while (FRequests.load(std::memory_order_relaxed) == request && !FStop.load(std::memory_order_relaxed)) {
            const std::int64_t writable = output.Writable();
            if (writable < 0)
                return;
            if (writable < static_cast<std::int64_t>(FrameBytes))
                continue;
            // Until the picture's clock starts, the song counts from the
            // moment it was asked for.
            const std::int64_t origin = FOrigin.load(std::memory_order_relaxed);
            if (const std::optional<std::int64_t> heard = output.NextHeardAt()) {
                const std::int64_t target = songFrame(*heard, origin ? origin : requestedAt);
                // Two reports in a row have to find the song out of place
                // before it moves: one can be off by a stall while it was made.
                strikes = placed && std::abs(target - position) > tolerance ? strikes + 1 : 0;
                if (strikes >= 2) {
                    // What is queued would be heard out of place as well: it
                    // goes, and the song is placed afresh from the next report.
                    output.Drop();
                    placed = false;
                    strikes = 0;
                    continue;
                }
                if (!placed && !placeAt(target))
                    return;
            } else if (!placed) {
                std::int64_t now = 0;
                QueryPerformanceCounter(&now);
                if (!placeAt(origin ? std::max<std::int64_t>(songFrame(now, origin), 0) : 0))
                    return;
            }

            std::size_t bytes = std::min(static_cast<std::size_t>(writable), stream.Block.size());
            bytes -= bytes % FrameBytes;
            if (position < 0) {
                bytes = std::min(bytes, static_cast<std::size_t>(-position) * FrameBytes);
                std::fill_n(stream.Block.begin(), bytes, 0);
                if (!output.Write(stream.Block.data(), bytes))
                    return;
                position += static_cast<std::int64_t>(bytes / FrameBytes);
                continue;
            }
            std::size_t decoded = 0;
            const int result = mpg123_read(decoder, stream.Block.data(), bytes, &decoded);
            if (decoded > 0 && !output.Write(stream.Block.data(), decoded))
                return;
            position += static_cast<std::int64_t>(decoded / FrameBytes);
            if (result == MPG123_NEW_FORMAT)
                continue;
            // The end of the file, or damage libmpg123 could not step over.
            if (result != MPG123_OK || decoded == 0)
                return;
        }
    }

    std::mutex FLock;
    std::condition_variable FWake;  // a play request, or the end
    std::optional<std::string> FDriver;  // null: the preferred outputs
    std::string FDevice;
    long FRate = 0;  // 0: not initialised
    std::thread FPlayer;
    TSoundOutput* FOutput = nullptr;  // the player's, while it is open
    std::string FOutputDriver;  // set by the player once the first song starts
    std::map<HSTREAM, std::unique_ptr<TMusicStream>> FStreams;
    HSTREAM FNextHandle = 1;
    TMusicStream* FRequested = nullptr;
    std::int64_t FRequestedAt = 0;  // the counter at the last play request
    std::atomic<std::uint64_t> FRequests{0};  // counts play requests
    std::atomic<bool> FStop{false};
    std::atomic<std::int64_t> FOrigin{0};  // 0: not set
    bool FQuit = false;
};

// Built once in static storage and never destroyed (see TAudio): state
// reachable from here is not a leak, and the player can never outlive it.
TAudio& Audio() {
    alignas(TAudio) static std::byte storage[sizeof(TAudio)];
    static TAudio* const audio = std::construct_at(reinterpret_cast<TAudio*>(storage));
    return *audio;
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

void SetMusicClockOrigin(std::int64_t performanceCount) { Audio().SetClockOrigin(performanceCount); }

std::string AudioOutputDriver() { return Audio().OutputDriver(); }

void SetAudioOutputForTesting(const char* driver, const char* device) { Audio().SetOutput(driver, device); }

void ShutdownAudioForTesting(bool waitForEnd) { Audio().Shutdown(waitForEnd); }

} // namespace vendrake
