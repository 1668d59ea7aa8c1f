// Scene files from arbitrary bytes, down the road the player takes: read the
// chunks, sort them, build the material tree and the scene, adapt the planes,
// evaluate every track and paint one frame through the null GL table.
//
// Load and stream errors are the file being refused, which is fine; any other
// way out (a sanitizer report, a crash, an exception of another kind, a
// frame that does not come back) is a finding.
#include "anim/track.h"
#include "app/plane_setup.h"
#include "scenefile/loader.h"
#include "stream/stream.h"
#include "scene/gl_null.h"
#include "scene/tree.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace vendrake;

namespace {

void PlayOneFrame(std::span<const std::uint8_t> bytes)
{
    TgrLoader loader;
    loader.RegisterNodeClasses();
    TMemoryStream stream(bytes);
    loader.LoadFromStream(stream);
    loader.SortNodes();
    loader.BuildMaterials();
    TgrTreePtr root = loader.BuildScene();
    SetUpPlanes(*root, DisableDepthTest, [] {});
    // Before the first key, between keys and past the last.
    for (double time : {-1.0, 0.0, 2.5, 1e6})
        for (TAnim* track : loader.Anims())
            track->Evaluate(time);
    root->Action();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TNullGL NoGL; // for the whole run: nothing here has a context
    // Texture maps that name an image file open it relative to the working
    // directory; scripts/fuzz runs the fuzzer in an empty one.
    try {
        PlayOneFrame({data, size});
    } catch (const ELoadError&) {
    } catch (const EStreamError&) {
    }
    return 0;
}
