#include "tools/y3d/render.h"

#include "app/plane_setup.h"
#include "convert/video_writer.h"
#include "engine/effect_list.h"
#include "engine/renderer.h"
#include "engine/scene_player.h"
#include "scenefile/loader.h"
#include "platform/x_window.h"
#include "render/mesh.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"
#include "tools/demo/image_files.h"
#include "tools/demo/soundtrack.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace vendrake::y3d {

namespace {

namespace fs = std::filesystem;

double ParseNumber(const std::string& option, const std::string& text)
{
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !std::isfinite(value))
        throw std::invalid_argument(option + ": \"" + text + "\" is not a number");
    return value;
}

int ParseCount(const std::string& option, const std::string& text, int lo, int hi)
{
    const double value = ParseNumber(option, text);
    if (value != std::floor(value) || value < lo || value > hi)
        throw std::invalid_argument(option + ": " + text + " is not a whole number from " + std::to_string(lo) +
                                    " to " + std::to_string(hi));
    return static_cast<int>(value);
}

double ParseSeconds(const std::string& option, const std::string& text)
{
    const double value = ParseNumber(option, text);
    if (value < 0 || value > 1e6)
        throw std::invalid_argument(option + ": " + text + " is outside 0 to 1000000 seconds");
    return value;
}

std::string Seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Runs the loading with the scene's folder as the working directory and
// goes back afterwards, whatever happens.
class TWorkingDirectory {
public:
    explicit TWorkingDirectory(const fs::path& folder) : FPrevious(fs::current_path()) { fs::current_path(folder); }
    ~TWorkingDirectory()
    {
        std::error_code ignored;
        fs::current_path(FPrevious, ignored);
    }
    TWorkingDirectory(const TWorkingDirectory&) = delete;
    TWorkingDirectory& operator=(const TWorkingDirectory&) = delete;

private:
    fs::path FPrevious;
};

// A hidden window for the frames, destroyed with its owner.
class THiddenWindow {
public:
    THiddenWindow(int width, int height) : FWindow(CreateHiddenWindow("Y3d", "y3d render", 0, 0, width, height)) {}
    ~THiddenWindow() { DestroyWindow(FWindow); }
    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;
    HWND Get() const { return FWindow; }

private:
    HWND FWindow;
};

// Hidden windows made while it lives are off-screen ones, or X windows.
class TOffscreenWindows {
public:
    explicit TOffscreenWindows(bool offscreen) : FPrevious(OffscreenWindows()) { SetOffscreenWindows(offscreen); }
    ~TOffscreenWindows() { SetOffscreenWindows(FPrevious); }
    TOffscreenWindows(const TOffscreenWindows&) = delete;
    TOffscreenWindows& operator=(const TOffscreenWindows&) = delete;

private:
    bool FPrevious;
};

// SIGINT, SIGTERM and SIGHUP while a video is written: the handler removes
// the file being written at once (its name is prepared beforehand, so the
// handler only calls unlink) and leaves a flag the frame loop stops at. A
// second signal finds the default action back in place and ends the process.
volatile std::sig_atomic_t InterruptSignal = 0;
char DoomedFile[4096] = {};

extern "C" void OnInterrupt(int signal)
{
    InterruptSignal = signal;
    if (DoomedFile[0])
        ::unlink(DoomedFile);
}

class TInterruptGuard {
public:
    TInterruptGuard()
    {
        InterruptSignal = 0;
        DoomedFile[0] = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(Signals); ++i)
            sigaction(Signals[i], &action, &FPrevious[i]);
    }
    ~TInterruptGuard()
    {
        Doom("");
        for (std::size_t i = 0; i < std::size(Signals); ++i)
            sigaction(Signals[i], &FPrevious[i], nullptr);
    }
    TInterruptGuard(const TInterruptGuard&) = delete;
    TInterruptGuard& operator=(const TInterruptGuard&) = delete;

    // The file the handler removes; changed with the signals held off, so
    // the handler never sees half a name.
    void Doom(const std::string& fileName)
    {
        sigset_t held, previous;
        sigemptyset(&held);
        for (int signal : Signals)
            sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &previous);
        const std::size_t length = fileName.size() < sizeof DoomedFile ? fileName.size() : 0;
        std::memcpy(DoomedFile, fileName.data(), length);
        DoomedFile[length] = 0;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }

    void Check(const std::string& out) const
    {
        if (const int signal = InterruptSignal) {
            const char* name = sigabbrev_np(signal);
            throw ERenderInterrupted("interrupted by SIG" + std::string(name ? name : "?") + "; " + out +
                                         " was not written",
                                     signal);
        }
    }

