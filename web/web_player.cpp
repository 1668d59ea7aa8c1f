// The web player's entry points, called by the page's script: the scene
// loaded from the page's files and painted as the desktop program paints it,
// one frame each time the browser asks for one.
#include "app/plane_setup.h"
#include "engine/renderer.h"
#include "engine/scene_player.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"
#include "scenefile/tree_text.h"
#include "web/fixed_function.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace vendrake;

struct TWebPlayer {
    TgrCanvas Canvas;
    std::shared_ptr<TMaxPlayer> Player = std::make_shared<TMaxPlayer>();
    std::string TreeText;
    float Clock = 0; // hundredths of a second, kept in single precision as the player's own clock is
    bool Painted = false;
};

std::unique_ptr<TWebPlayer> Web;
std::string Message;

// One frame in the render thread's order; the clock moves on by delta.
void PaintFrame(TWebPlayer& web, float delta)
{
    web.Clock += delta;
    gl.glClearColor(0, 0, 0, 1);
    gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    web.Canvas.Action();
    web.Player->Render(web.Clock, delta);
}

} // namespace

extern "C" {

// Loads the scene file from the folder the page put its files in, on a
// WebGL 2 context on the canvas. Empty on success, else the message to show.
EMSCRIPTEN_KEEPALIVE const char* vendrake_start(const char* canvas, const char* folder, const char* sceneFile,
                                                int width, int height)
{
    Message.clear();
    try {
        if (const std::string error = web::InstallFixedFunctionGL(canvas); !error.empty())
            throw std::runtime_error(error);
        if (chdir(folder) != 0)
            throw std::runtime_error(std::string("no folder ") + folder);
        auto web = std::make_unique<TWebPlayer>();
        SetCanvasDefaults(web->Canvas);
        web->Canvas.SetRect(0, 0, width, height);
        TWebPlayer& player = *web;
        web->Player->SetOnLoaded([&player](TMaxPlayer& sender) {
            if (!sender.Root())
                return;
            player.TreeText = vendrake::TreeText(*sender.Root());
            SetUpPlanes(*sender.Root(), DisableDepthTest, {});
        });
        web->Player->SetSceneFile(sceneFile);
        web->Player->Init(0);
        if (!web->Player->PaintsAnything())
            throw std::runtime_error(std::string(sceneFile) +
                                     ": nothing to paint: the scene file holds no camera and no mesh");
        Web = std::move(web);
    } catch (const std::exception& e) {
        Message = e.what();
        if (Message.find(sceneFile) == std::string::npos)
            Message = std::string(sceneFile) + ": " + Message;
    }
    return Message.c_str();
}

// Paints the frame the desktop program shows `seconds` into the scene. The
// first frame has one painted 1/60 s before it, as the program always has
// by then; times go forward only.
EMSCRIPTEN_KEEPALIVE void vendrake_paint(double seconds)
{
    if (!Web)
        return;
    constexpr double Previous = 1.0 / 60;
    // The deltas are rounded as the desktop's are: a key at the very time
    // asked for is reached, not missed by a rounding.
    if (!Web->Painted && seconds > Previous)
        PaintFrame(*Web, static_cast<float>((seconds - Previous) * 100.0));
    Web->Painted = true;
    PaintFrame(*Web, static_cast<float>(std::max(0.0, seconds * 100.0 - Web->Clock)));
}

// Where the scene's longest track ends, seconds.
EMSCRIPTEN_KEEPALIVE double vendrake_scene_end() { return Web ? Web->Player->SceneEnd() : 0; }

// The seconds the scene shows now.
EMSCRIPTEN_KEEPALIVE double vendrake_scene_time() { return Web ? Web->Player->SceneTime() / 10 : 0; }

// The loaded scene's tree, as text.
EMSCRIPTEN_KEEPALIVE const char* vendrake_tree_text() { return Web ? Web->TreeText.c_str() : ""; }

}
