#pragma once
// Scene files as glTF 2.0, for Blender and glTF viewers: meshes with their
// materials and textures, the camera the player looks through, the painted
// light, fixed transforms as node transforms and animated ones as animation
// channels with a key at each of the scene's keys (linear for positions,
// spherical for rotations, where the player follows a spline through the
// positions). A mesh the player also paints under its parent mesh appears
// there too, as a child node.
//
// OUT.gltf is JSON with OUT.bin and the images beside it; OUT.glb holds
// everything in one file. glTF materials are physically based: the lit
// colour is the base colour, the specular colour and exponent travel in
// KHR_materials_pbrSpecularGlossiness (with a roughness for viewers without
// it), unlit textures in KHR_materials_unlit. glTF has no wireframe: a
// wireframe material's triangles go as lines, unlit at the colour the player
// shows them with on average, marked in the nodes' extras so that the
// importer makes them triangles again. glTF has no additive blending either:
// the program's glow planes go as emissive quads alpha-blended by a texture
// whose alpha is the glow's brightness. The painted light's intensity is in
// glTF's photometric units, chosen so that lit surfaces come out as bright
// as the player paints them.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vendrake {

// The node extras key that marks a mesh's wireframe materials: an object from
// each glTF material's index (as text) to its line width. That mesh's line
// primitives with one of those materials hold each triangle as its three
// edges a-b, b-c, c-a.
inline constexpr const char* GltfWireframeKey = "y3d_wireframe";

// The node extras key beside GltfWireframeKey that keeps how the player paints
// those wireframes, which their unlit glTF colour does not: an object from
// each glTF material's index (as text) to an object of the material's own
// colours, "diffuse_r" ... "diffuse_a", "emission_r" ... "emission_b",
// "specular_r" ... "specular_b", and its "shininess".
inline constexpr const char* GltfWireframeLookKey = "y3d_wireframe_look";

// The node extras key that marks a glow plane's materials: an object from
// each glTF material's index (as text) to 1. Their texture is the glow
// texture the export made (colour divided by its brightest channel, which
// is the alpha); the player adds the texture's colour, alpha times that.
inline constexpr const char* GltfGlowKey = "y3d_glow";

// The node extras key of a node that carries a light: the strength of the
// light's colour as the player paints it (its brightest channel), which
// glTF's photometric intensity does not give back.
inline constexpr const char* GltfLightStrengthKey = "y3d_light_strength";

class EExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TExportOptions {
    std::string Scene;
    std::string Out; // .gltf or .glb
    // Called once for each thing glTF does not receive.
    std::function<void(const std::string& message)> Warning;
};

// Returns the files written, OUT last. Images come only from the scene's
// folder tree and take no other file's name (see TOutputFiles); one that is
// missing or cannot be read is a warning. Errors are EExportError
// "<file>: <reason>", a scene that attaches meshes more often than the
// loader allows or needs a buffer larger than a .glb holds among them; then
// nothing is written.
std::vector<std::string> ExportScene(const TExportOptions& options);

} // namespace vendrake