private:
    static constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction FPrevious[3] {};
};

// One frame in the render thread's order; the player's clock moves on by
// delta (hundredths of a second).
void PaintFrame(TgrCanvas& canvas, TMaxPlayer& player, float time, float delta)
{
    gl.glClearColor(0, 0, 0, 1);
    gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    canvas.Action();
    player.Render(time, delta);
}

demo::TImage TopRowFirst(const std::vector<std::uint8_t>& rows, int width, int height)
{
    demo::TImage image(width, height, 3);
    const std::size_t stride = std::size_t(width) * 3;
    for (int y = 0; y < height; ++y)
        std::copy_n(&rows[std::size_t(height - 1 - y) * stride], stride, &image.Pixels[std::size_t(y) * stride]);
    return image;
}

int FrameCount(double from, double to, double fps)
{
    // A hair below a whole count is that count: 4 s at 25 a second is 100.
    const double frames = std::ceil((to - from) * fps - 1e-6);
    if (frames < 1)
        throw std::invalid_argument("the span from " + Seconds(from) + " s to " + Seconds(to) + " s holds no frame");
    if (frames > MaxRenderFrames)
        throw std::invalid_argument("the span from " + Seconds(from) + " s to " + Seconds(to) + " s holds " +
                                    Seconds(frames) + " frames, more than " + std::to_string(MaxRenderFrames));
    return static_cast<int>(frames);
}

} // namespace

TRenderOptions ParseRenderOptions(const std::vector<std::string>& args)
{
    TRenderOptions options;
    bool haveTime = false, haveFrames = false, haveFps = false, haveCrf = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--no-planes") {
            options.Planes = false;
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= args.size())
                throw std::invalid_argument(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--time") {
                options.Time = ParseSeconds(arg, value);
                haveTime = true;
            } else if (arg == "--from") {
                options.From = ParseSeconds(arg, value);
                options.Span = true;
            } else if (arg == "--to") {
                options.To = ParseSeconds(arg, value);
                options.Span = true;
            } else if (arg == "--size") {
                const std::size_t x = value.find('x');
                if (x == std::string::npos)
                    throw std::invalid_argument("--size: \"" + value + "\" is not WIDTHxHEIGHT");
                options.Width = ParseCount(arg, value.substr(0, x), 16, MaxRenderSide);
                options.Height = ParseCount(arg, value.substr(x + 1), 16, MaxRenderSide);
            } else if (arg == "--out") {
                options.Out = value;
            } else if (arg == "--frames") {
                options.Frames = ParseCount(arg, value, 1, MaxRenderFrames);
                haveFrames = true;
            } else if (arg == "--fps") {
                options.Fps = ParseNumber(arg, value);
                if (options.Fps <= 0 || options.Fps > 1000)
                    throw std::invalid_argument("--fps: " + value + " is outside 0 to 1000");
                haveFps = true;
            } else if (arg == "--out-dir") {
                options.OutDir = value;
            } else if (arg == "--video") {
                options.Video = value;
            } else if (arg == "--crf") {
                options.Crf = ParseCount(arg, value, 0, 63);
                haveCrf = true;
            } else if (arg == "--music") {
                options.Music = value;
            } else {
                throw std::invalid_argument("unknown option " + arg);
            }
            continue;
        }
        if (!options.SceneFile.empty())
            throw std::invalid_argument("more than one scene file: " + options.SceneFile + " and " + arg);
        options.SceneFile = arg;
    }
    if (options.SceneFile.empty())
        throw std::invalid_argument("no scene file given");
    const int outputs = !options.Out.empty() + !options.OutDir.empty() + !options.Video.empty();
    if (outputs != 1)
        throw std::invalid_argument("give one of --out FRAME.png, --out-dir DIR or --video FILE");
    if (options.Video.empty() && (haveCrf || !options.Music.empty()))
        throw std::invalid_argument(std::string(haveCrf ? "--crf" : "--music") + " needs --video");
    if (!options.Out.empty()) {
        if (!haveTime)
            throw std::invalid_argument("--time is required");
        if (haveFrames)
            throw std::invalid_argument("--frames needs --out-dir");
        if (options.Span)
            throw std::invalid_argument("--from and --to need --out-dir or --video");
    }
    if (!options.Video.empty()) {
        if (haveTime || haveFrames)
            throw std::invalid_argument("a video takes --from and --to, not --time and --frames");
        const int maxCrf = VideoContainerOf(options.Video) == TVideoContainer::WebM ? 63 : 51;
        if (options.Crf > maxCrf)
            throw std::invalid_argument("--crf: " + std::to_string(options.Crf) + " is outside 0 to " +
                                        std::to_string(maxCrf) + " for " + fs::path(options.Video).extension().string());
        if (options.Width % 2 || options.Height % 2)
            throw std::invalid_argument("--size: a video's width and height must be even");
        options.Span = true;
        if (!haveFps)
            options.Fps = 60;
    }
    if (!options.OutDir.empty()) {
        if (haveTime && options.Span)
            throw std::invalid_argument("--time and --frames or --from and --to, not both");
        if (haveFrames && !haveTime)
            throw std::invalid_argument("--frames goes with --time");
        options.Span = !haveTime;
    }
    if (options.Span && options.To >= 0 && options.To <= options.From)
        throw std::invalid_argument("the span from " + Seconds(options.From) + " s to " + Seconds(options.To) +
                                    " s is empty");
    return options;
}

