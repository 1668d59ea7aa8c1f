#include "engine/scene_player.h"

#include "anim/track.h"
#include "render/mesh.h"
#include "scenefile/loader.h"
#include "scene/control.h"
#include "scene/gl_entry_points.h"
#include "scene/viewport.h"

#include <algorithm>
#include <cmath>

namespace vendrake {

TMaxPlayer::TMaxPlayer() = default;
TMaxPlayer::~TMaxPlayer() = default;

void TMaxPlayer::SetSceneFile(const std::string& FileName)
{
    auto loader = std::make_unique<TgrLoader>();
    loader->RegisterNodeClasses();
    // Its nodes may own GL names: they go in the next Init, which runs with
    // the context current, rather than here, where it need not be.
    if (FLoader)
        FRetiredLoaders.push_back(std::move(FLoader));
    FLoader = std::move(loader);
    FSceneFile = FileName;
}

void TMaxPlayer::DoLoaded()
{
    if (FOnLoaded)
        FOnLoaded(*this);
}

void TMaxPlayer::Init(std::int32_t Param)
{
    TInternalEffect::Init(Param);
    FEffectType = "Painter";
    FRetiredLoaders.clear();
    if (!FSceneFile.empty() && FLoader) {
        FLoader->LoadFromFile(FSceneFile);
        FRoot = FLoader->BuildScene();
        DoLoaded();
        FSceneNames.clear();
        if (FRoot->Is<TgrChooser>())
            for (const TgrTreePtr& child : FRoot->Children())
                if (const TgrTreePtr& first = child->GetChild(0))
                    FSceneNames.push_back(first->Name);
        FTracks = FLoader->Anims();
        FTrackOwners = FLoader->AnimTransforms;
        FEnd = 0;
        for (const TAnim* track : FTracks)
            for (int i = 0; i < track->Keys.Count(); ++i)
                FEnd = std::max(FEnd, double(track->Keys.Get(i)->Time));
    }
    gl.glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
    FSceneTime = 0;
    FEndReached = false;
    FLaps = 0;
    gl.glEnable(GL_CULL_FACE);
}

bool TMaxPlayer::PaintsAnything() const
{
    if (!FLoader || !FLoader->Others)
        return false;
    for (const TgrTreePtr& node : FLoader->Others->Children())
        if (node->Is<TgrViewPort>() || node->Is<TgrPrimitive>())
            return true;
    return false;
}

void TMaxPlayer::Render(float Time, float Delta)
{
    TInternalEffect::Render(Time, Delta);
    gl.glLoadIdentity();
    gl.glEnable(GL_LIGHTING);
    gl.glEnable(GL_LIGHT0);
    FSceneTime = static_cast<double>(FSceneTime + 0.1L * Delta);
    if (FSceneTime >= FEnd && !FEndReached) {
        if (!FLooping) {
            FEndReached = true;
            if (FOnEnd)
                FOnEnd(*this);
        } else if (FEnd > 0) {
            // A frame that took longer than a lap skips the laps it missed.
            const double laps = std::floor(FSceneTime / FEnd);
            FSceneTime -= laps * FEnd;
            FLaps += static_cast<std::int64_t>(laps);
            if (FOnEnd)
                FOnEnd(*this);
        }
    }
    gl.glPushMatrix();
    gl.glTranslatef(-100, 0, -500);
    gl.glDisable(GL_LIGHTING);
    // A strip of one vertex draws nothing; it leaves the current colour white
    // for the scene.
    gl.glBegin(GL_LINE_STRIP);
    gl.glVertex2f(0, 0);
    gl.glColor3f(1, 1, 1);
    for (TAnim* track : FTracks)
        track->Evaluate(FSceneTime);
    gl.glEnd();
    gl.glEnable(GL_LIGHTING);
    gl.glPopMatrix();
    if (FRoot)
        FRoot->Action();
}

} // namespace vendrake
