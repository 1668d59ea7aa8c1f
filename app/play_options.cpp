#include "app/play_options.h"

#include "app/main_form.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vendrake {

const char* const PlayUsage =
    "usage: vendrake [SCENE.y3d] [--music FILE] [--window] [--loop | --exit-at-end] [--frames N] [--stats]\n"
    "Plays SCENE.y3d, with the textures it names from its folder, full screen with\n"
    "the display switched to 800 x 600, until Escape. Without SCENE, plays\n"
    "ZuzezurAdor.y3d with vendrake.mp3 from the working directory, or the demo\n"
    "installed with the program when the working directory has no such scene.\n"
    "  --music FILE   the soundtrack; without it, the MP3 of the scene's name beside\n"
    "                 the scene, else vendrake.mp3 beside it, else none\n"
    "  --window       play in an ordinary 800 x 600 window titled with the scene's\n"
    "                 name, leaving the display mode alone\n"
    "  --loop         at the end of the scene's longest track, start the scene and\n"
    "                 its music again from the beginning\n"
    "  --exit-at-end  end at the end of the scene's longest track, with status 0\n"
    "  --frames N     end by itself after N frames\n"
    "  --stats        on the way out, print when the first frame was shown, the\n"
    "                 frame rate after it, the peak memory and the sound output to\n"
    "                 standard error\n"
    "Exit status: 0 when it ends as asked, 1 after an error, 2 for a wrong command\n"
    "line.\n";

TPlayOptions ParsePlayOptions(int argc, const char* const* argv)
{
    TPlayOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--stats") {
            options.Stats = true;
        } else if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--window") {
            options.Window = true;
        } else if (arg == "--loop") {
            options.Loop = true;
        } else if (arg == "--exit-at-end") {
            options.ExitAtEnd = true;
        } else if (arg == "--music") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                throw EUsageError("--music needs an MP3 file");
            options.Music = argv[++i];
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
        } else if (arg.starts_with("-") || arg.empty()) {
            throw EUsageError("unknown option '" + std::string(arg) + "'");
        } else if (!options.Scene.empty()) {
            throw EUsageError("one scene at a time: '" + options.Scene + "' and '" + std::string(arg) + "'");
        } else {
            options.Scene = arg;
        }
    }
    if (options.Loop && options.ExitAtEnd)
        throw EUsageError("--loop and --exit-at-end exclude each other");
    return options;
}

namespace {

namespace fs = std::filesystem;

// Empty when the file can be opened for reading; otherwise why not.
std::string WhyUnreadable(const fs::path& file)
{
    std::error_code error;
    if (fs::is_directory(file, error))
        return "is a folder, not a file";
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

bool IsFile(const fs::path& file)
{
    std::error_code error;
    return fs::is_regular_file(file, error);
}

} // namespace

TPlayFiles ResolvePlayFiles(const TPlayOptions& options, const fs::path& cwd, const fs::path& demoFolder)
{
    TPlayFiles files;
    if (!options.Music.empty()) {
        files.Music = cwd / options.Music;
        if (const std::string why = WhyUnreadable(files.Music); !why.empty())
            throw std::runtime_error("--music " + options.Music + ": " + why);
    }
    if (options.Scene.empty()) {
        files.Folder = cwd;
        std::error_code error;
        if (!demoFolder.empty() && !fs::exists(cwd / SceneFileName, error) && IsFile(demoFolder / SceneFileName))
            files.Folder = demoFolder;
        files.Scene = files.Folder / SceneFileName;
        if (files.Music.empty())
            files.Music = files.Folder / MusicFileName;
        files.Caption = "Vendrake";
        return files;
    }
    // Not normalised: the system finds "link/../x" beside where the link
    // leads, not in the working directory.
    files.Scene = cwd / options.Scene;
    if (const std::string why = WhyUnreadable(files.Scene); !why.empty())
        throw std::runtime_error(options.Scene + ": " + why);
    files.Folder = files.Scene.parent_path();
    files.Caption = files.Scene.filename().string();
    if (!files.Music.empty())
        return files;
    fs::path own = files.Scene;
    own.replace_extension(".mp3");
    const fs::path shared = files.Folder / MusicFileName;
    if (IsFile(own)) {
        files.Music = own;
    } else if (IsFile(shared)) {
        files.Music = shared;
    } else {
        std::string looked = own.filename().string();
        if (own != shared)
            looked += " and " + shared.filename().string();
        files.Notice = "no music for " + files.Caption + " (looked for " + looked + " beside it)";
    }
    return files;
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
    if (monitorWidth == 0)
        return report + "; in a window";
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

fs::path InstalledDemoFolder(const fs::path& relative)
{
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return (executable.parent_path() / relative).lexically_normal();
}

} // namespace vendrake
