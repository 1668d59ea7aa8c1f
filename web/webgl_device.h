#pragma once
// The WebGL 2 side of the fixed-function emulation: one shader program that
// does OpenGL 1.x lighting per vertex and the texture environments per
// fragment, and a draw call that takes the whole fixed-function state as
// uniforms. Kept apart from the emulation so that this file alone sees the
// WebGL headers and the emulation alone sees the desktop OpenGL ones. Enum
// values are OpenGL's, which WebGL shares for everything passed here.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace vendrake::web {

constexpr int MaxLights = 8;
// Texture units with a coordinate set of their own; the program paints with
// the first and may set the second.
constexpr int MaxUnits = 2;

struct TLightUniforms {
    float Ambient[4];
    float Diffuse[4];
    float Specular[4];
    float Position[4];      // eye coordinates
    float SpotDirection[4]; // eye coordinates, w unused
    float Spot[4];          // cos(cutoff) or -2 for none, exponent, unused, unused
    float Attenuation[4];   // constant, linear, quadratic, unused
};

struct TUnitUniforms {
    std::uint32_t Texture = 0; // WebGL texture, 0: the unit is off
    std::uint32_t EnvMode = 0;
    bool Rgba = false;
    bool ClampS = false, ClampT = false; // GL_CLAMP: linear filtering reaches the black border
    bool Linear = false;
    float Width = 1, Height = 1;
    float EnvColor[4] = {0, 0, 0, 0};
};

// Everything a draw depends on besides its vertices.
struct TShading {
    float ModelView[16];
    float Projection[16];
    float NormalMatrix[9];
    bool Lighting = false;
    bool LocalViewer = false;
    bool ColorMaterial = false; // ambient and diffuse follow the vertex colour
    bool Flat = false;
    std::int32_t LightCount = 0;  // enabled lights, packed first
    TLightUniforms Lights[MaxLights];
    float SceneAmbient[4];       // light model ambient
    float MaterialAmbient[4], MaterialDiffuse[4], MaterialSpecular[4], MaterialEmission[4];
    float Shininess = 0;
    float PointSize = 1;
    TUnitUniforms Units[MaxUnits];
    // Wide lines: only the pixels inside the corners each vertex carries.
    bool LineCoverage = false;
    // Raster state.
    bool Blend = false;
    std::uint32_t BlendSource = 1, BlendDest = 0;
    bool DepthTest = false;
    bool DepthWrite = true;
    std::uint32_t DepthFunc = 0x0201;
    bool Cull = false;
    std::uint32_t CullMode = 0x0405, FrontFace = 0x0901;
    std::int32_t Viewport[4] = {0, 0, 0, 0};
    float DepthRange[2] = {0, 1};
};

// The vertex attributes, in this order.
enum TAttribute { aPosition, aNormal, aColor, aTexCoord0, aTexCoord1, aOffset, aLine0, aLine1, AttributeCount };

// One attribute of a draw: an array of Size floats a vertex, or a constant.
struct TAttribSource {
    int Size = 0; // 0: Constant for every vertex
    const float* Data = nullptr;
    std::size_t Floats = 0;
    int Stride = 0;          // floats from one vertex to the next; 0: Size
    std::size_t Offset = 0;  // floats before the first vertex
    // Attributes of one draw with the same Data share one upload.
    bool Reuse = false; // the same data as this slot's previous draw
    float Constant[4] = {0, 0, 0, 1};
};

class TWebGL {
public:
    // Makes a WebGL 2 context on the canvas (a CSS selector) without
    // antialiasing, with depth, keeping the drawing buffer. Empty on
    // success, else why not.
    std::string CreateContext(const char* canvas);

    std::uint32_t CreateTexture();
    void DeleteTexture(std::uint32_t texture);
    void TexImage(std::uint32_t texture, int level, int width, int height, bool rgba, const std::uint8_t* pixels,
                  int unpackAlignment);
    void TexParameters(std::uint32_t texture, std::uint32_t minFilter, std::uint32_t magFilter, std::uint32_t wrapS,
                       std::uint32_t wrapT);

    void Clear(std::uint32_t mask, const float color[4], float depth, bool depthWrite);
    // Draws `count` vertices from `first`, or `count` of the indices.
    void Draw(const TShading& shading, const TAttribSource (&attributes)[AttributeCount], std::uint32_t mode,
              std::size_t first, std::size_t count, const std::uint32_t* indices);
    void Finish();
    // A new frame: buffers kept for data that no draw has used for a while
    // are let go.
    void NewFrame();

private:
    // Large arrays are kept on the device between draws and frames, under
    // the address and size of the program's copy, and sent again only when
    // the bytes' hash says they changed: a mesh sends its vertices once,
    // not every frame.
    struct TCachedBuffer {
        std::uint32_t Buffer = 0;
        std::uint64_t Hash = 0;
        std::uint64_t LastFrame = 0;
    };
    std::uint32_t Upload(std::uint32_t target, const void* data, std::size_t bytes, std::uint32_t stream);

    void Build();
    void ApplyRaster(const TShading& shading);
    void ApplyUniforms(const TShading& shading);

    std::uint32_t FProgram = 0;
    std::uint32_t FVertexArray = 0;
    std::uint32_t FBuffers[AttributeCount] = {};
    std::uint32_t FIndexBuffer = 0;
    std::int32_t FUniform[64] = {};
    bool FHaveShading = false;
    TShading FLast{};
    std::uint32_t FBoundTexture[MaxUnits] = {};
    std::uint32_t FSlotBuffer[AttributeCount] = {};
    std::map<std::pair<const void*, std::size_t>, TCachedBuffer> FCache;
    std::uint64_t FFrame = 0;
};

} // namespace vendrake::web
