#pragma once
// Materials: the OpenGL material state for the faces of a mesh. Meshes apply
// a material by its place in the loader's material tree, around the draw
// calls of the face records that use it.
#include "math/vector.h"
#include "scene/tree.h"

#include <cstdint>

namespace vendrake {

class TgrMaterial : public TgrTree {
    VENDRAKE_NODE_CLASS(TgrMaterial, TgrTree)
public:
    using TgrTree::TgrTree;

    // Node header, then 96 bytes: shading code, two-sided, wireframe, line
    // width, ambient, diffuse, specular and emission colours, shininess
    // (stored x 100), specular level (scales the specular r, g and b) and two
    // words that carry nothing for us.
    bool ReadFromStream(TStream& stream, bool withHeader) override;
    // Pushes the lighting group and sets shade model, material colours (or
    // the diffuse colour as the current colour when lighting is off), polygon
    // mode and line width; then paints the children.
    void Action() override;
    // Deferred restores of the children, then pops the lighting group. Polygon
    // mode, line width and current colour are outside that group and stay.
    void RestoreState() override;

    TVector4 Ambient{0.2f, 0.2f, 0.2f, 0.0f};
    TVector4 Diffuse{0.8f, 0.8f, 0.8f, 0.0f};
    TVector4 Specular{1.0f, 1.0f, 1.0f, 0.0f};
    TVector4 Emission{0.0f, 0.0f, 0.0f, 0.0f};
    float Shininess = 4.0f;
    std::uint32_t Face = 0x0408;        // GL_FRONT_AND_BACK, or GL_FRONT
    std::uint32_t ShadeModel = 0x1D01;  // GL_SMOOTH, or GL_FLAT
    std::uint32_t PolygonMode = 0x1B02; // GL_FILL, or GL_LINE
    float LineWidth = 1.0f;             // used with GL_LINE only
};

} // namespace vendrake
