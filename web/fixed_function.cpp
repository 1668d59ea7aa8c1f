#include "web/fixed_function.h"

#include "scene/gl_entry_points.h"
#include "web/glu.h"
#include "web/primitives.h"
#include "web/webgl_device.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <type_traits>
#include <vector>

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace vendrake::web {

namespace {

using TMatrix = std::array<float, 16>;

constexpr TMatrix Identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
constexpr int StackDepth = 32;

// a * b, column-major, in single precision and in the order the reference
// drivers sum, so that matrices come out bit for bit the same.
TMatrix Multiply(const TMatrix& a, const TMatrix& b)
{
    TMatrix p{};
    for (int i = 0; i < 4; ++i) {
        const float ai0 = a[i], ai1 = a[4 + i], ai2 = a[8 + i], ai3 = a[12 + i];
        for (int j = 0; j < 4; ++j)
            p[j * 4 + i] = ai0 * b[j * 4 + 0] + ai1 * b[j * 4 + 1] + ai2 * b[j * 4 + 2] + ai3 * b[j * 4 + 3];
    }
    return p;
}

std::array<float, 4> Transform(const TMatrix& m, const float v[4])
{
    std::array<float, 4> r{};
    for (int i = 0; i < 4; ++i)
        r[i] = m[i] * v[0] + m[4 + i] * v[1] + m[8 + i] * v[2] + m[12 + i] * v[3];
    return r;
}

// The inverse transpose of the upper 3x3, which carries normals.
void NormalMatrix(const TMatrix& m, float out[9])
{
    const double a = m[0], b = m[4], c = m[8], d = m[1], e = m[5], f = m[9], g = m[2], h = m[6], k = m[10];
    const double det = a * (e * k - f * h) - b * (d * k - f * g) + c * (d * h - e * g);
    if (det == 0) {
        std::fill(out, out + 9, 0.0f);
        return;
    }
    const double s = 1.0 / det;
    // Inverse rows become the transpose's columns.
    const double inv[3][3] = {{(e * k - f * h) * s, (c * h - b * k) * s, (b * f - c * e) * s},
                              {(f * g - d * k) * s, (a * k - c * g) * s, (c * d - a * f) * s},
                              {(d * h - e * g) * s, (b * g - a * h) * s, (a * e - b * d) * s}};
    // Column-major transpose of the inverse: column j is row j of the inverse.
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row)
            out[col * 3 + row] = static_cast<float>(inv[col][row]);
}

struct TLight {
    bool Enabled = false;
    float Ambient[4] = {0, 0, 0, 1};
    float Diffuse[4] = {0, 0, 0, 1};
    float Specular[4] = {0, 0, 0, 1};
    float Position[4] = {0, 0, 1, 0};      // eye coordinates
    float SpotDirection[3] = {0, 0, -1};   // eye coordinates
    float SpotExponent = 0;
    float SpotCutoff = 180;
    float Attenuation[3] = {1, 0, 0};
};

struct TMaterial {
    float Ambient[4] = {0.2f, 0.2f, 0.2f, 1};
    float Diffuse[4] = {0.8f, 0.8f, 0.8f, 1};
    float Specular[4] = {0, 0, 0, 1};
    float Emission[4] = {0, 0, 0, 1};
    float Shininess = 0;
};

struct TUnit {
    bool Texture2D = false;
    bool Texture1D = false;
    bool TextureCube = false;
    GLuint Bound = 0;
    GLenum EnvMode = GL_MODULATE;
    float EnvColor[4] = {0, 0, 0, 0};
};

// The server state that the attribute stack saves, group by group.
struct TServerState {
    // current
    float Color[4] = {1, 1, 1, 1};
    float Normal[3] = {0, 0, 1};
    float TexCoord[MaxUnits][4] = {{0, 0, 0, 1}, {0, 0, 0, 1}};
    // point, line, polygon
    float PointSize = 1;
    float LineWidth = 1;
    bool Cull = false;
    GLenum CullMode = GL_BACK;
    GLenum FrontFace = GL_CCW;
    GLenum PolygonMode[2] = {GL_FILL, GL_FILL}; // front, back
    // lighting
    bool Lighting = false;
    bool ColorMaterial = false;
    GLenum ColorMaterialFace = GL_FRONT_AND_BACK;
    GLenum ColorMaterialMode = GL_AMBIENT_AND_DIFFUSE;
    float SceneAmbient[4] = {0.2f, 0.2f, 0.2f, 1};
    bool LocalViewer = false;
    bool TwoSide = false;
    TLight Lights[MaxLights];
    TMaterial Material[2]; // front, back
    GLenum ShadeModel = GL_SMOOTH;
    // depth
    bool DepthTest = false;
    GLenum DepthFunc = GL_LESS;
    bool DepthMask = true;
    float ClearDepth = 1;
    // viewport
    GLint Viewport[4] = {0, 0, 0, 0};
    float DepthRange[2] = {0, 1};
    // transform
    GLenum MatrixMode = GL_MODELVIEW;
    bool Normalize = false;
    // colour buffer
    bool Blend = false;
    GLenum BlendSource = GL_ONE;
    GLenum BlendDest = GL_ZERO;
    float ClearColor[4] = {0, 0, 0, 0};
    // texture
    TUnit Units[MaxUnits];
    GLuint ActiveUnit = 0;
};

struct TArray {
    bool Enabled = false;
    GLint Size = 4;
    GLenum Type = GL_FLOAT;
    GLsizei Stride = 0;
    const void* Pointer = nullptr;
};

struct TClientState {
    TArray Vertex, Normal, Color;
    TArray TexCoord[MaxUnits];
    GLuint ClientActiveUnit = 0;
};

struct TTextureObject {
    std::uint32_t Handle = 0;
    bool Rgba = false;
    int Width = 0, Height = 0;
    unsigned Levels = 0; // bit n: level n holds an image of the expected size
    GLenum MinFilter = GL_NEAREST_MIPMAP_LINEAR;
    GLenum MagFilter = GL_LINEAR;
    GLenum WrapS = GL_REPEAT, WrapT = GL_REPEAT;

    bool Complete() const
    {
        if (Width <= 0 || Height <= 0 || !(Levels & 1))
            return false;
        if (MinFilter == GL_NEAREST || MinFilter == GL_LINEAR)
            return true;
        int w = Width, h = Height;
        for (int level = 1; w > 1 || h > 1; ++level) {
            w = std::max(1, w / 2);
            h = std::max(1, h / 2);
            if (level > 31 || !(Levels & (1u << level)))
                return false;
        }
        return true;
    }
};

// What one vertex carries through the emulation's own assembly.
struct TVertex {
    float Position[4];
    float Normal[3];
    float Color[4];
    float TexCoord[MaxUnits][4];
    float Offset[2];
    float Line[8]; // a wide line's corners in window coordinates
};
constexpr int VertexFloats = sizeof(TVertex) / sizeof(float);
static_assert(VertexFloats == 29);

float ReadComponent(const void* at, GLenum type, bool normalized)
{
    switch (type) {
    case GL_FLOAT: { float v; std::memcpy(&v, at, 4); return v; }
    case GL_DOUBLE: { double v; std::memcpy(&v, at, 8); return float(v); }
    case GL_INT: { std::int32_t v; std::memcpy(&v, at, 4); return normalized ? float((2.0 * v + 1) / 4294967295.0) : float(v); }
    case GL_UNSIGNED_INT: { std::uint32_t v; std::memcpy(&v, at, 4); return normalized ? float(v / 4294967295.0) : float(v); }
    case GL_SHORT: { std::int16_t v; std::memcpy(&v, at, 2); return normalized ? (2.0f * v + 1) / 65535.0f : float(v); }
    case GL_UNSIGNED_SHORT: { std::uint16_t v; std::memcpy(&v, at, 2); return normalized ? v / 65535.0f : float(v); }
    case GL_BYTE: { auto v = *static_cast<const std::int8_t*>(at); return normalized ? (2.0f * v + 1) / 255.0f : float(v); }
    case GL_UNSIGNED_BYTE: { auto v = *static_cast<const std::uint8_t*>(at); return normalized ? v / 255.0f : float(v); }
    default: return 0;
    }
}

std::size_t TypeSize(GLenum type)
{
    switch (type) {
    case GL_DOUBLE: return 8;
    case GL_FLOAT: case GL_INT: case GL_UNSIGNED_INT: return 4;
    case GL_SHORT: case GL_UNSIGNED_SHORT: return 2;
    default: return 1;
    }
}

class TEmulator {
public:
    TWebGL Device;

    // -- errors and queries ---------------------------------------------------
    void Error(GLenum error)
    {
        if (FError == GL_NO_ERROR)
            FError = error;
    }
    GLenum TakeError()
    {
        const GLenum e = FError;
        FError = GL_NO_ERROR;
        return e;
    }

    bool IsEnabled(GLenum cap) const
    {
        const TServerState& s = S;
        if (cap >= GL_LIGHT0 && cap < GL_LIGHT0 + MaxLights)
            return s.Lights[cap - GL_LIGHT0].Enabled;
        switch (cap) {
        case GL_LIGHTING: return s.Lighting;
        case GL_COLOR_MATERIAL: return s.ColorMaterial;
        case GL_CULL_FACE: return s.Cull;
        case GL_DEPTH_TEST: return s.DepthTest;
        case GL_BLEND: return s.Blend;
        case GL_NORMALIZE: return s.Normalize;
        case GL_TEXTURE_2D: return s.Units[s.ActiveUnit].Texture2D;
        case GL_TEXTURE_1D: return s.Units[s.ActiveUnit].Texture1D;
        case GL_TEXTURE_CUBE_MAP_ARB: return s.Units[s.ActiveUnit].TextureCube;
        case GL_VERTEX_ARRAY: return C.Vertex.Enabled;
        case GL_NORMAL_ARRAY: return C.Normal.Enabled;
        case GL_COLOR_ARRAY: return C.Color.Enabled;
        case GL_TEXTURE_COORD_ARRAY: return C.TexCoord[C.ClientActiveUnit].Enabled;
        default: return false;
        }
    }

    void GetFloats(GLenum name, float* out)
    {
        switch (name) {
        case GL_MODELVIEW_MATRIX: std::memcpy(out, FModelView.back().data(), 64); return;
        case GL_PROJECTION_MATRIX: std::memcpy(out, FProjection.back().data(), 64); return;
        case GL_TEXTURE_MATRIX: std::memcpy(out, Identity.data(), 64); return;
        case GL_CURRENT_COLOR: std::memcpy(out, S.Color, 16); return;
        case GL_CURRENT_NORMAL: std::memcpy(out, S.Normal, 12); return;
        case GL_COLOR_CLEAR_VALUE: std::memcpy(out, S.ClearColor, 16); return;
        case GL_LINE_WIDTH: out[0] = S.LineWidth; return;
        case GL_POINT_SIZE: out[0] = S.PointSize; return;
        case GL_DEPTH_RANGE: out[0] = S.DepthRange[0]; out[1] = S.DepthRange[1]; return;
        case GL_LIGHT_MODEL_AMBIENT: std::memcpy(out, S.SceneAmbient, 16); return;
        default: break;
        }
        GLint value[4] = {};
        int count = GetInts(name, value);
        for (int i = 0; i < count; ++i)
            out[i] = float(value[i]);
    }

    // The number of values written.
    int GetInts(GLenum name, GLint* out)
    {
        switch (name) {
        case GL_MAX_LIGHTS: out[0] = MaxLights; return 1;
        case GL_MAX_TEXTURE_UNITS_ARB: out[0] = MaxUnits; return 1;
        case GL_MAX_TEXTURE_SIZE: out[0] = 4096; return 1;
        case GL_MAX_MODELVIEW_STACK_DEPTH: case GL_MAX_PROJECTION_STACK_DEPTH: out[0] = StackDepth; return 1;
        case GL_MAX_ATTRIB_STACK_DEPTH: case GL_MAX_CLIENT_ATTRIB_STACK_DEPTH: out[0] = 16; return 1;
        case GL_ACTIVE_TEXTURE_ARB: out[0] = GLint(GL_TEXTURE0_ARB + S.ActiveUnit); return 1;
        case GL_CLIENT_ACTIVE_TEXTURE_ARB: out[0] = GLint(GL_TEXTURE0_ARB + C.ClientActiveUnit); return 1;
        case GL_MATRIX_MODE: out[0] = GLint(S.MatrixMode); return 1;
        case GL_SHADE_MODEL: out[0] = GLint(S.ShadeModel); return 1;
        case GL_DEPTH_FUNC: out[0] = GLint(S.DepthFunc); return 1;
        case GL_BLEND_SRC: out[0] = GLint(S.BlendSource); return 1;
        case GL_BLEND_DST: out[0] = GLint(S.BlendDest); return 1;
        case GL_CULL_FACE_MODE: out[0] = GLint(S.CullMode); return 1;
        case GL_FRONT_FACE: out[0] = GLint(S.FrontFace); return 1;
        case GL_POLYGON_MODE: out[0] = GLint(S.PolygonMode[0]); out[1] = GLint(S.PolygonMode[1]); return 2;
        case GL_VIEWPORT: std::copy_n(S.Viewport, 4, out); return 4;
        case GL_TEXTURE_BINDING_2D: out[0] = GLint(S.Units[S.ActiveUnit].Bound); return 1;
        case GL_UNPACK_ALIGNMENT: out[0] = FUnpackAlignment; return 1;
        case GL_PACK_ALIGNMENT: out[0] = FPackAlignment; return 1;
        case GL_MODELVIEW_STACK_DEPTH: out[0] = GLint(FModelView.size()); return 1;
        case GL_PROJECTION_STACK_DEPTH: out[0] = GLint(FProjection.size()); return 1;
        case GL_ATTRIB_STACK_DEPTH: out[0] = GLint(FAttribStack.size()); return 1;
        case GL_CLIENT_ATTRIB_STACK_DEPTH: out[0] = GLint(FClientStack.size()); return 1;
        case GL_RED_BITS: case GL_GREEN_BITS: case GL_BLUE_BITS: out[0] = 8; return 1;
        case GL_DEPTH_BITS: out[0] = 24; return 1;
        case GL_DEPTH_WRITEMASK: out[0] = S.DepthMask; return 1;
        default:
            if (name == GL_LIGHTING || name == GL_DEPTH_TEST || name == GL_BLEND || name == GL_CULL_FACE ||
                name == GL_COLOR_MATERIAL || name == GL_TEXTURE_2D || name == GL_NORMALIZE ||
                (name >= GL_LIGHT0 && name < GL_LIGHT0 + MaxLights)) {
                out[0] = IsEnabled(name);
                return 1;
            }
            out[0] = 0;
            return 1;
        }
    }

    // -- enables ------------------------------------------------------------------
    void SetCap(GLenum cap, bool on)
    {
        TServerState& s = S;
        if (cap >= GL_LIGHT0 && cap < GL_LIGHT0 + MaxLights) {
            s.Lights[cap - GL_LIGHT0].Enabled = on;
            return;
        }
        switch (cap) {
        case GL_LIGHTING: s.Lighting = on; break;
        case GL_COLOR_MATERIAL:
            s.ColorMaterial = on;
            // Switched on, the material takes the current colour at once.
            if (on)
                TrackColor();
            break;
        case GL_CULL_FACE: s.Cull = on; break;
        case GL_DEPTH_TEST: s.DepthTest = on; break;
        case GL_BLEND: s.Blend = on; break;
        case GL_NORMALIZE: s.Normalize = on; break;
        case GL_TEXTURE_2D: s.Units[s.ActiveUnit].Texture2D = on; break;
        case GL_TEXTURE_1D: s.Units[s.ActiveUnit].Texture1D = on; break;
        case GL_TEXTURE_CUBE_MAP_ARB: s.Units[s.ActiveUnit].TextureCube = on; break;
        default: break; // nothing else changes a picture the program paints
        }
    }

    void SetClientCap(GLenum cap, bool on)
    {
        ++FArrayGeneration;
        switch (cap) {
        case GL_VERTEX_ARRAY: C.Vertex.Enabled = on; break;
        case GL_NORMAL_ARRAY: C.Normal.Enabled = on; break;
        case GL_COLOR_ARRAY: C.Color.Enabled = on; break;
        case GL_TEXTURE_COORD_ARRAY: C.TexCoord[C.ClientActiveUnit].Enabled = on; break;
        default: break;
        }
    }

    void SetPointer(TArray& array, GLint size, GLenum type, GLsizei stride, const void* pointer)
    {
        if (stride < 0 || size < 1 || size > 4) {
            Error(GL_INVALID_VALUE);
            return;
        }
        ++FArrayGeneration;
        array.Size = size;
        array.Type = type;
        array.Stride = stride;
        array.Pointer = pointer;
    }
    TArray& ClientTexCoord() { return C.TexCoord[C.ClientActiveUnit]; }

    // -- attribute stacks ---------------------------------------------------------
    void PushAttrib(GLbitfield mask)
    {
        if (FAttribStack.size() >= 16) {
            Error(GL_STACK_OVERFLOW);
            return;
        }
        FAttribStack.push_back({mask, S});
    }

    void PopAttrib()
    {
        if (FAttribStack.empty()) {
            Error(GL_STACK_UNDERFLOW);
            return;
        }
        const auto [mask, o] = FAttribStack.back();
        FAttribStack.pop_back();
        TServerState& s = S;
        if (mask & GL_CURRENT_BIT) {
            std::memcpy(s.Color, o.Color, sizeof s.Color);
            std::memcpy(s.Normal, o.Normal, sizeof s.Normal);
            std::memcpy(s.TexCoord, o.TexCoord, sizeof s.TexCoord);
        }
        if (mask & GL_POINT_BIT)
            s.PointSize = o.PointSize;
        if (mask & GL_LINE_BIT)
            s.LineWidth = o.LineWidth;
        if (mask & GL_POLYGON_BIT) {
            s.Cull = o.Cull;
            s.CullMode = o.CullMode;
            s.FrontFace = o.FrontFace;
            s.PolygonMode[0] = o.PolygonMode[0];
            s.PolygonMode[1] = o.PolygonMode[1];
        }
        if (mask & GL_LIGHTING_BIT) {
            s.Lighting = o.Lighting;
            s.ColorMaterial = o.ColorMaterial;
            s.ColorMaterialFace = o.ColorMaterialFace;
            s.ColorMaterialMode = o.ColorMaterialMode;
            std::memcpy(s.SceneAmbient, o.SceneAmbient, sizeof s.SceneAmbient);
            s.LocalViewer = o.LocalViewer;
            s.TwoSide = o.TwoSide;
            std::copy(std::begin(o.Lights), std::end(o.Lights), std::begin(s.Lights));
            s.Material[0] = o.Material[0];
            s.Material[1] = o.Material[1];
            s.ShadeModel = o.ShadeModel;
        }
        if (mask & GL_DEPTH_BUFFER_BIT) {
            s.DepthTest = o.DepthTest;
            s.DepthFunc = o.DepthFunc;
            s.DepthMask = o.DepthMask;
            s.ClearDepth = o.ClearDepth;
        }
        if (mask & GL_VIEWPORT_BIT) {
            std::copy_n(o.Viewport, 4, s.Viewport);
            std::copy_n(o.DepthRange, 2, s.DepthRange);
        }
        if (mask & GL_TRANSFORM_BIT) {
            s.MatrixMode = o.MatrixMode;
            s.Normalize = o.Normalize;
        }
        if (mask & GL_ENABLE_BIT) {
            s.Lighting = o.Lighting;
            s.ColorMaterial = o.ColorMaterial;
            s.Cull = o.Cull;
            s.DepthTest = o.DepthTest;
            s.Blend = o.Blend;
            s.Normalize = o.Normalize;
            for (int i = 0; i < MaxLights; ++i)
                s.Lights[i].Enabled = o.Lights[i].Enabled;
            for (int u = 0; u < MaxUnits; ++u) {
                s.Units[u].Texture2D = o.Units[u].Texture2D;
                s.Units[u].Texture1D = o.Units[u].Texture1D;
                s.Units[u].TextureCube = o.Units[u].TextureCube;
            }
        }
        if (mask & GL_COLOR_BUFFER_BIT) {
            s.Blend = o.Blend;
            s.BlendSource = o.BlendSource;
            s.BlendDest = o.BlendDest;
            std::memcpy(s.ClearColor, o.ClearColor, sizeof s.ClearColor);
        }
        if (mask & GL_TEXTURE_BIT) {
            std::copy(std::begin(o.Units), std::end(o.Units), std::begin(s.Units));
            s.ActiveUnit = o.ActiveUnit;
        }
    }

    void PushClientAttrib(GLbitfield mask)
    {
        if (FClientStack.size() >= 16) {
            Error(GL_STACK_OVERFLOW);
            return;
        }
        FClientStack.push_back({mask, C, FUnpackAlignment, FPackAlignment});
    }

    void PopClientAttrib()
    {
        if (FClientStack.empty()) {
            Error(GL_STACK_UNDERFLOW);
            return;
        }
        const TClientSaved saved = FClientStack.back();
        FClientStack.pop_back();
        if (saved.Mask & GL_CLIENT_VERTEX_ARRAY_BIT) {
            C = saved.Client;
            ++FArrayGeneration;
        }
        if (saved.Mask & GL_CLIENT_PIXEL_STORE_BIT) {
            FUnpackAlignment = saved.Unpack;
            FPackAlignment = saved.Pack;
        }
    }

    // -- matrices -----------------------------------------------------------------
    std::vector<TMatrix>& Stack()
    {
        return S.MatrixMode == GL_PROJECTION ? FProjection : S.MatrixMode == GL_TEXTURE ? FTexture : FModelView;
    }
    TMatrix& Top() { return Stack().back(); }
    void MultMatrix(const TMatrix& m) { Top() = Multiply(Top(), m); }
    void PushMatrix()
    {
        auto& stack = Stack();
        if (stack.size() >= StackDepth)
            return Error(GL_STACK_OVERFLOW);
        stack.push_back(stack.back());
    }
    void PopMatrix()
    {
        auto& stack = Stack();
        if (stack.size() <= 1)
            return Error(GL_STACK_UNDERFLOW);
        stack.pop_back();
    }
    void Translate(float x, float y, float z)
    {
        float* m = Top().data();
        m[12] = m[0] * x + m[4] * y + m[8] * z + m[12];
        m[13] = m[1] * x + m[5] * y + m[9] * z + m[13];
        m[14] = m[2] * x + m[6] * y + m[10] * z + m[14];
        m[15] = m[3] * x + m[7] * y + m[11] * z + m[15];
    }
    void Scale(float x, float y, float z)
    {
        float* m = Top().data();
        for (int i = 0; i < 4; ++i) {
            m[i] *= x;
            m[4 + i] *= y;
            m[8 + i] *= z;
        }
    }
    void Rotate(float angle, float x, float y, float z)
    {
        const double length = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
        if (length == 0)
            return;
        const double a = angle * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        const double u = x / length, v = y / length, w = z / length;
        TMatrix r = Identity;
        r[0] = float(u * u * (1 - c) + c);
        r[1] = float(v * u * (1 - c) + w * s);
        r[2] = float(u * w * (1 - c) - v * s);
        r[4] = float(u * v * (1 - c) - w * s);
        r[5] = float(v * v * (1 - c) + c);
        r[6] = float(v * w * (1 - c) + u * s);
        r[8] = float(u * w * (1 - c) + v * s);
        r[9] = float(v * w * (1 - c) - u * s);
        r[10] = float(w * w * (1 - c) + c);
        MultMatrix(r);
    }
    void Ortho(double l, double r, double b, double t, double n, double f)
    {
        if (l == r || b == t || n == f)
            return Error(GL_INVALID_VALUE);
        TMatrix m = Identity;
        m[0] = float(2 / (r - l));
        m[5] = float(2 / (t - b));
        m[10] = float(-2 / (f - n));
        m[12] = float(-(r + l) / (r - l));
        m[13] = float(-(t + b) / (t - b));
        m[14] = float(-(f + n) / (f - n));
        MultMatrix(m);
    }
    void Frustum(double l, double r, double b, double t, double n, double f)
    {
        if (n <= 0 || f <= 0 || l == r || b == t || n == f)
            return Error(GL_INVALID_VALUE);
        TMatrix m{};
        m[0] = float(2 * n / (r - l));
        m[5] = float(2 * n / (t - b));
        m[8] = float((r + l) / (r - l));
        m[9] = float((t + b) / (t - b));
        m[10] = float(-(f + n) / (f - n));
        m[11] = -1;
        m[14] = float(-2 * f * n / (f - n));
        MultMatrix(m);
    }

    // -- lighting -----------------------------------------------------------------
    void Light(GLenum light, GLenum name, const float* v)
    {
        if (light < GL_LIGHT0 || light >= GL_LIGHT0 + MaxLights)
            return Error(GL_INVALID_ENUM);
        TLight& l = S.Lights[light - GL_LIGHT0];
        switch (name) {
        case GL_AMBIENT: std::copy_n(v, 4, l.Ambient); break;
        case GL_DIFFUSE: std::copy_n(v, 4, l.Diffuse); break;
        case GL_SPECULAR: std::copy_n(v, 4, l.Specular); break;
        case GL_POSITION: {
            // Taken into eye coordinates with the modelview of the moment.
            const auto p = Transform(FModelView.back(), v);
            std::copy_n(p.data(), 4, l.Position);
            break;
        }
        case GL_SPOT_DIRECTION: {
            const TMatrix& m = FModelView.back();
            for (int i = 0; i < 3; ++i)
                l.SpotDirection[i] = m[i] * v[0] + m[4 + i] * v[1] + m[8 + i] * v[2];
            break;
        }
        case GL_SPOT_EXPONENT:
            if (v[0] < 0 || v[0] > 128)
                return Error(GL_INVALID_VALUE);
            l.SpotExponent = v[0];
            break;
        case GL_SPOT_CUTOFF:
            if ((v[0] < 0 || v[0] > 90) && v[0] != 180)
                return Error(GL_INVALID_VALUE);
            l.SpotCutoff = v[0];
            break;
        case GL_CONSTANT_ATTENUATION:
        case GL_LINEAR_ATTENUATION:
        case GL_QUADRATIC_ATTENUATION:
            if (v[0] < 0)
                return Error(GL_INVALID_VALUE);
            l.Attenuation[name - GL_CONSTANT_ATTENUATION] = v[0];
            break;
        default: Error(GL_INVALID_ENUM); break;
        }
    }

    void LightModel(GLenum name, const float* v)
    {
        switch (name) {
        case GL_LIGHT_MODEL_AMBIENT: std::copy_n(v, 4, S.SceneAmbient); break;
        case GL_LIGHT_MODEL_LOCAL_VIEWER: S.LocalViewer = v[0] != 0; break;
        case GL_LIGHT_MODEL_TWO_SIDE: S.TwoSide = v[0] != 0; break;
        default: break;
        }
    }

    // Properties that follow the current colour while colour material is on.
    bool Tracked(GLenum name) const
    {
        if (!S.ColorMaterial)
            return false;
        const GLenum m = S.ColorMaterialMode;
        return m == name || (m == GL_AMBIENT_AND_DIFFUSE && (name == GL_AMBIENT || name == GL_DIFFUSE));
    }

    void Material(GLenum face, GLenum name, const float* v)
    {
        if (face != GL_FRONT && face != GL_BACK && face != GL_FRONT_AND_BACK)
            return Error(GL_INVALID_ENUM);
        if (name == GL_SHININESS && (v[0] < 0 || v[0] > 128))
            return Error(GL_INVALID_VALUE);
        for (int side = 0; side < 2; ++side) {
            if ((side == 0 && face == GL_BACK) || (side == 1 && face == GL_FRONT))
                continue;
            TMaterial& m = S.Material[side];
            // Properties the colour feeds ignore glMaterial meanwhile.
            const auto set = [&](GLenum property, float* to) {
                if (!Tracked(property))
                    std::copy_n(v, 4, to);
            };
            switch (name) {
            case GL_AMBIENT: set(GL_AMBIENT, m.Ambient); break;
            case GL_DIFFUSE: set(GL_DIFFUSE, m.Diffuse); break;
            case GL_SPECULAR: set(GL_SPECULAR, m.Specular); break;
            case GL_EMISSION: set(GL_EMISSION, m.Emission); break;
            case GL_AMBIENT_AND_DIFFUSE: set(GL_AMBIENT, m.Ambient); set(GL_DIFFUSE, m.Diffuse); break;
            case GL_SHININESS: m.Shininess = v[0]; break;
            default: Error(GL_INVALID_ENUM); return;
            }
        }
    }

    // With colour material on, the current colour becomes the material.
    void TrackColor()
    {
        if (!S.ColorMaterial)
            return;
        for (int side = 0; side < 2; ++side) {
            const GLenum face = S.ColorMaterialFace;
            if ((side == 0 && face == GL_BACK) || (side == 1 && face == GL_FRONT))
                continue;
            TMaterial& m = S.Material[side];
            switch (S.ColorMaterialMode) {
            case GL_AMBIENT: std::copy_n(S.Color, 4, m.Ambient); break;
            case GL_DIFFUSE: std::copy_n(S.Color, 4, m.Diffuse); break;
            case GL_SPECULAR: std::copy_n(S.Color, 4, m.Specular); break;
            case GL_EMISSION: std::copy_n(S.Color, 4, m.Emission); break;
            default:
                std::copy_n(S.Color, 4, m.Ambient);
                std::copy_n(S.Color, 4, m.Diffuse);
                break;
            }
        }
    }

    void SetColor(float r, float g, float b, float a)
    {
        S.Color[0] = r;
        S.Color[1] = g;
        S.Color[2] = b;
        S.Color[3] = a;
        TrackColor();
    }

    // -- textures -----------------------------------------------------------------
    TTextureObject* Bound()
    {
        const GLuint name = S.Units[S.ActiveUnit].Bound;
        if (name == 0)
            return &FDefaultTexture;
        auto it = FTextures.find(name);
        return it == FTextures.end() ? nullptr : &it->second;
    }

    void GenTextures(GLsizei n, GLuint* names)
    {
        for (GLsizei i = 0; i < n; ++i) {
            while (FTextures.count(FNextTexture))
                ++FNextTexture;
            names[i] = FNextTexture;
            FTextures[FNextTexture];
            ++FNextTexture;
        }
    }

    void BindTexture(GLenum target, GLuint name)
    {
        if (target != GL_TEXTURE_2D)
            return;
        if (name != 0 && !FTextures.count(name))
            FTextures[name];
        S.Units[S.ActiveUnit].Bound = name;
    }

    void DeleteTextures(GLsizei n, const GLuint* names)
    {
        for (GLsizei i = 0; i < n; ++i) {
            auto it = FTextures.find(names[i]);
            if (names[i] == 0 || it == FTextures.end())
                continue;
            if (it->second.Handle)
                Device.DeleteTexture(it->second.Handle);
            FTextures.erase(it);
            for (TUnit& unit : S.Units)
                if (unit.Bound == names[i])
                    unit.Bound = 0;
        }
    }

    void TexParameter(GLenum target, GLenum name, GLint value)
    {
        TTextureObject* t = Bound();
        if (target != GL_TEXTURE_2D || !t)
            return;
        switch (name) {
        case GL_TEXTURE_MIN_FILTER: t->MinFilter = GLenum(value); break;
        case GL_TEXTURE_MAG_FILTER: t->MagFilter = GLenum(value); break;
        case GL_TEXTURE_WRAP_S: t->WrapS = GLenum(value); break;
        case GL_TEXTURE_WRAP_T: t->WrapT = GLenum(value); break;
        default: return;
        }
        if (t->Handle)
            ApplyParameters(*t);
    }

    void ApplyParameters(const TTextureObject& t)
    {
        const auto wrap = [](GLenum w) -> std::uint32_t { return w == GL_REPEAT || w == GL_MIRRORED_REPEAT ? w : GL_CLAMP_TO_EDGE; };
        Device.TexParameters(t.Handle, t.MinFilter, t.MagFilter, wrap(t.WrapS), wrap(t.WrapT));
    }

    void TexImage(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const void* pixels)
    {
        if (target == GL_PROXY_TEXTURE_2D)
            return;
        TTextureObject* t = Bound();
        if (target != GL_TEXTURE_2D || !t)
            return Error(GL_INVALID_ENUM);
        if (level < 0 || level > 31 || width < 0 || height < 0 || border != 0 || width > 4096 || height > 4096)
            return Error(GL_INVALID_VALUE);
        if (type != GL_UNSIGNED_BYTE || (format != GL_RGB && format != GL_RGBA))
            return Error(GL_INVALID_ENUM);
        const bool rgba = internalFormat == GL_RGBA || internalFormat == 4 || internalFormat == GL_RGBA8;
        if (!t->Handle) {
            t->Handle = Device.CreateTexture();
            ApplyParameters(*t);
        }
        std::vector<std::uint8_t> converted;
        const std::uint8_t* data = static_cast<const std::uint8_t*>(pixels);
        int alignment = FUnpackAlignment;
        // The internal format decides the texture's channels, the format the data's.
        if (data && rgba != (format == GL_RGBA)) {
            const int from = format == GL_RGBA ? 4 : 3, to = rgba ? 4 : 3;
            const std::size_t rowBytes = (std::size_t(width) * from + alignment - 1) / alignment * alignment;
            converted.resize(std::size_t(width) * height * to);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    for (int c = 0; c < to; ++c)
                        converted[(std::size_t(y) * width + x) * to + c] =
                            c < from ? data[y * rowBytes + std::size_t(x) * from + c] : 255;
            data = converted.data();
            alignment = 1;
        }
        if (level == 0) {
            t->Rgba = rgba;
            t->Width = width;
            t->Height = height;
            t->Levels = 0;
        }
        Device.TexImage(t->Handle, level, width, height, rgba, data, alignment);
        if (rgba == t->Rgba && width == std::max(1, t->Width >> level) && height == std::max(1, t->Height >> level))
            t->Levels |= 1u << level;
    }

    void TexEnv(GLenum name, const float* v, bool integer)
    {
        TUnit& unit = S.Units[S.ActiveUnit];
        if (name == GL_TEXTURE_ENV_MODE)
            unit.EnvMode = GLenum(integer ? std::lround(v[0]) : v[0]);
        else if (name == GL_TEXTURE_ENV_COLOR)
            for (int i = 0; i < 4; ++i)
                unit.EnvColor[i] = std::clamp(v[i], 0.0f, 1.0f);
    }

    void ActiveTexture(GLenum unit)
    {
        if (unit < GL_TEXTURE0_ARB || unit >= GL_TEXTURE0_ARB + MaxUnits)
            return Error(GL_INVALID_ENUM);
        S.ActiveUnit = unit - GL_TEXTURE0_ARB;
    }

    void ClientActiveTexture(GLenum unit)
    {
        if (unit < GL_TEXTURE0_ARB || unit >= GL_TEXTURE0_ARB + MaxUnits)
            return Error(GL_INVALID_ENUM);
        C.ClientActiveUnit = unit - GL_TEXTURE0_ARB;
    }

    void SetTexCoord(GLuint unit, float s, float t, float r, float q)
    {
        if (unit >= MaxUnits)
            return;
        float* c = S.TexCoord[unit];
        c[0] = s;
        c[1] = t;
        c[2] = r;
        c[3] = q;
    }

    // -- immediate mode -----------------------------------------------------------
    void Begin(GLenum mode)
    {
        if (FInBegin)
            return Error(GL_INVALID_OPERATION);
        FInBegin = true;
        FBeginMode = mode;
        FImmediate.clear();
    }

    void Vertex(float x, float y, float z, float w)
    {
        if (!FInBegin)
            return;
        TVertex v{};
        v.Position[0] = x;
        v.Position[1] = y;
        v.Position[2] = z;
        v.Position[3] = w;
        std::copy_n(S.Normal, 3, v.Normal);
        std::copy_n(S.Color, 4, v.Color);
        std::memcpy(v.TexCoord, S.TexCoord, sizeof v.TexCoord);
        FImmediate.push_back(v);
    }

    void End()
    {
        if (!FInBegin)
            return Error(GL_INVALID_OPERATION);
        FInBegin = false;
        FIndices.resize(FImmediate.size());
        for (std::size_t i = 0; i < FIndices.size(); ++i)
            FIndices[i] = std::uint32_t(i);
        DrawAssembled(FBeginMode, FImmediate, FIndices);
    }

    // -- client arrays ------------------------------------------------------------
    void DrawArrays(GLenum mode, GLint first, GLsizei count)
    {
        if (first < 0 || count < 0)
            return Error(GL_INVALID_VALUE);
        if (count == 0 || !C.Vertex.Enabled)
            return;
        FIndices.resize(std::size_t(count));
        for (GLsizei i = 0; i < count; ++i)
            FIndices[std::size_t(i)] = std::uint32_t(first + i);
        DrawArrayIndices(mode, std::uint32_t(first + count - 1), FIndices.data(), FIndices.size());
    }

    void DrawElements(GLenum mode, GLsizei count, GLenum type, const void* indices)
    {
        if (count < 0)
            return Error(GL_INVALID_VALUE);
        if (count == 0 || !C.Vertex.Enabled || !indices)
            return;
        if (type != GL_UNSIGNED_INT && type != GL_UNSIGNED_SHORT && type != GL_UNSIGNED_BYTE)
            return Error(GL_INVALID_ENUM);
        const auto* bytes = static_cast<const std::uint8_t*>(indices);
        std::uint32_t highest = 0;
        if (type == GL_UNSIGNED_INT && !NeedsAssembly(mode)) {
            // The program's own 32-bit indices go to the device as they are.
            const auto* wide = static_cast<const std::uint32_t*>(indices);
            if (reinterpret_cast<std::uintptr_t>(indices) % 4 == 0) {
                for (GLsizei i = 0; i < count; ++i)
                    highest = std::max(highest, wide[i]);
                DrawArrayIndices(mode, highest, wide, std::size_t(count));
                return;
            }
        }
        FIndices.resize(std::size_t(count));
        for (GLsizei i = 0; i < count; ++i) {
            std::uint32_t index;
            if (type == GL_UNSIGNED_INT) {
                std::memcpy(&index, bytes + 4 * i, 4);
            } else if (type == GL_UNSIGNED_SHORT) {
                std::uint16_t s;
                std::memcpy(&s, bytes + 2 * i, 2);
                index = s;
            } else {
                index = bytes[i];
            }
            FIndices[std::size_t(i)] = index;
            highest = std::max(highest, index);
        }
        DrawArrayIndices(mode, highest, FIndices.data(), FIndices.size());
    }

    // The painting calls, one draw each.
    void Clear(GLbitfield mask)
    {
        if (FInBegin)
            return Error(GL_INVALID_OPERATION);
        if (mask & GL_COLOR_BUFFER_BIT)
            Device.NewFrame();
        Device.Clear(mask, S.ClearColor, S.ClearDepth, S.DepthMask);
        FArraysOnDevice = false;
    }

    TServerState S;
    TClientState C;
    GLint FUnpackAlignment = 4;
    GLint FPackAlignment = 4;

private:
    struct TClientSaved {
        GLbitfield Mask;
        TClientState Client;
        GLint Unpack, Pack;
    };

    static float RoundedWidth(float width) { return std::max(1.0f, std::floor(width + 0.5f)); }

    bool NeedsAssembly(GLenum mode) const
    {
        if (IsTriangleMode(mode))
            return S.PolygonMode[0] != GL_FILL || S.PolygonMode[1] != GL_FILL || mode == GL_QUADS ||
                   mode == GL_QUAD_STRIP || mode == GL_POLYGON;
        if (IsLineMode(mode))
            return RoundedWidth(S.LineWidth) > 1;
        return false;
    }

    void FetchVertex(std::uint32_t index, TVertex& v) const
    {
        const auto read = [index](const TArray& a, float* out, int count, bool normalized) {
            const std::size_t size = TypeSize(a.Type);
            const std::size_t stride = a.Stride ? std::size_t(a.Stride) : size * std::size_t(a.Size);
            const auto* at = static_cast<const std::uint8_t*>(a.Pointer) + stride * index;
            for (int c = 0; c < std::min<int>(count, a.Size); ++c)
                out[c] = ReadComponent(at + size * std::size_t(c), a.Type, normalized);
        };
        v = {};
        v.Position[3] = 1;
        read(C.Vertex, v.Position, 4, false);
        if (C.Normal.Enabled)
            read(C.Normal, v.Normal, 3, true);
        else
            std::copy_n(S.Normal, 3, v.Normal);
        if (C.Color.Enabled) {
            v.Color[3] = 1;
            read(C.Color, v.Color, 4, true);
        } else {
            std::copy_n(S.Color, 4, v.Color);
        }
        for (int u = 0; u < MaxUnits; ++u) {
            if (C.TexCoord[u].Enabled) {
                v.TexCoord[u][3] = 1;
                read(C.TexCoord[u], v.TexCoord[u], 4, false);
            } else {
                std::copy_n(S.TexCoord[u], 4, v.TexCoord[u]);
            }
        }
    }

    void DrawArrayIndices(GLenum mode, std::uint32_t highest, const std::uint32_t* indices, std::size_t count)
    {
        if (!C.Vertex.Pointer)
            return;
        if (NeedsAssembly(mode)) {
            FAssembled.resize(count);
            for (std::size_t i = 0; i < count; ++i)
                FetchVertex(indices[i], FAssembled[i]);
            FIndices.resize(count);
            for (std::size_t i = 0; i < count; ++i)
                FIndices[i] = std::uint32_t(i);
            DrawAssembled(mode, FAssembled, FIndices);
            return;
        }
        TShading shading;
        BuildShading(shading);
        TAttribSource attributes[AttributeCount];
        const bool reuse = FArraysOnDevice && FArraysGeneration == FArrayGeneration && highest <= FArraysHighest;
        ArraySources(highest, attributes);
        for (TAttribSource& a : attributes)
            a.Reuse = reuse && a.Size != 0;
        Device.Draw(shading, attributes, mode, 0, count, indices);
        if (!reuse) {
            FArraysOnDevice = true;
            FArraysGeneration = FArrayGeneration;
            FArraysHighest = highest;
        }
    }

    // The enabled arrays as the device reads them: float arrays straight from
    // the program's memory (one upload when they interleave in one block),
    // others converted.
    void ArraySources(std::uint32_t highest, TAttribSource (&out)[AttributeCount])
    {
        const TArray* arrays[AttributeCount] = {&C.Vertex, &C.Normal, &C.Color, &C.TexCoord[0], &C.TexCoord[1], nullptr, nullptr, nullptr};
        const float* constants[AttributeCount] = {nullptr, S.Normal, S.Color, S.TexCoord[0], S.TexCoord[1], nullptr, nullptr, nullptr};
        const std::uint8_t* low = nullptr;
        const std::uint8_t* high = nullptr;
        for (int i = 0; i < AttributeCount; ++i) {
            TAttribSource& a = out[i];
            if (constants[i])
                std::copy_n(constants[i], i == aNormal ? 3 : 4, a.Constant);
            if (i == aNormal)
                a.Constant[3] = 1;
            if (i == aOffset)
                a.Constant[0] = a.Constant[1] = 0;
            const TArray* array = arrays[i];
            if (!array || !array->Enabled || !array->Pointer)
                continue;
            const std::size_t size = TypeSize(array->Type);
            const std::size_t stride = array->Stride ? std::size_t(array->Stride) : size * std::size_t(array->Size);
            const auto* begin = static_cast<const std::uint8_t*>(array->Pointer);
            const auto* end = begin + stride * highest + size * std::size_t(array->Size);
            if (array->Type == GL_FLOAT && stride % 4 == 0 && reinterpret_cast<std::uintptr_t>(begin) % 4 == 0) {
                low = low ? std::min(low, begin) : begin;
                high = high ? std::max(high, end) : end;
                a.Size = array->Size;
                a.Stride = int(stride / 4);
                a.Data = reinterpret_cast<const float*>(begin); // rebased below
            } else {
                std::vector<float>& converted = FConverted[i];
                const int n = array->Size;
                converted.resize(std::size_t(highest + 1) * std::size_t(n));
                for (std::uint32_t v = 0; v <= highest; ++v)
                    for (int c = 0; c < n; ++c)
                        converted[std::size_t(v) * n + c] =
                            ReadComponent(begin + stride * v + size * std::size_t(c), array->Type, i == aColor || i == aNormal);
                a.Size = n;
                a.Data = converted.data();
                a.Floats = converted.size();
            }
        }
        // Float arrays interleaved in one block go up once, each at its offset.
        for (int i = 0; i < AttributeCount; ++i) {
            TAttribSource& a = out[i];
            if (a.Size == 0 || a.Floats != 0)
                continue;
            const auto* begin = reinterpret_cast<const std::uint8_t*>(a.Data);
            a.Offset = std::size_t(begin - low) / 4;
            a.Data = reinterpret_cast<const float*>(low);
            a.Floats = std::size_t(high - low + 3) / 4;
        }
    }

    void DrawAssembled(GLenum mode, std::vector<TVertex>& vertices, std::vector<std::uint32_t>& indices)
    {
        if (indices.empty())
            return;
        FArraysOnDevice = false;
        TShading shading;
        BuildShading(shading);
        if (IsTriangleMode(mode)) {
            FTriangles.clear();
            Triangulate(mode, indices, FTriangles);
            if (S.PolygonMode[0] == GL_FILL && S.PolygonMode[1] == GL_FILL)
                return DrawVertices(shading, GL_TRIANGLES, vertices, FTriangles);
            DrawPolygonModes(shading, vertices, FTriangles);
            return;
        }
        if (IsLineMode(mode)) {
            FSegments.clear();
            Segments(mode, indices, FSegments);
            DrawLines(shading, vertices, FSegments);
            return;
        }
        DrawVertices(shading, mode, vertices, indices);
    }

    void DrawVertices(const TShading& shading, GLenum mode, const std::vector<TVertex>& vertices,
                      const std::vector<std::uint32_t>& indices)
    {
        TAttribSource attributes[AttributeCount];
        const float* base = vertices.empty() ? nullptr : vertices[0].Position;
        const std::size_t offsets[AttributeCount] = {offsetof(TVertex, Position), offsetof(TVertex, Normal),
                                                     offsetof(TVertex, Color), offsetof(TVertex, TexCoord),
                                                     offsetof(TVertex, TexCoord) + 16, offsetof(TVertex, Offset),
                                                     offsetof(TVertex, Line), offsetof(TVertex, Line) + 16};
        const int sizes[AttributeCount] = {4, 3, 4, 4, 4, 2, 4, 4};
        for (int i = 0; i < AttributeCount; ++i) {
            attributes[i].Size = sizes[i];
            attributes[i].Data = base;
            attributes[i].Floats = vertices.size() * VertexFloats;
            attributes[i].Stride = VertexFloats;
            attributes[i].Offset = offsets[i] / sizeof(float);
        }
        Device.Draw(shading, attributes, mode, 0, indices.size(), indices.data());
    }

    // Back faces go first, then each polygon is filled, outlined or dotted
    // as the mode of its side says.
    void DrawPolygonModes(TShading shading, std::vector<TVertex>& vertices, const std::vector<std::uint32_t>& triangles)
    {
        const TMatrix mvp = Multiply(FProjection.back(), FModelView.back());
        std::vector<std::uint32_t> fill, lines, points;
        for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
            std::array<float, 4> c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = Transform(mvp, vertices[triangles[t + k]].Position);
            // The sign of the window-space area, homogeneous so that vertices
            // behind the eye count as the rasteriser counts them.
            const double det = double(c[0][0]) * (double(c[1][1]) * c[2][3] - double(c[2][1]) * c[1][3]) -
                               double(c[1][0]) * (double(c[0][1]) * c[2][3] - double(c[2][1]) * c[0][3]) +
                               double(c[2][0]) * (double(c[0][1]) * c[1][3] - double(c[1][1]) * c[0][3]);
            const double w = double(c[0][3]) * c[1][3] * c[2][3];
            const bool ccw = (w < 0 ? -det : det) > 0;
            const bool front = (S.FrontFace == GL_CCW) == ccw;
            if (S.Cull && (S.CullMode == GL_FRONT_AND_BACK || (S.CullMode == GL_BACK) != front))
                continue;
            const GLenum polygonMode = S.PolygonMode[front ? 0 : 1];
            const std::uint32_t a = triangles[t], b = triangles[t + 1], d = triangles[t + 2];
            if (polygonMode == GL_FILL)
                fill.insert(fill.end(), {a, b, d});
            else if (polygonMode == GL_LINE)
                lines.insert(lines.end(), {a, b, b, d, d, a});
            else
                points.insert(points.end(), {a, b, d});
        }
        shading.Cull = false;
        if (!fill.empty())
            DrawVertices(shading, GL_TRIANGLES, vertices, fill);
        if (!lines.empty())
            DrawLines(shading, vertices, lines);
        if (!points.empty())
            DrawVertices(shading, GL_POINTS, vertices, points);
    }

    // Lines of the width the rasteriser rounds to: one pixel as WebGL draws
    // them, wider ones as quads stretched across the minor axis.
    void DrawLines(TShading shading, const std::vector<TVertex>& vertices, const std::vector<std::uint32_t>& segments)
    {
        const float width = RoundedWidth(S.LineWidth);
        if (width <= 1) {
            DrawVertices(shading, GL_LINES, vertices, segments);
            return;
        }
        const TMatrix mvp = Multiply(FProjection.back(), FModelView.back());
        FWide.clear();
        FWideIndices.clear();
        std::vector<std::uint32_t> thin;
        const float half = width / 2;
        const float w = float(S.Viewport[2]), h = float(S.Viewport[3]);
        const auto snap = [](float v) { return std::nearbyint(v * 256.0f) / 256.0f; };
        for (std::size_t s = 0; s + 1 < segments.size(); s += 2) {
            const TVertex& a = vertices[segments[s]];
            const TVertex& b = vertices[segments[s + 1]];
            const auto ca = Transform(mvp, a.Position), cb = Transform(mvp, b.Position);
            if (ca[3] <= 0 || cb[3] <= 0) {
                thin.insert(thin.end(), {segments[s], segments[s + 1]});
                continue;
            }
            // Window coordinates, y up as the fragment's position counts.
            const float ax = (ca[0] / ca[3] + 1) * 0.5f * w + float(S.Viewport[0]);
            const float ay = (ca[1] / ca[3] + 1) * 0.5f * h + float(S.Viewport[1]);
            const float bx = (cb[0] / cb[3] + 1) * 0.5f * w + float(S.Viewport[0]);
            const float by = (cb[1] / cb[3] + 1) * 0.5f * h + float(S.Viewport[1]);
            // The rule for the ends is spelt with y down.
            const TLineEnds ends = DiamondExitEnds(ax, h - ay, bx, h - by);
            const bool xMajor = ends.XMajor;
            const float sax = snap(ax + ends.Shift[0][0]), say = snap(ay - ends.Shift[0][1]);
            const float sbx = snap(bx + ends.Shift[1][0]), sby = snap(by - ends.Shift[1][1]);
            const float px = xMajor ? 0 : half, py = xMajor ? half : 0;
            const float corners[8] = {sax - px, say - py, sbx - px, sby - py, sbx + px, sby + py, sax + px, say + py};
            // The quad drawn reaches further every way; the fragment shader
            // keeps the pixels inside the corners, at the rasteriser's own
            // sub-pixel precision rather than the browser's.
            const float along = xMajor ? (bx >= ax ? 1.0f : -1.0f) : (by >= ay ? 1.0f : -1.0f);
            const float ex = xMajor ? 2 * along : 0, ey = xMajor ? 0 : 2 * along;
            const float ox = xMajor ? 0 : half + 1, oy = xMajor ? half + 1 : 0;
            const auto base = std::uint32_t(FWide.size());
            const TVertex* ends2[2] = {&a, &b};
            for (int e = 0; e < 2; ++e)
                for (float sign : {-1.0f, 1.0f}) {
                    TVertex v = *ends2[e];
                    v.Offset[0] = sign * ox + (e == 0 ? -ex : ex);
                    v.Offset[1] = sign * oy + (e == 0 ? -ey : ey);
                    std::copy_n(corners, 8, v.Line);
                    FWide.push_back(v);
                }
            // Each triangle ends with the line's second vertex, whose colour
            // flat shading takes.
            FWideIndices.insert(FWideIndices.end(), {base, base + 1, base + 3, base + 1, base, base + 2});
        }
        shading.Cull = false;
        if (!FWideIndices.empty()) {
            shading.LineCoverage = true;
            DrawVertices(shading, GL_TRIANGLES, FWide, FWideIndices);
            shading.LineCoverage = false;
        }
        if (!thin.empty())
            DrawVertices(shading, GL_LINES, vertices, thin);
    }

public:
    void BuildShading(TShading& out) const
    {
        const TServerState& s = S;
        std::memcpy(out.ModelView, FModelView.back().data(), 64);
        std::memcpy(out.Projection, FProjection.back().data(), 64);
        NormalMatrix(FModelView.back(), out.NormalMatrix);
        out.Lighting = s.Lighting;
        out.LocalViewer = s.LocalViewer;
        out.ColorMaterial = s.ColorMaterial && (s.ColorMaterialMode == GL_AMBIENT_AND_DIFFUSE ||
                                                s.ColorMaterialMode == GL_DIFFUSE || s.ColorMaterialMode == GL_AMBIENT);
        out.Flat = s.ShadeModel == GL_FLAT;
        out.LightCount = 0;
        std::memset(out.Lights, 0, sizeof out.Lights);
        if (s.Lighting)
            for (const TLight& l : s.Lights) {
                if (!l.Enabled)
                    continue;
                TLightUniforms& u = out.Lights[out.LightCount++];
                std::copy_n(l.Ambient, 4, u.Ambient);
                std::copy_n(l.Diffuse, 4, u.Diffuse);
                std::copy_n(l.Specular, 4, u.Specular);
                std::copy_n(l.Position, 4, u.Position);
                const double length = std::sqrt(double(l.SpotDirection[0]) * l.SpotDirection[0] +
                                                double(l.SpotDirection[1]) * l.SpotDirection[1] +
                                                double(l.SpotDirection[2]) * l.SpotDirection[2]);
                for (int i = 0; i < 3; ++i)
                    u.SpotDirection[i] = length > 0 ? float(l.SpotDirection[i] / length) : 0.0f;
                u.Spot[0] = l.SpotCutoff == 180 ? -2.0f : float(std::cos(l.SpotCutoff * M_PI / 180.0));
                u.Spot[1] = l.SpotExponent;
                std::copy_n(l.Attenuation, 3, u.Attenuation);
            }
        std::copy_n(s.SceneAmbient, 4, out.SceneAmbient);
        const TMaterial& m = s.Material[0];
        std::copy_n(m.Ambient, 4, out.MaterialAmbient);
        std::copy_n(m.Diffuse, 4, out.MaterialDiffuse);
        std::copy_n(m.Specular, 4, out.MaterialSpecular);
        std::copy_n(m.Emission, 4, out.MaterialEmission);
        out.Shininess = m.Shininess;
        out.PointSize = std::max(1.0f, std::floor(s.PointSize + 0.5f));
        for (int u = 0; u < MaxUnits; ++u) {
            TUnitUniforms& unit = out.Units[u];
            unit = {};
            const TUnit& state = s.Units[u];
            if (!state.Texture2D || state.TextureCube)
                continue;
            const TTextureObject* t = nullptr;
            if (state.Bound == 0)
                t = &FDefaultTexture;
            else if (auto it = FTextures.find(state.Bound); it != FTextures.end())
                t = &it->second;
            if (!t || !t->Handle || !t->Complete())
                continue;
            unit.Texture = t->Handle;
            unit.EnvMode = state.EnvMode;
            unit.Rgba = t->Rgba;
            unit.ClampS = t->WrapS == GL_CLAMP;
            unit.ClampT = t->WrapT == GL_CLAMP;
            unit.Linear = t->MagFilter == GL_LINEAR || (t->MinFilter != GL_NEAREST && t->MinFilter != GL_NEAREST_MIPMAP_NEAREST);
            unit.Width = float(t->Width);
            unit.Height = float(t->Height);
            std::copy_n(state.EnvColor, 4, unit.EnvColor);
        }
        out.Blend = s.Blend;
        out.BlendSource = s.BlendSource;
        out.BlendDest = s.BlendDest;
        out.DepthTest = s.DepthTest;
        out.DepthWrite = s.DepthMask;
        out.DepthFunc = s.DepthFunc;
        out.Cull = s.Cull;
        out.CullMode = s.CullMode;
        out.FrontFace = s.FrontFace;
        std::copy_n(s.Viewport, 4, out.Viewport);
        std::copy_n(s.DepthRange, 2, out.DepthRange);
    }

    std::vector<TMatrix> FModelView{Identity};
    std::vector<TMatrix> FProjection{Identity};
    std::vector<TMatrix> FTexture{Identity};

private:
    GLenum FError = GL_NO_ERROR;
    std::vector<std::pair<GLbitfield, TServerState>> FAttribStack;
    std::vector<TClientSaved> FClientStack;
    std::map<GLuint, TTextureObject> FTextures;
    TTextureObject FDefaultTexture;
    GLuint FNextTexture = 1;
    bool FInBegin = false;
    GLenum FBeginMode = GL_POINTS;
    std::vector<TVertex> FImmediate, FAssembled, FWide;
    std::vector<std::uint32_t> FIndices, FTriangles, FSegments, FWideIndices;
    std::vector<float> FConverted[AttributeCount];
    std::uint64_t FArrayGeneration = 1;
    bool FArraysOnDevice = false;
    std::uint64_t FArraysGeneration = 0;
    std::uint32_t FArraysHighest = 0;
};

