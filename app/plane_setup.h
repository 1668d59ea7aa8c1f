#pragma once
// The adaptation of a loaded scene for display: seven named "planes" get
// their animated transforms moved under the root's first grandchild, and
// each plane mesh is wrapped in an additive blend node and a callback node
// whose before-hook switches the depth test off.
#include "scene/control.h"
#include "scene/tree.h"

#include <array>
#include <string>

namespace vendrake {

extern const std::array<std::string, 7> PlaneNames; // "Plane06", "Plane05", ... "Plane08"

// Steps 1 to 4 of the after-load routine on the player's root. A missing
// transform is not appended; a missing mesh leaves the tree as it is.
void SetUpPlanes(TgrTree& root, const TgrCallback::THook& before, const TgrCallback::THook& after);

// The planes' before-hook: glDisable(GL_DEPTH_TEST).
void DisableDepthTest();

} // namespace vendrake
