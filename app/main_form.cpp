#include "app/main_form.h"

#include "app/plane_setup.h"
#include "app/res_change.h"
#include "engine/effect_list.h"
#include "engine/renderer.h"
#include "engine/scene_player.h"
#include "platform/application.h"
#include "platform/display_mode.h"
#include "platform/x_window.h"
#include "platform/keys.h"

#include <stdexcept>

namespace vendrake {

const char* const SceneFileName = "ZuzezurAdor.y3d";
const char* const MusicFileName = "vendrake.mp3";

TForm1* Form1 = nullptr;
std::shared_ptr<TMaxPlayer> MaxPlayer;
HSTREAM MusicStream = 0;

TForm1::TForm1(TApplication& application)
    : TForm(application), dblBuffDraw1(*this), FSceneFile(SceneFileName), FMusicFile(MusicFileName)
{
    SetCaption("Form1");
    SetBounds(248, 157, 696, 480);
    OnKeyDown = [this](TForm& sender, std::uint16_t& key, TShiftState shift) {
        FormKeyDown(sender, key, shift);
    };
    OnResize = [this](TForm& sender) { FormResize(sender); };
    OnActivate = [this](TForm& sender) { FormActivate(sender); };
    OnDeactivate = [this](TForm& sender) { FormDeactivate(sender); };
    dblBuffDraw1.SetAlign(TAlign::alClient);
    dblBuffDraw1.SetOnPaint([this](TCustomControl& sender) { dblBuffDraw1Paint(sender); });
}

void TForm1::FormKeyDown(TForm&, std::uint16_t& Key, TShiftState)
{
    if (Key == VK_ESCAPE)
        Application().Terminate();
}

void TForm1::FormResize(TForm&)
{
    if (FRenderer)
        FRenderer->RequestResize();
}

void TForm1::dblBuffDraw1Paint(TCustomControl&) {}

void TForm1::FormDeactivate(TForm&)
{
    if (!FResChange || !FullScreen())
        return;
    FResChange->Restore();
    CoverMonitor();
}

void TForm1::FormActivate(TForm&)
{
    if (!FResChange || !FullScreen())
        return;
    FResChange->Apply();
    CoverMonitor();
}

void TForm1::CoverMonitor()
{
    RECT monitor{Left(), Top(), Left() + Width(), Top() + Height()};
    GetPresentationMonitor(&monitor);
    FMonitorWidth = monitor.right - monitor.left;
    FMonitorHeight = monitor.bottom - monitor.top;
    // The surface keeps the size the form had when it filled it, and sits in
    // the middle.
    if (dblBuffDraw1.Align() == TAlign::alClient)
        dblBuffDraw1.SetBounds(0, 0, ClientWidth(), ClientHeight());
    dblBuffDraw1.SetAlign(TAlign::alCenter);
    SetBounds(monitor.left, monitor.top, FMonitorWidth, FMonitorHeight);
    SetFullScreen(true);
}

std::shared_ptr<TInternalEffectList> TForm1::CreateEffects()
{
    auto effects = std::make_shared<TInternalEffectList>();
    MaxPlayer = std::make_shared<TMaxPlayer>();
    MaxPlayer->SetOnLoaded([this](TMaxPlayer& sender) { SceneLoaded(sender); });
    effects->Add(MaxPlayer);
    return effects;
}

void TForm1::LoadScene()
{
    if (!MaxPlayer)
        throw std::logic_error("TForm1.LoadScene: no scene player; CreateEffects first");
    if (!FRenderer)
        throw std::logic_error("TForm1.LoadScene: no renderer set");
    MaxPlayer->SetSceneFile(FSceneFile);
    FRenderer->InitEffects();
}

void TForm1::SceneLoaded(TMaxPlayer& Sender)
{
    if (const TgrTreePtr& root = Sender.Root())
        SetUpPlanes(*root, TgrCallback::Bind(this, &TForm1::BeforePlane),
                    TgrCallback::Bind(this, &TForm1::AfterPlane));
    if (FMusicFile.empty())
        return;
    // Results are not looked at: without an output device or the file the
    // presentation runs silently. The window only identifies the caller, so
    // a form that has none yet is not given one for it.
    BASS_Init(-1, 44100, 0, HandleAllocated() ? Handle() : nullptr);
    BASS_Start();
    MusicStream = BASS_StreamCreateFile(0, FMusicFile.c_str(), 0, 0, 0);
    // A song the user named ends the start-up when it cannot be decoded:
    // playing on in silence would hide the mistake.
    if (!MusicStream && FMusicRequired && BASS_Start())
        throw std::runtime_error("--music " + FMusicFile + ": not an MP3 that can be played");
    BASS_StreamPlay(MusicStream, -1, 0);
}

void TForm1::BeforePlane()
{
    DisableDepthTest();
}

void TForm1::AfterPlane() {}

} // namespace vendrake