// -- TFramePainter -------------------------------------------------------------

struct TFramePainter::TState {
    int Width = 0;
    int Height = 0;
    bool Offscreen = false;
    // The window outlives the renderer whose context draws into it.
    std::unique_ptr<THiddenWindow> Window;
    TRenderer Renderer;
    std::shared_ptr<TMaxPlayer> Player;
    bool Current = false;
    bool Painted = false;
    float Clock = 0;
    std::vector<std::uint8_t> Pixels;
};

TFramePainter::TFramePainter(const std::string& sceneFile, int width, int height, bool planes)
    : F(std::make_unique<TState>())
{
    const fs::path scene = fs::absolute(sceneFile);
    if (!fs::is_regular_file(scene))
        throw std::runtime_error("cannot open scene file " + sceneFile);
    F->Width = width;
    F->Height = height;
    TRenderer& renderer = F->Renderer;
    auto effects = std::make_shared<TInternalEffectList>();
    F->Player = std::make_shared<TMaxPlayer>();
    effects->Add(F->Player);
    renderer.SetEffects(effects);

    // GLX into a window that is never shown when there is a display, else
    // EGL into a pbuffer; the probe window the pixel formats are read from
    // is made the same way.
    const auto setUp = [&](bool offscreen) {
        const TOffscreenWindows kind(offscreen);
        renderer.SetDevice(nullptr); // a failed device goes before its window
        F->Window = std::make_unique<THiddenWindow>(width, height);
        F->Offscreen = offscreen;
        renderer.SetupDevice(F->Window->Get());
    };
    bool ready = false;
    if (DefaultDisplayAvailable()) {
        try {
            setUp(false);
            ready = true;
        } catch (const EGLDeviceError&) {
            // A display without GLX (a remote one, say): off-screen instead.
        }
    }
    if (!ready) {
        try {
            setUp(true);
        } catch (const EGLDeviceError& e) {
            throw EGLDeviceError(std::string("no X display with GLX and no EGL off-screen rendering: ") + e.what());
        }
    }

    F->Player->SetOnLoaded([planes](TMaxPlayer& sender) {
        if (planes && sender.Root())
            SetUpPlanes(*sender.Root(), DisableDepthTest, {});
    });
    F->Player->SetSceneFile(scene.filename().string());
    {
        TWorkingDirectory folder(scene.parent_path());
        renderer.InitEffects();
    }
    if (!F->Player->PaintsAnything())
        throw std::runtime_error(sceneFile + ": nothing to paint: the scene file holds no camera and no mesh");
    // The context is this object's from here on.
    renderer.Device()->MakeCurrent();
    F->Current = true;
}

TFramePainter::~TFramePainter()
{
    if (F->Current && F->Renderer.Device())
        F->Renderer.Device()->ReleaseCurrent();
}

double TFramePainter::SceneEnd() const { return F->Player->SceneEnd(); }

bool TFramePainter::Offscreen() const { return F->Offscreen; }

void TFramePainter::Paint(double seconds)
{
    TgrCanvas& canvas = *F->Renderer.Canvas();
    TMaxPlayer& player = *F->Player;
    // The program has always painted a frame a moment before: lights and
    // other state set late in a frame are in place, as they would be.
    constexpr double Previous = 1.0 / 60;
    if (!F->Painted && seconds > Previous) {
        const auto delta = static_cast<float>((seconds - Previous) * 100.0);
        F->Clock += delta;
        PaintFrame(canvas, player, F->Clock, delta);
    }
    F->Painted = true;
    const auto delta = static_cast<float>(std::max(0.0, seconds * 100.0 - F->Clock));
    F->Clock += delta;
    PaintFrame(canvas, player, F->Clock, delta);
}

