#include "platform/pulse_output.h"

#include "platform/clock.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <functional>

namespace vendrake {

namespace {

constexpr const char* ProgramName = "Vendrake";
// Short enough that the song can be placed to a few milliseconds, long
// enough that a busy machine (the renderer takes every core it can) does not
// run it dry.
constexpr pa_usec_t RequestedLatency = 60 * PA_USEC_PER_MSEC;

class TPulseOutput : public TSoundOutput {
public:
    TPulseOutput() : FLoop(pa_mainloop_new()) {}

    ~TPulseOutput() override
    {
        if (FStream) {
            if (Ready())
                Complete(pa_stream_drain(FStream, nullptr, nullptr));
            pa_stream_disconnect(FStream);
            pa_stream_unref(FStream);
        }
        if (FContext) {
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
        }
        if (FLoop)
            pa_mainloop_free(FLoop);
    }

    bool Open(long rate)
    {
        if (!FLoop)
            return false;
        pa_proplist* program = pa_proplist_new();
        pa_proplist_sets(program, PA_PROP_APPLICATION_NAME, ProgramName);
        pa_proplist_sets(program, PA_PROP_APPLICATION_ICON_NAME, "vendrake");
        FContext = pa_context_new_with_proplist(pa_mainloop_get_api(FLoop), ProgramName, program);
        pa_proplist_free(program);
        // A user without a running server gets none started behind their back.
        if (!FContext || pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            !IterateUntil([this] { return pa_context_get_state(FContext) == PA_CONTEXT_READY; }))
            return false;

        const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(rate), 2};
        pa_proplist* music = pa_proplist_new();
        pa_proplist_sets(music, PA_PROP_MEDIA_ROLE, "music");
        FStream = pa_stream_new_with_proplist(FContext, ProgramName, &format, nullptr, music);
        pa_proplist_free(music);
        if (!FStream)
            return false;
        constexpr std::uint32_t ServerChooses = static_cast<std::uint32_t>(-1);
        const pa_buffer_attr buffer{ServerChooses, static_cast<std::uint32_t>(pa_usec_to_bytes(RequestedLatency, &format)),
                                    ServerChooses, ServerChooses, ServerChooses};
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                          PA_STREAM_AUTO_TIMING_UPDATE);
        return pa_stream_connect_playback(FStream, nullptr, &buffer, flags, nullptr, nullptr) == 0 &&
               IterateUntil([this] { return pa_stream_get_state(FStream) == PA_STREAM_READY; }) && UpdateTiming();
    }

    std::string Driver() const override { return "pulse"; }

    bool Start() override { return Ready(); }

    std::int64_t Writable() override
    {
        for (;;) {
            if (FWoken.exchange(false))
                return 0;
            const std::size_t bytes = Ready() ? pa_stream_writable_size(FStream) : static_cast<std::size_t>(-1);
            if (bytes == static_cast<std::size_t>(-1))
                return -1;
            if (bytes > 0)
                return static_cast<std::int64_t>(bytes);
            if (pa_mainloop_iterate(FLoop, 1, nullptr) < 0)
                return -1;
        }
    }

    bool Write(const unsigned char* data, std::size_t bytes) override
    {
        return Ready() && pa_stream_write(FStream, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) == 0;
    }

    // Written but not heard, plus the server's own delay, from the last
    // timing report and the clock since then.
    std::optional<std::int64_t> NextHeardAt() override
    {
        pa_usec_t latency = 0;
        int negative = 0;
        // After a flush the write position is unknown until the server reports it.
        if (pa_stream_get_latency(FStream, &latency, &negative) != 0 &&
            (!UpdateTiming() || pa_stream_get_latency(FStream, &latency, &negative) != 0))
            return std::nullopt;
        std::int64_t now = 0;
        QueryPerformanceCounter(&now);
        const auto nanoseconds = static_cast<std::int64_t>(latency) * 1000;
        return negative ? now - nanoseconds : now + nanoseconds;
    }

    void Drop() override
    {
        if (Ready())
            if (pa_operation* flush = pa_stream_flush(FStream, nullptr, nullptr))
                pa_operation_unref(flush);
    }

    void Wake() override
    {
        FWoken = true;
        pa_mainloop_wakeup(FLoop);
    }

private:
    bool Ready() const
    {
        return pa_context_get_state(FContext) == PA_CONTEXT_READY && pa_stream_get_state(FStream) == PA_STREAM_READY;
    }

    // Runs the loop until done() holds; false when the connection or the
    // stream fails first.
    bool IterateUntil(const std::function<bool()>& done)
    {
        for (;;) {
            if (done())
                return true;
            const pa_context_state_t context = pa_context_get_state(FContext);
            if (!PA_CONTEXT_IS_GOOD(context) ||
                (FStream && !PA_STREAM_IS_GOOD(pa_stream_get_state(FStream))) ||
                pa_mainloop_iterate(FLoop, 1, nullptr) < 0)
                return false;
        }
    }

    // Waits for the operation to end; false when the stream fails first.
    bool Complete(pa_operation* operation)
    {
        if (!operation)
            return false;
        const bool done =
            IterateUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        pa_operation_unref(operation);
        return done;
    }

    bool UpdateTiming() { return Complete(pa_stream_update_timing_info(FStream, nullptr, nullptr)); }

    pa_mainloop* FLoop;
    pa_context* FContext = nullptr;
    pa_stream* FStream = nullptr;
    std::atomic<bool> FWoken{false};
};

} // namespace

std::unique_ptr<TSoundOutput> OpenPulseOutput(long rate)
{
    auto output = std::make_unique<TPulseOutput>();
    if (!output->Open(rate))
        return nullptr;
    return output;
}

} // namespace vendrake
