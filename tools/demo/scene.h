#pragma once
// The demo scene: what is in it, how it moves, and the file that holds it.
#include "scenefile/scene_writer.h"
#include "tools/demo/demo_math.h"
#include "tools/demo/flight.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vendrake::demo {

constexpr const char* SceneFileName = "ZuzezurAdor.y3d";

// An image file the scene names, as it is written next to the scene.
struct TDemoFile {
    std::string Name;
    std::vector<std::uint8_t> Bytes;
};

// The scene file, complete.
std::vector<std::uint8_t> SceneBytes();
// The texture image files it loads by name.
std::vector<TDemoFile> TextureFiles();

// Key records of an animated transform, one per KeyStep of scene time from
// 0 to the end of the soundtrack. Position keys (x, y, z) or position and
// rotation keys (x, y, z, then the stored quaternion x, y, z, w).
using TPlacementAt = std::function<TPose(double seconds)>;
TAnimTransformDesc PositionKeys(std::int32_t id, std::int32_t ownerId, const std::function<TVec(double)>& at);
TAnimTransformDesc PoseKeys(std::int32_t id, std::int32_t ownerId, const TPlacementAt& at);

} // namespace vendrake::demo