const std::vector<std::uint8_t>& TFramePainter::ReadBack(TLayout layout)
{
    const bool bgra = layout == TLayout::Bgra;
    F->Pixels.resize(std::size_t(F->Width) * std::size_t(F->Height) * (bgra ? 4 : 3));
    gl.glFinish();
    // The back buffer of the hidden window, and of the pbuffer too, whose
    // one colour buffer the GL calls its back buffer.
    gl.glReadBuffer(GL_BACK);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.glReadPixels(0, 0, F->Width, F->Height, bgra ? GL_BGRA : GL_RGB, GL_UNSIGNED_BYTE, F->Pixels.data());
    return F->Pixels;
}

// -- RenderFrames --------------------------------------------------------------

namespace {

std::vector<std::string> WritePngs(const TRenderOptions& options, TFramePainter& painter, double from, int count,
                                   const TRenderObserver& observer)
{
    std::vector<fs::path> outputs;
    if (!options.Out.empty()) {
        outputs.push_back(fs::absolute(options.Out));
    } else {
        const fs::path folder = fs::absolute(options.OutDir);
        fs::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%04d.png", i);
            outputs.push_back(folder / name);
        }
    }
    std::vector<std::string> written;
    for (int i = 0; i < count; ++i) {
        painter.Paint(from + i / options.Fps);
        const fs::path& out = outputs[std::size_t(i)];
        demo::WriteFileBytes(out.string(),
                             demo::EncodePng(TopRowFirst(painter.ReadBack(), options.Width, options.Height)));
        written.push_back(out.string());
        if (observer.Progress)
            observer.Progress(i + 1, count);
    }
    return written;
}

std::string WriteVideo(const TRenderOptions& options, TFramePainter& painter, const fs::path& scene, double to,
                       const TRenderObserver& observer)
{
    TVideoSettings settings;
    settings.FileName = fs::absolute(options.Video).string();
    settings.Width = options.Width;
    settings.Height = options.Height;
    settings.Fps = options.Fps;
    settings.Crf = options.Crf;
    settings.Bgra = true;
    settings.MusicFrom = options.From;
    settings.Seconds = to - options.From;
    if (!options.Music.empty()) {
        settings.Music = options.Music;
    } else {
        const fs::path music = scene.parent_path() / demo::MusicFileName;
        if (fs::exists(music))
            settings.Music = music.string();
        else if (observer.Warning)
            observer.Warning("no soundtrack " + music.string() + "; the video has no sound");
    }
    const int count = FrameCount(options.From, to, options.Fps);

    TInterruptGuard interrupt;
    TVideoWriter writer(settings);
    interrupt.Doom(writer.TemporaryFileName());
    try {
        for (int i = 0; i < count; ++i) {
            interrupt.Check(options.Video);
            painter.Paint(options.From + i / options.Fps);
            const std::vector<std::uint8_t>& rows = painter.ReadBack(TFramePainter::TLayout::Bgra);
            const std::ptrdiff_t stride = std::ptrdiff_t(options.Width) * 4;
            // Bottom row first: the top is the last row.
            writer.WriteFrame(rows.data() + stride * (options.Height - 1), -stride);
            if (observer.Progress)
                observer.Progress(i + 1, count);
        }
        interrupt.Check(options.Video);
        writer.Finish();
    } catch (...) {
        // The file the handler removed may be what failed: say why.
        interrupt.Check(options.Video);
        throw;
    }
    return options.Video;
}

} // namespace

std::vector<std::string> RenderFrames(const TRenderOptions& options, const TRenderObserver& observer)
{
    // Paths are taken before the working directory changes for loading.
    const fs::path scene = fs::absolute(options.SceneFile);
    TFramePainter painter(options.SceneFile, options.Width, options.Height, options.Planes);
    if (!options.Span) {
        return WritePngs(options, painter, options.Time, options.Frames, observer);
    }
    const double end = painter.SceneEnd();
    const double to = options.To >= 0 ? options.To : end;
    if (to <= options.From)
        throw std::invalid_argument("the span from " + Seconds(options.From) + " s to the scene's end at " +
                                    Seconds(end) + " s is empty");
    if (!options.Video.empty())
        return {WriteVideo(options, painter, scene, to, observer)};
    return WritePngs(options, painter, options.From, FrameCount(options.From, to, options.Fps), observer);
}

} // namespace vendrake::y3d
