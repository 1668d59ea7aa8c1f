#include "app/play_options.h"

#include <sys/resource.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vendrake {

const char* const PlayUsage =
    "usage: vendrake [--frames N] [--stats]\n"
    "Plays ZuzezurAdor.y3d with vendrake.mp3 from the working directory at 800 x 600\n"
    "until Escape.\n"
    "  --frames N   end by itself after N frames\n"
    "  --stats      on the way out, print when the first frame was shown, the\n"
    "               frame rate after it, the peak memory and the sound output to\n"
    "               standard error\n";

TPlayOptions ParsePlayOptions(int argc, const char* const* argv)
{
    TPlayOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--stats") {
            options.Stats = true;
        } else if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--frames") {
            if (i + 1 >= argc)
                throw EUsageError("--frames needs a number of frames");
            const char* text = argv[++i];
            char* end = nullptr;
            errno = 0;
            const long long n = std::strtoll(text, &end, 10);
            if (end == text || *end != '\0' || errno == ERANGE || n < 1)
                throw EUsageError(std::string("--frames needs a whole number from 1 up, not '") + text + "'");
            options.Frames = n;
        } else {
            throw EUsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    return options;
}

TFrameStats::TFrameStats(std::int64_t startNs, std::int64_t limit) : FStart(startNs), FLimit(limit) {}

bool TFrameStats::FrameShown(std::int64_t nowNs)
{
    if (FLimit > 0 && FFrames >= FLimit)
        return false;
    if (FFrames == 0)
        FFirst = nowNs;
    FLast = nowNs;
    ++FFrames;
    return FFrames == FLimit;
}

std::string TFrameStats::Report(std::int64_t peakBytes, const std::string& soundDriver, int monitorWidth,
                                int monitorHeight) const
{
    char text[256];
    const double peakMiB = double(peakBytes) / (1024.0 * 1024.0);
    const double firstMs = double(FFirst - FStart) / 1e6;
    if (FFrames == 0) {
        std::snprintf(text, sizeof text, "no frame shown; peak memory %.1f MiB", peakMiB);
    } else if (FFrames == 1 || FLast == FFirst) {
        std::snprintf(text, sizeof text, "first frame %.1f ms after start; %" PRId64 " frame%s; peak memory %.1f MiB",
                      firstMs, FFrames, FFrames == 1 ? "" : "s", peakMiB);
    } else {
        // The rate of the frames after the first, which carries the start-up.
        const double perSecond = double(FFrames - 1) / (double(FLast - FFirst) / 1e9);
        std::snprintf(text, sizeof text,
                      "first frame %.1f ms after start; %" PRId64 " frames, %.1f per second after the first; "
                      "peak memory %.1f MiB",
                      firstMs, FFrames, perSecond, peakMiB);
    }
    std::string report = text + (soundDriver.empty() ? std::string("; no sound output") : "; sound through " + soundDriver);
    const std::string monitor = std::to_string(monitorWidth) + "x" + std::to_string(monitorHeight);
    report += monitor == "800x600" ? "; mode " + monitor : "; centred on " + monitor;
    return report;
}

std::int64_t PeakResidentBytes()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return std::int64_t(usage.ru_maxrss) * 1024; // kilobytes on Linux
}

} // namespace vendrake
