#include "platform/out123_output.h"

#include <out123.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>

namespace vendrake {

namespace {

constexpr int OutputChannels = 2;
constexpr int OutputEncoding = MPG123_ENC_SIGNED_16;  // from fmt123.h, shared with libmpg123
// About 90 ms of sound a write: the longest a stop request waits for the
// player while the module blocks.
constexpr std::int64_t BlockBytes = 16384;
// The modules tried when no PulseAudio server answers. Trying every
// installed module instead can take seconds, or never end, on a machine
// without a sound server.
constexpr const char* PreferredDrivers[] = {"alsa"};

// Closing drains what is queued; the player drops it first when told to stop.
struct TOut123Free {
    void operator()(out123_handle* output) const { out123_del(output); }
};
using TOut123 = std::unique_ptr<out123_handle, TOut123Free>;

// Where libout123 looks for its output modules: MPG123_MODDIR, or else the
// mpg123 folder beside the library itself.
std::filesystem::path ModuleFolder()
{
    if (const char* folder = std::getenv("MPG123_MODDIR"))
        return folder;
    Dl_info library{};
    if (dladdr(reinterpret_cast<void*>(&out123_new), &library) == 0 || !library.dli_fname)
        return {};
    return std::filesystem::path(library.dli_fname).parent_path() / "mpg123";
}

// The preferred drivers whose modules load, as out123_open takes them. Only
// those are asked for: libout123 reports a module it cannot load on stderr
// even when told to be quiet. They also stay loaded: libout123 unloads a
// module that found no device, and the ALSA library would go with it, taking
// the configuration it keeps for the life of the process out of reach (a
// leak, as far as LeakSanitizer can tell).
std::string LoadedDrivers()
{
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

class TOut123Output : public TSoundOutput {
public:
    TOut123Output(TOut123 output, long rate) : FOutput(std::move(output)), FRate(rate) {}

    std::string Driver() const override
    {
        char* name = nullptr;
        if (out123_driver_info(FOutput.get(), &name, nullptr) == OUT123_OK && name)
            return name;
        return {};
    }

    bool Start() override { return out123_start(FOutput.get(), FRate, OutputChannels, OutputEncoding) == OUT123_OK; }

    std::int64_t Writable() override { return BlockBytes; }

    bool Write(const unsigned char* data, std::size_t bytes) override
    {
        return out123_play(FOutput.get(), const_cast<unsigned char*>(data), bytes) == bytes;
    }

    std::optional<std::int64_t> NextHeardAt() override { return std::nullopt; }

    void Drop() override { out123_drop(FOutput.get()); }

    // A write blocks for one block at most; the player looks at its
    // requests between blocks.
    void Wake() override {}

private:
    TOut123 FOutput;
    long FRate;
};

} // namespace

// Quiet: the modules then print nothing, and the alsa one keeps ALSA's own
// library quiet as well.
std::unique_ptr<TSoundOutput> OpenOut123Output(const std::optional<std::string>& driver, const std::string& device,
                                               long rate)
{
    TOut123 output(out123_new());
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
    return std::make_unique<TOut123Output>(std::move(output), rate);
}

} // namespace vendrake
