#pragma once
// The main form: one borderless window filled by the drawing surface that
// carries the OpenGL context. It builds the effect list (the scene player
// alone), gives the player its scene file, and adapts the scene once it has
// been loaded: the seven planes are made additive and the music starts.
#include "app/draw.h"
#include "platform/audio.h"
#include "platform/form.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vendrake {

class TApplication;
class TInternalEffectList;
class TMaxPlayer;
class TRenderer;
class TResChange;

class TForm1 : public TForm {
public:
    // The form as its stored description has it: caption "Form1" at (248,
    // 157), 696 by 480, sizeable, with the surface filling its client area
    // and the handlers bound. Start-up moves and sizes it.
    explicit TForm1(TApplication& application);

    // Escape (27) ends the message loop; every other key is ignored.
    void FormKeyDown(TForm& Sender, std::uint16_t& Key, TShiftState Shift);
    // The render thread reads the window's rectangle again at its next
    // frame; nothing happens before there is a renderer and a thread.
    void FormResize(TForm& Sender);
    // The render thread does all the painting.
    void dblBuffDraw1Paint(TCustomControl& Sender);
    // Another window took the keyboard focus: the user gets their display
    // mode back while the presentation plays on. Back in the focus, the
    // presentation's mode returns.
    void FormDeactivate(TForm& Sender);
    void FormActivate(TForm& Sender);

    // Covers the monitor the presentation plays on, black, with the drawing
    // surface kept at its size and centred, and asks the window manager for
    // full screen. Where the monitor has the surface's size (its mode was
    // switched) the surface is all there is to see.
    void CoverMonitor();
    // That monitor's size as last covered.
    int MonitorWidth() const { return FMonitorWidth; }
    int MonitorHeight() const { return FMonitorHeight; }

    // Not owned.
    void SetRenderer(TRenderer* Renderer) { FRenderer = Renderer; }
    TRenderer* Renderer() const { return FRenderer; }
    // The display-mode change the focus handlers take back and apply again;
    // not owned.
    void SetResChange(TResChange* ResChange) { FResChange = ResChange; }
    // The scene LoadScene gives the player and the song SceneLoaded plays
    // (empty: none); SceneFileName and MusicFileName unless set. With
    // MusicRequired, a song that cannot be played ends the start-up.
    void SetSceneFile(const std::string& FileName) { FSceneFile = FileName; }
    void SetMusicFile(const std::string& FileName, bool MusicRequired)
    {
        FMusicFile = FileName;
        FMusicRequired = MusicRequired;
    }
    // A new list holding a new scene player (also kept in MaxPlayer) whose
    // after-load notification is SceneLoaded.
    std::shared_ptr<TInternalEffectList> CreateEffects();
    // Gives the player the scene file and runs the renderer's init pass, in
    // which the player loads it. Load errors propagate.
    void LoadScene();

    // After loading, on the main thread with the context current: the plane
    // set-up on the player's tree, then the music.
    void SceneLoaded(TMaxPlayer& Sender);
    // Around each plane, on the render thread: the depth test goes off
    // before it and stays off after it.
    void BeforePlane();
    void AfterPlane();

    TdblBuffDraw dblBuffDraw1;

private:
    TRenderer* FRenderer = nullptr;
    TResChange* FResChange = nullptr;
    int FMonitorWidth = 0;
    int FMonitorHeight = 0;
    std::string FSceneFile;
    std::string FMusicFile;
    bool FMusicRequired = false;
};

// Read from the working directory.
extern const char* const SceneFileName; // "ZuzezurAdor.y3d"
extern const char* const MusicFileName; // "vendrake.mp3"

// The program's main form; set by the main block.
extern TForm1* Form1;
// The scene player CreateEffects made last.
extern std::shared_ptr<TMaxPlayer> MaxPlayer;
// The soundtrack's stream, once playing.
extern HSTREAM MusicStream;

} // namespace vendrake