TEmulator* E = nullptr;

template <class R> R Zero()
{
    if constexpr (std::is_void_v<R>)
        return;
    else
        return R{};
}

// Entry points the painting never calls do nothing, as on a driver that
// ignores them; the ones it calls are bound below.
#define VENDRAKE_GL_CORE(result, name, params, args) result Ignored_##name params { return Zero<result>(); }
#define VENDRAKE_GL_GLU(result, name, params, args) result Ignored_##name params { return Zero<result>(); }
#include "scene/gl_functions.inc"

const char* const Extensions = "GL_ARB_multitexture GL_EXT_texture_object GL_EXT_texture";

void Bind(TGLEntryPoints& g)
{
#define VENDRAKE_GL_CORE(result, name, params, args) g.name = &Ignored_##name;
#define VENDRAKE_GL_GLU(result, name, params, args) g.name = &Ignored_##name;
#include "scene/gl_functions.inc"

    g.glGetError = [] { return E->TakeError(); };
    g.glGetString = [](GLenum name) -> const GLubyte* {
        const char* text = name == GL_VENDOR     ? "Vendrake"
                           : name == GL_RENDERER ? "WebGL 2 fixed-function emulation"
                           : name == GL_VERSION  ? "1.3"
                           : name == GL_EXTENSIONS ? Extensions
                                                 : "";
        return reinterpret_cast<const GLubyte*>(text);
    };
    g.glGetIntegerv = [](GLenum name, GLint* out) { E->GetInts(name, out); };
    g.glGetFloatv = [](GLenum name, GLfloat* out) { E->GetFloats(name, out); };
    g.glGetDoublev = [](GLenum name, GLdouble* out) {
        float values[16] = {};
        E->GetFloats(name, values);
        const int n = name == GL_MODELVIEW_MATRIX || name == GL_PROJECTION_MATRIX || name == GL_TEXTURE_MATRIX ? 16 : 4;
        for (int i = 0; i < n; ++i)
            out[i] = values[i];
    };
    g.glGetBooleanv = [](GLenum name, GLboolean* out) {
        GLint values[4] = {};
        const int n = E->GetInts(name, values);
        for (int i = 0; i < n; ++i)
            out[i] = values[i] != 0;
    };
    g.glIsEnabled = [](GLenum cap) -> GLboolean { return E->IsEnabled(cap); };
    g.glEnable = [](GLenum cap) { E->SetCap(cap, true); };
    g.glDisable = [](GLenum cap) { E->SetCap(cap, false); };
    g.glEnableClientState = [](GLenum cap) { E->SetClientCap(cap, true); };
    g.glDisableClientState = [](GLenum cap) { E->SetClientCap(cap, false); };
    g.glPushAttrib = [](GLbitfield mask) { E->PushAttrib(mask); };
    g.glPopAttrib = [] { E->PopAttrib(); };
    g.glPushClientAttrib = [](GLbitfield mask) { E->PushClientAttrib(mask); };
    g.glPopClientAttrib = [] { E->PopClientAttrib(); };

    g.glMatrixMode = [](GLenum mode) {
        if (mode == GL_MODELVIEW || mode == GL_PROJECTION || mode == GL_TEXTURE)
            E->S.MatrixMode = mode;
        else
            E->Error(GL_INVALID_ENUM);
    };
    g.glLoadIdentity = [] { E->Top() = Identity; };
    g.glLoadMatrixf = [](const GLfloat* m) { std::copy_n(m, 16, E->Top().begin()); };
    g.glLoadMatrixd = [](const GLdouble* m) {
        for (int i = 0; i < 16; ++i)
            E->Top()[std::size_t(i)] = float(m[i]);
    };
    g.glMultMatrixf = [](const GLfloat* m) {
        TMatrix t;
        std::copy_n(m, 16, t.begin());
        E->MultMatrix(t);
    };
    g.glMultMatrixd = [](const GLdouble* m) {
        TMatrix t;
        for (int i = 0; i < 16; ++i)
            t[std::size_t(i)] = float(m[i]);
        E->MultMatrix(t);
    };
    g.glPushMatrix = [] { E->PushMatrix(); };
    g.glPopMatrix = [] { E->PopMatrix(); };
    g.glTranslatef = [](GLfloat x, GLfloat y, GLfloat z) { E->Translate(x, y, z); };
    g.glTranslated = [](GLdouble x, GLdouble y, GLdouble z) { E->Translate(float(x), float(y), float(z)); };
    g.glScalef = [](GLfloat x, GLfloat y, GLfloat z) { E->Scale(x, y, z); };
    g.glRotatef = [](GLfloat a, GLfloat x, GLfloat y, GLfloat z) { E->Rotate(a, x, y, z); };
    g.glOrtho = [](GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) { E->Ortho(l, r, b, t, n, f); };
    g.glFrustum = [](GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) { E->Frustum(l, r, b, t, n, f); };
    g.glViewport = [](GLint x, GLint y, GLsizei w, GLsizei h) {
        if (w < 0 || h < 0)
            return E->Error(GL_INVALID_VALUE);
        E->S.Viewport[0] = x;
        E->S.Viewport[1] = y;
        E->S.Viewport[2] = w;
        E->S.Viewport[3] = h;
    };
    g.glDepthRange = [](GLclampd n, GLclampd f) {
        E->S.DepthRange[0] = float(std::clamp(n, 0.0, 1.0));
        E->S.DepthRange[1] = float(std::clamp(f, 0.0, 1.0));
    };

    g.glLightf = [](GLenum light, GLenum name, GLfloat value) {
        const float v[4] = {value, 0, 0, 0};
        E->Light(light, name, v);
    };
    g.glLighti = [](GLenum light, GLenum name, GLint value) {
        const float v[4] = {float(value), 0, 0, 0};
        E->Light(light, name, v);
    };
    g.glLightfv = [](GLenum light, GLenum name, const GLfloat* v) { E->Light(light, name, v); };
    g.glLightModelfv = [](GLenum name, const GLfloat* v) { E->LightModel(name, v); };
    g.glLightModelf = [](GLenum name, GLfloat value) {
        const float v[4] = {value, 0, 0, 0};
        E->LightModel(name, v);
    };
    g.glLightModeli = [](GLenum name, GLint value) {
        const float v[4] = {float(value), 0, 0, 0};
        E->LightModel(name, v);
    };
    g.glMaterialfv = [](GLenum face, GLenum name, const GLfloat* v) { E->Material(face, name, v); };
    g.glMaterialf = [](GLenum face, GLenum name, GLfloat value) {
        const float v[4] = {value, 0, 0, 0};
        E->Material(face, name, v);
    };
    g.glColorMaterial = [](GLenum face, GLenum mode) {
        E->S.ColorMaterialFace = face;
        E->S.ColorMaterialMode = mode;
        E->TrackColor();
    };
    g.glShadeModel = [](GLenum mode) {
        if (mode == GL_FLAT || mode == GL_SMOOTH)
            E->S.ShadeModel = mode;
        else
            E->Error(GL_INVALID_ENUM);
    };

    g.glColor3f = [](GLfloat r, GLfloat gr, GLfloat b) { E->SetColor(r, gr, b, 1); };
    g.glColor3fv = [](const GLfloat* v) { E->SetColor(v[0], v[1], v[2], 1); };
    g.glColor4f = [](GLfloat r, GLfloat gr, GLfloat b, GLfloat a) { E->SetColor(r, gr, b, a); };
    g.glColor4fv = [](const GLfloat* v) { E->SetColor(v[0], v[1], v[2], v[3]); };
    g.glColor3ub = [](GLubyte r, GLubyte gr, GLubyte b) { E->SetColor(r / 255.0f, gr / 255.0f, b / 255.0f, 1); };
    g.glColor4ub = [](GLubyte r, GLubyte gr, GLubyte b, GLubyte a) {
        E->SetColor(r / 255.0f, gr / 255.0f, b / 255.0f, a / 255.0f);
    };
    g.glNormal3f = [](GLfloat x, GLfloat y, GLfloat z) {
        E->S.Normal[0] = x;
        E->S.Normal[1] = y;
        E->S.Normal[2] = z;
    };
    g.glNormal3fv = [](const GLfloat* v) { std::copy_n(v, 3, E->S.Normal); };
    g.glTexCoord2f = [](GLfloat s, GLfloat t) { E->SetTexCoord(0, s, t, 0, 1); };
    g.glTexCoord2fv = [](const GLfloat* v) { E->SetTexCoord(0, v[0], v[1], 0, 1); };
    g.glTexCoord3fv = [](const GLfloat* v) { E->SetTexCoord(0, v[0], v[1], v[2], 1); };
    g.glVertex2f = [](GLfloat x, GLfloat y) { E->Vertex(x, y, 0, 1); };
    g.glVertex2fv = [](const GLfloat* v) { E->Vertex(v[0], v[1], 0, 1); };
    g.glVertex3f = [](GLfloat x, GLfloat y, GLfloat z) { E->Vertex(x, y, z, 1); };
    g.glVertex3fv = [](const GLfloat* v) { E->Vertex(v[0], v[1], v[2], 1); };
    g.glVertex4f = [](GLfloat x, GLfloat y, GLfloat z, GLfloat w) { E->Vertex(x, y, z, w); };
    g.glVertex4fv = [](const GLfloat* v) { E->Vertex(v[0], v[1], v[2], v[3]); };
    g.glBegin = [](GLenum mode) { E->Begin(mode); };
    g.glEnd = [] { E->End(); };

    g.glVertexPointer = [](GLint size, GLenum type, GLsizei stride, const GLvoid* p) {
        E->SetPointer(E->C.Vertex, size, type, stride, p);
    };
    g.glNormalPointer = [](GLenum type, GLsizei stride, const GLvoid* p) {
        E->SetPointer(E->C.Normal, 3, type, stride, p);
    };
    g.glColorPointer = [](GLint size, GLenum type, GLsizei stride, const GLvoid* p) {
        E->SetPointer(E->C.Color, size, type, stride, p);
    };
    g.glTexCoordPointer = [](GLint size, GLenum type, GLsizei stride, const GLvoid* p) {
        E->SetPointer(E->ClientTexCoord(), size, type, stride, p);
    };
    g.glDrawArrays = [](GLenum mode, GLint first, GLsizei count) { E->DrawArrays(mode, first, count); };
    g.glDrawElements = [](GLenum mode, GLsizei count, GLenum type, const GLvoid* indices) {
        E->DrawElements(mode, count, type, indices);
    };

    g.glGenTextures = [](GLsizei n, GLuint* names) { E->GenTextures(n, names); };
    g.glBindTexture = [](GLenum target, GLuint name) { E->BindTexture(target, name); };
    g.glDeleteTextures = [](GLsizei n, const GLuint* names) { E->DeleteTextures(n, names); };
    g.glTexParameteri = [](GLenum target, GLenum name, GLint value) { E->TexParameter(target, name, value); };
    g.glTexParameterf = [](GLenum target, GLenum name, GLfloat value) { E->TexParameter(target, name, GLint(value)); };
    g.glTexImage2D = [](GLenum target, GLint level, GLint internalFormat, GLsizei w, GLsizei h, GLint border,
                        GLenum format, GLenum type, const GLvoid* pixels) {
        E->TexImage(target, level, internalFormat, w, h, border, format, type, pixels);
    };
    g.glTexEnvi = [](GLenum target, GLenum name, GLint value) {
        const float v[4] = {float(value), 0, 0, 0};
        if (target == GL_TEXTURE_ENV)
            E->TexEnv(name, v, true);
    };
    g.glTexEnvf = [](GLenum target, GLenum name, GLfloat value) {
        const float v[4] = {value, 0, 0, 0};
        if (target == GL_TEXTURE_ENV)
            E->TexEnv(name, v, false);
    };
    g.glTexEnvfv = [](GLenum target, GLenum name, const GLfloat* v) {
        if (target == GL_TEXTURE_ENV)
            E->TexEnv(name, v, false);
    };
    g.glPixelStorei = [](GLenum name, GLint value) {
        if (value != 1 && value != 2 && value != 4 && value != 8)
            return E->Error(GL_INVALID_VALUE);
        if (name == GL_UNPACK_ALIGNMENT)
            E->FUnpackAlignment = value;
        else if (name == GL_PACK_ALIGNMENT)
            E->FPackAlignment = value;
    };

    g.glBlendFunc = [](GLenum source, GLenum dest) {
        E->S.BlendSource = source;
        E->S.BlendDest = dest;
    };
    g.glDepthFunc = [](GLenum func) { E->S.DepthFunc = func; };
    g.glDepthMask = [](GLboolean flag) { E->S.DepthMask = flag != 0; };
    g.glCullFace = [](GLenum mode) { E->S.CullMode = mode; };
    g.glFrontFace = [](GLenum mode) { E->S.FrontFace = mode; };
    g.glPolygonMode = [](GLenum face, GLenum mode) {
        if (mode != GL_POINT && mode != GL_LINE && mode != GL_FILL)
            return E->Error(GL_INVALID_ENUM);
        if (face == GL_FRONT || face == GL_FRONT_AND_BACK)
            E->S.PolygonMode[0] = mode;
        if (face == GL_BACK || face == GL_FRONT_AND_BACK)
            E->S.PolygonMode[1] = mode;
    };
    g.glLineWidth = [](GLfloat width) {
        if (width <= 0)
            return E->Error(GL_INVALID_VALUE);
        E->S.LineWidth = width;
    };
    g.glPointSize = [](GLfloat size) {
        if (size <= 0)
            return E->Error(GL_INVALID_VALUE);
        E->S.PointSize = size;
    };
    g.glClearColor = [](GLclampf r, GLclampf gr, GLclampf b, GLclampf a) {
        const float c[4] = {r, gr, b, a};
        for (int i = 0; i < 4; ++i)
            E->S.ClearColor[i] = std::clamp(c[i], 0.0f, 1.0f);
    };
    g.glClearDepth = [](GLclampd depth) { E->S.ClearDepth = float(std::clamp(depth, 0.0, 1.0)); };
    g.glClear = [](GLbitfield mask) { E->Clear(mask); };
    g.glFinish = [] { E->Device.Finish(); };
    g.glFlush = [] {};
    // Display lists are not kept: no list name is ever handed out, so a
    // mesh that asks for one goes on painting itself directly.
    g.glGenLists = [](GLsizei) -> GLuint { return 0; };

    g.glActiveTextureARB = [](GLenum unit) { E->ActiveTexture(unit); };
    g.glClientActiveTextureARB = [](GLenum unit) { E->ClientActiveTexture(unit); };
    g.glMultiTexCoord2fARB = [](GLenum unit, GLfloat s, GLfloat t) { E->SetTexCoord(unit - GL_TEXTURE0_ARB, s, t, 0, 1); };
    g.glMultiTexCoord2fvARB = [](GLenum unit, const GLfloat* v) { E->SetTexCoord(unit - GL_TEXTURE0_ARB, v[0], v[1], 0, 1); };
    g.glMultiTexCoord3fARB = [](GLenum unit, GLfloat s, GLfloat t, GLfloat r) {
        E->SetTexCoord(unit - GL_TEXTURE0_ARB, s, t, r, 1);
    };
    g.glMultiTexCoord3fvARB = [](GLenum unit, const GLfloat* v) {
        E->SetTexCoord(unit - GL_TEXTURE0_ARB, v[0], v[1], v[2], 1);
    };

    g.gluGetString = [](GLenum name) -> const GLubyte* {
        return reinterpret_cast<const GLubyte*>(name == GLU_VERSION ? "1.3" : "");
    };
    g.gluPerspective = &Perspective;
    g.gluBuild2DMipmaps = &Build2DMipmaps;
}

} // namespace

std::string InstallFixedFunctionGL(const char* canvas)
{
    static TEmulator emulator;
    if (std::string error = emulator.Device.CreateContext(canvas); !error.empty())
        return error;
    E = &emulator;
    TGLBinding binding;
    Bind(binding.EntryPoints);
    binding.Extensions.GLVersion = {1, 3};
    binding.Extensions.GLUVersion = {1, 3};
    binding.Extensions.ARB_multitexture = true;
    binding.Extensions.EXT_texture = true;
    binding.CurrentContext = 1;
    SetGLBinding(binding);
    return {};
}

} // namespace vendrake::web
