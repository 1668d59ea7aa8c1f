#pragma once
// Scenes from other 3D tools as scene files. Open Asset Import Library reads
// the source (glTF 2.0, FBX, COLLADA, OBJ, 3DS, PLY, STL and the rest it
// knows); the importer flattens its node hierarchy into what the scene file
// holds: one mesh per node that carries geometry, placed by a transform of
// its own, with its scale baked into the vertices; animated placements
// sampled on the scene clock; one camera; one painted light.
//
// Everything the scene file cannot hold is reported as one warning each,
// textures that are missing, unreadable or outside the source's folder
// included; an input that cannot be read, or that asks for more than a scene
// file holds, is an EImportError "<file>: <reason>", and then nothing is
// written. The textures never replace a file (see TOutputFiles), and the
// scene file is never the source.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

class EImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TImportOptions {
    std::string Source;
    std::string Out;
    // Scene-clock units (tenths of a second) between animation samples.
    std::int32_t Step = 1;
    // The camera to take; empty: the first one.
    std::string Camera;
    // Called once for each thing the scene file cannot hold.
    std::function<void(const std::string& message)> Warning;
};

constexpr std::int32_t MaxImportStep = 1000;
// Keys a sampled transform may have: over two hours at the default step.
constexpr std::int64_t MaxImportKeys = 100000;
// Placements sampled in all: each moving object's, and each moving node's
// above it, at every sample. Bounds the time and memory the sampling takes.
constexpr std::int64_t MaxImportPlacements = 1 << 22;

// Converts Source into the scene file Out, with the texture images it needs
// next to it. Returns the files written, the scene last.
std::vector<std::string> ImportScene(const TImportOptions& options);

} // namespace vendrake
