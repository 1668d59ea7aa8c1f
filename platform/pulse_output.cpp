#include "platform/pulse_output.h"

#include "platform/clock.h"

#include <pulse/pulseaudio.h>

#include <time.h>

#include <atomic>
#include <functional>

namespace vendrake {

namespace {

constexpr const char* ProgramName = "Vendrake";
// The buffer asked for. The song is placed from the server's reports however
// long it is, so it only has to outlast the player being kept from the
// processor: the renderer takes every core it can, and 60 ms ran dry on a
// busy machine.
constexpr pa_usec_t RequestedLatency = 150 * PA_USEC_PER_MSEC;
// How often the server is asked where playback is.
constexpr std::int64_t ReportInterval = PerformanceFrequency / 50;

std::int64_t Now()
{
    std::int64_t now = 0;
    QueryPerformanceCounter(&now);
    return now;
}

// A server's timestamp (the wall clock) on the performance counter.
std::int64_t CounterAt(const timeval& wall)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t wallNow = std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
    return Now() - (wallNow - (std::int64_t{wall.tv_sec} * 1'000'000'000 + std::int64_t{wall.tv_usec} * 1000));
}

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
        constexpr auto ServerChooses = static_cast<std::uint32_t>(-1);
        const auto target = static_cast<std::uint32_t>(pa_usec_to_bytes(RequestedLatency, &format));
        const pa_buffer_attr buffer{ServerChooses, target, ServerChooses, ServerChooses, ServerChooses};
        FBytesPerSecond = static_cast<std::int64_t>(pa_bytes_per_second(&format));
        return pa_stream_connect_playback(FStream, nullptr, &buffer, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) == 0 &&
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
            if (Now() - FAskedAt >= ReportInterval) {
                FAskedAt = Now();
                if (pa_operation* update = pa_stream_update_timing_info(FStream, nullptr, nullptr))
                    pa_operation_unref(update);
            }
            if (pa_mainloop_iterate(FLoop, 1, nullptr) < 0)
                return -1;
        }
    }

    bool Write(const unsigned char* data, std::size_t bytes) override
    {
        return Ready() && pa_stream_write(FStream, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) == 0;
    }

    // Once per report of the server's, and from a fresh one after a flush:
    // the byte the server had read when it reported is heard after the
    // sink's delay, and those written since follow at the stream's rate.
    // While the stream waits to start, that delay counts from now. Nothing
    // between reports: libpulse's interpolation guesses the server's pace,
    // and around a stall its guess wandered by a percent or two, enough to
    // move the song when it need not move.
    std::optional<std::int64_t> NextHeardAt() override
    {
        const pa_timing_info* report = pa_stream_get_timing_info(FStream);
        if ((!report || report->write_index_corrupt || report->read_index_corrupt) &&
            (!UpdateTiming() || !(report = pa_stream_get_timing_info(FStream)) || report->write_index_corrupt ||
             report->read_index_corrupt))
            return std::nullopt;
        const timeval stamp = report->timestamp;
        if (stamp.tv_sec == FLastReport.tv_sec && stamp.tv_usec == FLastReport.tv_usec && !FReportPending)
            return std::nullopt;
        FLastReport = stamp;
        FReportPending = false;
        const std::int64_t reportedAt = CounterAt(stamp);
        const std::int64_t queued = (report->write_index - report->read_index) * PerformanceFrequency / FBytesPerSecond;
        return (report->playing ? reportedAt : Now()) + static_cast<std::int64_t>(report->sink_usec) * 1000 + queued;
    }

    void Drop() override
    {
        if (Ready())
            if (pa_operation* flush = pa_stream_flush(FStream, nullptr, nullptr))
                pa_operation_unref(flush);
        FReportPending = true;
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
    std::int64_t FBytesPerSecond = 1;
    std::int64_t FAskedAt = 0;     // when the last report was asked for
    timeval FLastReport{};         // the time stamp of the last report used
    bool FReportPending = true;    // the next report is used even if it is the last one
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
