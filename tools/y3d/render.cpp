#include "tools/y3d/render.h"

#include "app/plane_setup.h"
#include "engine/effect_list.h"
#include "engine/renderer.h"
#include "engine/scene_player.h"
#include "platform/application.h"
#include "platform/form.h"
#include "scene/device.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"
#include "tools/demo/image_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

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

// The context is the calling thread's from here to the end of the scope.
class TCurrent {
public:
    explicit TCurrent(TgrOpengl& device) : FDevice(device) { FDevice.MakeCurrent(); }
    ~TCurrent() { FDevice.ReleaseCurrent(); }
    TCurrent(const TCurrent&) = delete;
    TCurrent& operator=(const TCurrent&) = delete;

private:
    TgrOpengl& FDevice;
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

demo::TImage ReadFrame(int width, int height)
{
    std::vector<std::uint8_t> rows(std::size_t(width) * std::size_t(height) * 3);
    gl.glFinish();
    gl.glReadBuffer(GL_BACK);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    // The GL's first row is the bottom one.
    demo::TImage image(width, height, 3);
    const std::size_t stride = std::size_t(width) * 3;
    for (int y = 0; y < height; ++y)
        std::copy_n(&rows[std::size_t(height - 1 - y) * stride], stride, &image.Pixels[std::size_t(y) * stride]);
    return image;
}

} // namespace

TRenderOptions ParseRenderOptions(const std::vector<std::string>& args)
{
    TRenderOptions options;
    bool haveTime = false;
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
                options.Time = ParseNumber(arg, value);
                if (options.Time < 0 || options.Time > 1e6)
                    throw std::invalid_argument("--time: " + value + " is outside 0 to 1000000 seconds");
                haveTime = true;
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
            } else if (arg == "--fps") {
                options.Fps = ParseNumber(arg, value);
                if (options.Fps <= 0 || options.Fps > 1000)
                    throw std::invalid_argument("--fps: " + value + " is outside 0 to 1000");
            } else if (arg == "--out-dir") {
                options.OutDir = value;
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
    if (!haveTime)
        throw std::invalid_argument("--time is required");
    if (options.Out.empty() == options.OutDir.empty())
        throw std::invalid_argument("give either --out FRAME.png or --out-dir DIR");
    if (!options.Out.empty() && options.Frames != 1)
        throw std::invalid_argument("--frames needs --out-dir");
    return options;
}

std::vector<std::string> RenderFrames(const TRenderOptions& options)
{
    // Paths are taken before the working directory changes for loading.
    const fs::path scene = fs::absolute(options.SceneFile);
    if (!fs::is_regular_file(scene))
        throw std::runtime_error("cannot open scene file " + options.SceneFile);
    std::vector<fs::path> outputs;
    if (!options.Out.empty()) {
        outputs.push_back(fs::absolute(options.Out));
    } else {
        const fs::path folder = fs::absolute(options.OutDir);
        fs::create_directories(folder);
        for (int i = 0; i < options.Frames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%04d.png", i);
            outputs.push_back(folder / name);
        }
    }

    TApplication application;
    application.Initialize();
    // A form that is never shown: the frames go to the back buffer of its
    // drawing surface and are read from there.
    TForm form(application);
    form.SetBorderStyle(TBorderStyle::bsNone);
    form.SetBounds(0, 0, options.Width, options.Height);
    TCustomControl surface(form);
    surface.SetAlign(TAlign::alClient);

    TRenderer renderer;
    renderer.SetSurface(&surface);
    auto effects = std::make_shared<TInternalEffectList>();
    auto player = std::make_shared<TMaxPlayer>();
    effects->Add(player);
    renderer.SetEffects(effects);
    renderer.SetupDevice();

    const bool planes = options.Planes;
    player->SetOnLoaded([planes](TMaxPlayer& sender) {
        if (planes && sender.Root())
            SetUpPlanes(*sender.Root(), DisableDepthTest, {});
    });
    player->SetSceneFile(scene.filename().string());
    {
        TWorkingDirectory folder(scene.parent_path());
        renderer.InitEffects();
    }

    TgrOpengl& device = *renderer.Device();
    TgrCanvas& canvas = *renderer.Canvas();
    const TCurrent current(device);
    // The program has always painted a frame a moment before: lights and
    // other state set late in a frame are in place, as they would be.
    float clock = 0;
    constexpr double Previous = 1.0 / 60;
    if (options.Time > Previous) {
        const auto delta = static_cast<float>((options.Time - Previous) * 100.0);
        clock += delta;
        PaintFrame(canvas, *player, clock, delta);
    }
    std::vector<std::string> written;
    for (int i = 0; i < options.Frames; ++i) {
        const double at = options.Time + i / options.Fps;
        const auto delta = static_cast<float>(std::max(0.0, at * 100.0 - clock));
        clock += delta;
        PaintFrame(canvas, *player, clock, delta);
        const fs::path& out = outputs[std::size_t(i)];
        demo::WriteFileBytes(out.string(), demo::EncodePng(ReadFrame(options.Width, options.Height)));
        written.push_back(out.string());
    }
    return written;
}

} // namespace vendrake::y3d
