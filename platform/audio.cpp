#include "platform/audio.h"

#include <mpg123.h>
#include <out123.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
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
// The outputs desktop users have, in the order they have them: PulseAudio
// (which PipeWire serves as well), then ALSA. Trying every installed module
// instead can take seconds, or never end, on a machine without a sound server.
constexpr const char* PreferredDrivers[] = {"pulse", "alsa"};

struct TDecoderFree {
    void operator()(mpg123_handle* decoder) const { mpg123_delete(decoder); }
};
using TDecoder = std::unique_ptr<mpg123_handle, TDecoderFree>;

// Closing drains what is queued; the player drops it first when told to stop.
struct TOutputFree {
    void operator()(out123_handle* output) const { out123_del(output); }
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

// Where libout123 looks for its output modules: MPG123_MODDIR, or else the
// mpg123 folder beside the library itself.
std::filesystem::path ModuleFolder() {
    if (const char* folder = std::getenv("MPG123_MODDIR"))
        return folder;
    Dl_info library{};
    if (dladdr(reinterpret_cast<void*>(&out123_new), &library) == 0 || !library.dli_fname)
        return {};
    return std::filesystem::path(library.dli_fname).parent_path() / "mpg123";
}

// The preferred drivers whose modules load, as out123_open takes them
// ("pulse,alsa"). Only those are asked for: libout123 reports a module it
// cannot load on stderr even when told to be quiet. They also stay loaded:
// libout123 unloads a module that found no device, and the ALSA library would
// go with it, taking the configuration it keeps for the life of the process
// out of reach (a leak, as far as LeakSanitizer can tell).
std::string LoadedDrivers() {
    const std::filesystem::path folder = ModuleFolder();
    std::string drivers;
    for (const char* driver : PreferredDrivers) {
        const std::filesystem::path module = folder / (std::string("output_") + driver + ".so");
        void* library = folder.empty() ? nullptr : dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (library) {
            dlclose(library);
            drivers += (drivers.empty() ? "" : ",") + std::string(driver);
        }
    }
    return drivers;
}

// An output that takes 16-bit stereo at rate, or null. Quiet: the pulse and
// alsa modules then print nothing, and the alsa one keeps ALSA's own library
// quiet as well.
TOutput OpenOutput(const std::optional<std::string>& driver, const std::string& device, long rate) {
    TOutput output(out123_new());
    if (!output || out123_param_int(output.get(), OUT123_ADD_FLAGS, OUT123_QUIET) != OUT123_OK ||
        out123_param_int(output.get(), OUT123_VERBOSE, 0) != OUT123_OK)
        return nullptr;
    const std::string drivers = driver ? *driver : LoadedDrivers();
    if (drivers.empty() ||
        out123_open(output.get(), drivers.c_str(), driver && !device.empty() ? device.c_str() : nullptr) != OUT123_OK)
        return nullptr;
    const int encodings = out123_encodings(output.get(), rate, OutputChannels);
    if (encodings < 0 || (encodings & OutputEncoding) != OutputEncoding)
        return nullptr;
    return output;
}

// The audio state of the process. The program's calls only record what they
// ask for; the player thread opens the output, starts it and feeds it, so
// whatever an output module does (take seconds, never return) no caller waits
// for it. Nothing tears it down at exit either: the player may still be
// inside a module then, and it only touches state that is never destroyed.
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
        ++FRequests;  // the song playing, if any, stops at its next block
        FWake.notify_one();
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
    }

private:
    // The player thread: opens the output, then plays each song asked for
    // until the next request, a stop, or the song's end.
    void Run(const std::optional<std::string>& driver, const std::string& device, long rate) {
        const TOutput output = OpenOutput(driver, device, rate);
        if (!output)
            return;
        std::uint64_t played = 0;
        bool started = false;
        std::unique_lock lock(FLock);
        for (;;) {
            FWake.wait(lock, [&] { return FQuit || FRequests != played; });
            if (FStop || FRequests == played)
                break;
            played = FRequests;
            TMusicStream& stream = *FRequested;
            lock.unlock();
            if (Restart(stream, output.get(), rate, started))
                PlayToEnd(stream, output.get(), played);
            lock.lock();
        }
        lock.unlock();
        if (FStop)
            out123_drop(output.get());
    }

    // Puts the stream back at its start and clears the way for it: the first
    // song starts the output, a later one drops what is queued of the last.
    bool Restart(TMusicStream& stream, out123_handle* output, long rate, bool& started) {
        if (mpg123_seek(stream.Decoder.get(), 0, SEEK_SET) < 0)
            return false;
        if (started) {
            out123_drop(output);
            return true;
        }
        started = out123_start(output, rate, OutputChannels, OutputEncoding) == OUT123_OK;
        char* name = nullptr;
        if (started && out123_driver_info(output, &name, nullptr) == OUT123_OK && name) {
            std::lock_guard lock(FLock);
            FOutputDriver = name;
        }
        return started;
    }

    // Decodes a block and hands it to the output, until the file ends, the
    // output fails, another song is asked for or a stop is.
    void PlayToEnd(TMusicStream& stream, out123_handle* output, std::uint64_t request) {
        while (FRequests.load(std::memory_order_relaxed) == request && !FStop.load(std::memory_order_relaxed)) {
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

    std::mutex FLock;
    std::condition_variable FWake;  // a play request, or the end
    std::optional<std::string> FDriver;  // null: the preferred outputs
    std::string FDevice;
    long FRate = 0;  // 0: not initialised
    std::thread FPlayer;
    std::string FOutputDriver;  // set by the player once the first song starts
    std::map<HSTREAM, std::unique_ptr<TMusicStream>> FStreams;
    HSTREAM FNextHandle = 1;
    TMusicStream* FRequested = nullptr;
    std::atomic<std::uint64_t> FRequests{0};  // counts play requests
    std::atomic<bool> FStop{false};
    std::atomic<std::int64_t> FOrigin{0};  // 0: the moment of the play request
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
