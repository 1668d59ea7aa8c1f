#pragma once
// TMaxPlayer: the built-in painter effect that plays a scene file. Init loads
// the scene and tells its owner; Render advances the scene clock by a tenth
// of the frame delta, evaluates every animation track and paints the tree.
#include "engine/effect.h"
#include "scene/tree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vendrake {

class TAnim;
class TgrLoader;

class TMaxPlayer : public TInternalEffect {
    VENDRAKE_EFFECT_CLASS(TMaxPlayer, TInternalEffect)
public:
    using TNotifyEvent = std::function<void(TMaxPlayer& Sender)>;

    TMaxPlayer();
    ~TMaxPlayer() override;

    // A fresh loader with the scene file's node classes; loading happens in
    // the next Init. The previous loader goes in that Init, with the context
    // current; the scene it built (tree and tracks) stays and keeps playing
    // until that Init replaces it.
    void SetSceneFile(const std::string& FileName);
    void SetOnLoaded(TNotifyEvent Handler) { FOnLoaded = std::move(Handler); }
    void DoLoaded();

    // Loads the scene (when a file is set), builds the tree, notifies, and
    // sets the fixed lighting state; the clock starts again at 0. A load error
    // propagates and leaves the previous scene in place.
    void Init(std::int32_t Param) override;
    void Render(float Time, float Delta) override;

    const TgrTreePtr& Root() const { return FRoot; }
    // Whether the loaded scene holds a camera or a mesh: a file with neither
    // (an empty one, or one whose chunks are all unknown) paints black.
    bool PaintsAnything() const;
    TgrLoader* Loader() const { return FLoader.get(); }
    double SceneTime() const { return FSceneTime; }
    const std::vector<std::string>& SceneNames() const { return FSceneNames; }

    // Where the scene's longest track ends, seconds; 0 without keys.
    double SceneEnd() const { return FEnd / 10; }
    // Looping, the scene clock goes back by the scene's length whenever it
    // reaches the end, so the scene plays again from its beginning with the
    // frame's share of the next lap kept. A scene of no length plays on.
    void SetLooping(bool on) { FLooping = on; }
    // Called on the render thread when the scene clock reaches the end of
    // the longest track: once (at the first frame for a scene of no length),
    // or at every lap when looping. Set before the render thread starts.
    void SetOnEnd(TNotifyEvent Handler) { FOnEnd = std::move(Handler); }
    // The laps played to their end since the last Init.
    std::int64_t Laps() const { return FLaps; }

private:
    std::unique_ptr<TgrLoader> FLoader;
    std::vector<std::unique_ptr<TgrLoader>> FRetiredLoaders; // freed by the next Init
    std::string FSceneFile;
    std::vector<std::string> FSceneNames;
    std::vector<TAnim*> FTracks;
    // Keeps the nodes that own FTracks alive for as long as the tracks are
    // used, whatever later loads do to the loader's lists.
    TgrTreePtr FTrackOwners;
    double FSceneTime = 0;
    double FEnd = 0; // scene clock units, 10 a second
    bool FLooping = false;
    bool FEndReached = false;
    std::int64_t FLaps = 0;
    TNotifyEvent FOnLoaded;
    TNotifyEvent FOnEnd;
    TgrTreePtr FRoot;
};

} // namespace vendrake
