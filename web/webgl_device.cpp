#include "web/webgl_device.h"

#include <GLES3/gl3.h>
#include <emscripten/html5.h>

#include <cstring>
#include <stdexcept>

namespace vendrake::web {

namespace {

// OpenGL 1.x lighting, per vertex, as the fixed-function pipeline does it:
// the normal through the inverse transpose of the modelview and not
// renormalised, positional lights with their attenuation and spot cone,
// the half vector towards a local viewer, colour material feeding ambient
// and diffuse, the sum clamped.
const char* const VertexShader = R"(#version 300 es
precision highp float;
layout(location = 0) in vec4 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColor;
layout(location = 3) in vec4 aTexCoord0;
layout(location = 4) in vec4 aTexCoord1;
layout(location = 5) in vec2 aOffset;
layout(location = 6) in vec4 aLine0;
layout(location = 7) in vec4 aLine1;
uniform mat4 uModelView;
uniform mat4 uProjection;
uniform mat3 uNormalMatrix;
uniform bool uLighting;
uniform bool uLocalViewer;
uniform bool uColorMaterial;
uniform int uLightCount;
uniform vec4 uLightAmbient[8];
uniform vec4 uLightDiffuse[8];
uniform vec4 uLightSpecular[8];
uniform vec4 uLightPosition[8];
uniform vec4 uSpotDirection[8];
uniform vec4 uSpot[8];
uniform vec4 uAttenuation[8];
uniform vec4 uSceneAmbient;
uniform vec4 uMaterialAmbient;
uniform vec4 uMaterialDiffuse;
uniform vec4 uMaterialSpecular;
uniform vec4 uMaterialEmission;
uniform float uShininess;
uniform float uPointSize;
uniform vec2 uViewportSize;
out vec4 vColor;
flat out vec4 vFlatColor;
out vec4 vTexCoord0;
out vec4 vTexCoord1;
flat out vec4 vLine0;
flat out vec4 vLine1;

void main()
{
    vec4 eye = uModelView * aPosition;
    vec4 color;
    if (uLighting) {
        vec3 n = uNormalMatrix * aNormal;
        vec4 ambient = uColorMaterial ? aColor : uMaterialAmbient;
        vec4 diffuse = uColorMaterial ? aColor : uMaterialDiffuse;
        vec3 sum = uMaterialEmission.rgb + ambient.rgb * uSceneAmbient.rgb;
        vec3 toEye = uLocalViewer ? normalize(-eye.xyz) : vec3(0.0, 0.0, 1.0);
        for (int i = 0; i < 8; ++i) {
            if (i >= uLightCount)
                break;
            vec4 position = uLightPosition[i];
            vec3 toLight;
            float factor = 1.0;
            if (position.w != 0.0) {
                vec3 d = position.xyz / position.w - eye.xyz;
                float distance = length(d);
                toLight = d / distance;
                vec4 k = uAttenuation[i];
                factor = 1.0 / (k.x + k.y * distance + k.z * distance * distance);
                if (uSpot[i].x > -1.5) {
                    float cone = dot(-toLight, uSpotDirection[i].xyz);
                    factor *= cone < uSpot[i].x ? 0.0 : (uSpot[i].y == 0.0 ? 1.0 : pow(max(cone, 0.0), uSpot[i].y));
                }
            } else {
                toLight = normalize(position.xyz);
            }
            vec3 term = uLightAmbient[i].rgb * ambient.rgb;
            float nl = dot(n, toLight);
            if (nl > 0.0) {
                term += nl * uLightDiffuse[i].rgb * diffuse.rgb;
                float nh = max(dot(n, normalize(toLight + toEye)), 0.0);
                float power = uShininess == 0.0 ? 1.0 : pow(nh, uShininess);
                term += power * uLightSpecular[i].rgb * uMaterialSpecular.rgb;
            }
            sum += factor * term;
        }
        color = vec4(clamp(sum, 0.0, 1.0), clamp(diffuse.a, 0.0, 1.0));
    } else {
        color = clamp(aColor, 0.0, 1.0);
    }
    vColor = color;
    vFlatColor = color;
    vTexCoord0 = aTexCoord0;
    vTexCoord1 = aTexCoord1;
    vLine0 = aLine0;
    vLine1 = aLine1;
    gl_Position = uProjection * eye;
    gl_Position.xy += aOffset * 2.0 / uViewportSize * gl_Position.w;
    gl_PointSize = uPointSize;
}
)";

// The texture environments of OpenGL 1.3 for RGB and RGBA images, and the
// black border that GL_CLAMP lets linear filtering reach.
const char* const FragmentShader = R"(#version 300 es
precision highp float;
in vec4 vColor;
flat in vec4 vFlatColor;
in vec4 vTexCoord0;
in vec4 vTexCoord1;
flat in vec4 vLine0;
flat in vec4 vLine1;
uniform bool uFlat;
uniform bool uLineCoverage;
uniform sampler2D uSampler0;
uniform sampler2D uSampler1;
uniform bool uUnitOn[2];
uniform int uEnvMode[2];
uniform bool uRgba[2];
uniform vec4 uEnvColor[2];
uniform vec4 uClamp[2]; // clamp s, clamp t, width, height
out vec4 fragColor;

vec4 Sample(sampler2D image, vec4 coord, vec4 clampInfo, bool rgba)
{
    vec2 st = coord.xy / coord.w;
    if (clampInfo.x == 0.0 && clampInfo.y == 0.0)
        return texture(image, st);
    st = vec2(clampInfo.x > 0.0 ? clamp(st.x, 0.0, 1.0) : st.x, clampInfo.y > 0.0 ? clamp(st.y, 0.0, 1.0) : st.y);
    vec4 texel = texture(image, st);
    // The level linear filtering reads decides how wide the border band is.
    vec2 size = clampInfo.zw;
    vec2 texels = st * size;
    float rho = max(length(dFdx(texels)), length(dFdy(texels)));
    vec2 levelSize = max(size / max(rho, 1.0), vec2(1.0));
    vec2 u = st * levelSize;
    vec2 outside = clamp(0.5 - u, 0.0, 1.0) + clamp(u - (levelSize - 0.5), 0.0, 1.0);
    if (clampInfo.x == 0.0) outside.x = 0.0;
    if (clampInfo.y == 0.0) outside.y = 0.0;
    float inside = (1.0 - outside.x) * (1.0 - outside.y);
    return rgba ? texel * inside : vec4(texel.rgb * inside, 1.0);
}

vec4 Environment(vec4 cf, vec4 ct, int mode, bool rgba, vec4 cc)
{
    if (mode == 0x1E01) // GL_REPLACE
        return rgba ? ct : vec4(ct.rgb, cf.a);
    if (mode == 0x2100) // GL_MODULATE
        return rgba ? cf * ct : vec4(cf.rgb * ct.rgb, cf.a);
    if (mode == 0x2101) // GL_DECAL
        return rgba ? vec4(mix(cf.rgb, ct.rgb, ct.a), cf.a) : vec4(ct.rgb, cf.a);
    if (mode == 0x0BE2) // GL_BLEND
        return vec4(mix(cf.rgb, cc.rgb, ct.rgb), rgba ? cf.a * ct.a : cf.a);
    if (mode == 0x0104) // GL_ADD
        return clamp(vec4(cf.rgb + ct.rgb, rgba ? cf.a * ct.a : cf.a), 0.0, 1.0);
    return cf;
}

// Whether the pixel's centre lies in the quad of a wide line's corners,
// taken at the precision the desktop rasteriser snaps them to.
bool InsideLine(vec2 p)
{
    vec2 c[4] = vec2[4](vLine0.xy, vLine0.zw, vLine1.xy, vLine1.zw);
    bool below = false, above = false;
    for (int i = 0; i < 4; ++i) {
        vec2 a = c[i], b = c[(i + 1) % 4];
        float side = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
        below = below || side < 0.0;
        above = above || side > 0.0;
    }
    return !(below && above);
}

void main()
{
    if (uLineCoverage && !InsideLine(gl_FragCoord.xy))
        discard;
    vec4 color = uFlat ? vFlatColor : vColor;
    if (uUnitOn[0])
        color = Environment(color, Sample(uSampler0, vTexCoord0, uClamp[0], uRgba[0]), uEnvMode[0], uRgba[0], uEnvColor[0]);
    if (uUnitOn[1])
        color = Environment(color, Sample(uSampler1, vTexCoord1, uClamp[1], uRgba[1]), uEnvMode[1], uRgba[1], uEnvColor[1]);
    fragColor = clamp(color, 0.0, 1.0);
}
)";

enum TUniform {
    uModelView, uProjection, uNormalMatrix, uLighting, uLocalViewer, uColorMaterial, uLightCount,
    uLightAmbient, uLightDiffuse, uLightSpecular, uLightPosition, uSpotDirection, uSpot, uAttenuation,
    uSceneAmbient, uMaterialAmbient, uMaterialDiffuse, uMaterialSpecular, uMaterialEmission, uShininess,
    uPointSize, uViewportSize, uFlat, uSampler0, uSampler1, uUnitOn, uEnvMode, uRgba, uEnvColor, uClamp, uLineCoverage,
    UniformCount
};

const char* const UniformNames[UniformCount] = {
    "uModelView", "uProjection", "uNormalMatrix", "uLighting", "uLocalViewer", "uColorMaterial", "uLightCount",
    "uLightAmbient", "uLightDiffuse", "uLightSpecular", "uLightPosition", "uSpotDirection", "uSpot", "uAttenuation",
    "uSceneAmbient", "uMaterialAmbient", "uMaterialDiffuse", "uMaterialSpecular", "uMaterialEmission",
    "uShininess", "uPointSize", "uViewportSize", "uFlat", "uSampler0", "uSampler1", "uUnitOn", "uEnvMode",
    "uRgba", "uEnvColor", "uClamp", "uLineCoverage"};

GLuint Compile(GLenum kind, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        throw std::runtime_error(std::string("WebGL shader does not compile: ") + log);
    }
    return shader;
}

template <class T> bool Same(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof(T)) == 0; }

} // namespace

std::string TWebGL::CreateContext(const char* canvas)
{
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = false;
    attributes.depth = true;
    attributes.stencil = true;
    attributes.antialias = false;
    attributes.premultipliedAlpha = false;
    attributes.preserveDrawingBuffer = true;
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(canvas, &attributes);
    if (context <= 0)
        return "this browser cannot make a WebGL 2 context";
    emscripten_webgl_make_context_current(context);
    try {
        Build();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

void TWebGL::Build()
{
    FProgram = glCreateProgram();
    glAttachShader(FProgram, Compile(GL_VERTEX_SHADER, VertexShader));
    glAttachShader(FProgram, Compile(GL_FRAGMENT_SHADER, FragmentShader));
    glLinkProgram(FProgram);
    GLint ok = 0;
    glGetProgramiv(FProgram, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetProgramInfoLog(FProgram, sizeof log, nullptr, log);
        throw std::runtime_error(std::string("WebGL program does not link: ") + log);
    }
    glUseProgram(FProgram);
    for (int i = 0; i < UniformCount; ++i)
        FUniform[i] = glGetUniformLocation(FProgram, UniformNames[i]);
    glUniform1i(FUniform[uSampler0], 0);
    glUniform1i(FUniform[uSampler1], 1);
    glGenVertexArrays(1, &FVertexArray);
    glBindVertexArray(FVertexArray);
    glGenBuffers(AttributeCount, FBuffers);
    glGenBuffers(1, &FIndexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, FIndexBuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
}

std::uint32_t TWebGL::CreateTexture()
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    return texture;
}

void TWebGL::DeleteTexture(std::uint32_t texture)
{
    for (std::uint32_t& bound : FBoundTexture)
        if (bound == texture)
            bound = 0;
    glDeleteTextures(1, &texture);
}

void TWebGL::TexImage(std::uint32_t texture, int level, int width, int height, bool rgba, const std::uint8_t* pixels,
                      int unpackAlignment)
{
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    FBoundTexture[0] = texture;
    glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment);
    const GLenum format = rgba ? GL_RGBA : GL_RGB;
    glTexImage2D(GL_TEXTURE_2D, level, rgba ? GL_RGBA8 : GL_RGB8, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
}

void TWebGL::TexParameters(std::uint32_t texture, std::uint32_t minFilter, std::uint32_t magFilter, std::uint32_t wrapS,
                           std::uint32_t wrapT)
{
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    FBoundTexture[0] = texture;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GLint(magFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GLint(wrapS));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GLint(wrapT));
}

void TWebGL::Clear(std::uint32_t mask, const float color[4], float depth, bool depthWrite)
{
    glClearColor(color[0], color[1], color[2], color[3]);
    glClearDepthf(depth);
    glDepthMask(depthWrite ? GL_TRUE : GL_FALSE);
    FLast.DepthWrite = depthWrite;
    glClear(mask & (GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT));
}

void TWebGL::ApplyRaster(const TShading& s)
{
    const bool first = !FHaveShading;
    const auto toggle = [](GLenum cap, bool on) { on ? glEnable(cap) : glDisable(cap); };
    if (first || s.Blend != FLast.Blend)
        toggle(GL_BLEND, s.Blend);
    if (first || s.BlendSource != FLast.BlendSource || s.BlendDest != FLast.BlendDest)
        glBlendFunc(s.BlendSource, s.BlendDest);
    if (first || s.DepthTest != FLast.DepthTest)
        toggle(GL_DEPTH_TEST, s.DepthTest);
    if (first || s.DepthWrite != FLast.DepthWrite)
        glDepthMask(s.DepthWrite ? GL_TRUE : GL_FALSE);
    if (first || s.DepthFunc != FLast.DepthFunc)
        glDepthFunc(s.DepthFunc);
    if (first || s.Cull != FLast.Cull)
        toggle(GL_CULL_FACE, s.Cull);
    if (first || s.CullMode != FLast.CullMode)
        glCullFace(s.CullMode);
    if (first || s.FrontFace != FLast.FrontFace)
        glFrontFace(s.FrontFace);
    if (first || !Same(s.Viewport, FLast.Viewport))
        glViewport(s.Viewport[0], s.Viewport[1], s.Viewport[2], s.Viewport[3]);
    if (first || !Same(s.DepthRange, FLast.DepthRange))
        glDepthRangef(s.DepthRange[0], s.DepthRange[1]);
    for (int unit = 0; unit < MaxUnits; ++unit) {
        const std::uint32_t texture = s.Units[unit].Texture;
        if (texture != 0 && texture != FBoundTexture[unit]) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D, texture);
            FBoundTexture[unit] = texture;
        }
    }
}

void TWebGL::ApplyUniforms(const TShading& s)
{
    const bool first = !FHaveShading;
    const TShading& o = FLast;
    if (first || !Same(s.ModelView, o.ModelView)) {
        glUniformMatrix4fv(FUniform[uModelView], 1, GL_FALSE, s.ModelView);
        glUniformMatrix3fv(FUniform[uNormalMatrix], 1, GL_FALSE, s.NormalMatrix);
    }
    if (first || !Same(s.Projection, o.Projection))
        glUniformMatrix4fv(FUniform[uProjection], 1, GL_FALSE, s.Projection);
    if (first || s.Lighting != o.Lighting)
        glUniform1i(FUniform[uLighting], s.Lighting);
    if (s.Lighting) {
        if (first || s.LocalViewer != o.LocalViewer)
            glUniform1i(FUniform[uLocalViewer], s.LocalViewer);
        if (first || s.ColorMaterial != o.ColorMaterial)
            glUniform1i(FUniform[uColorMaterial], s.ColorMaterial);
        if (first || s.LightCount != o.LightCount)
            glUniform1i(FUniform[uLightCount], s.LightCount);
        if (first || !Same(s.Lights, o.Lights)) {
            float block[7][MaxLights * 4];
            for (int i = 0; i < MaxLights; ++i) {
                const TLightUniforms& l = s.Lights[i];
                std::memcpy(&block[0][i * 4], l.Ambient, 16);
                std::memcpy(&block[1][i * 4], l.Diffuse, 16);
                std::memcpy(&block[2][i * 4], l.Specular, 16);
                std::memcpy(&block[3][i * 4], l.Position, 16);
                std::memcpy(&block[4][i * 4], l.SpotDirection, 16);
                std::memcpy(&block[5][i * 4], l.Spot, 16);
                std::memcpy(&block[6][i * 4], l.Attenuation, 16);
            }
            const TUniform names[7] = {uLightAmbient, uLightDiffuse, uLightSpecular, uLightPosition,
                                       uSpotDirection, uSpot, uAttenuation};
            for (int b = 0; b < 7; ++b)
                glUniform4fv(FUniform[names[b]], MaxLights, block[b]);
        }
        if (first || !Same(s.SceneAmbient, o.SceneAmbient))
            glUniform4fv(FUniform[uSceneAmbient], 1, s.SceneAmbient);
        if (first || !Same(s.MaterialAmbient, o.MaterialAmbient))
            glUniform4fv(FUniform[uMaterialAmbient], 1, s.MaterialAmbient);
        if (first || !Same(s.MaterialDiffuse, o.MaterialDiffuse))
            glUniform4fv(FUniform[uMaterialDiffuse], 1, s.MaterialDiffuse);
        if (first || !Same(s.MaterialSpecular, o.MaterialSpecular))
            glUniform4fv(FUniform[uMaterialSpecular], 1, s.MaterialSpecular);
        if (first || !Same(s.MaterialEmission, o.MaterialEmission))
            glUniform4fv(FUniform[uMaterialEmission], 1, s.MaterialEmission);
        if (first || s.Shininess != o.Shininess)
            glUniform1f(FUniform[uShininess], s.Shininess);
    }
    if (first || s.PointSize != o.PointSize)
        glUniform1f(FUniform[uPointSize], s.PointSize);
    if (first || !Same(s.Viewport, o.Viewport))
        glUniform2f(FUniform[uViewportSize], float(s.Viewport[2]), float(s.Viewport[3]));
    if (first || s.Flat != o.Flat)
        glUniform1i(FUniform[uFlat], s.Flat);
    if (first || s.LineCoverage != o.LineCoverage)
        glUniform1i(FUniform[uLineCoverage], s.LineCoverage);
    if (first || !Same(s.Units, o.Units)) {
        GLint on[MaxUnits], mode[MaxUnits], rgba[MaxUnits];
        float color[MaxUnits * 4], clampInfo[MaxUnits * 4];
        for (int i = 0; i < MaxUnits; ++i) {
            const TUnitUniforms& u = s.Units[i];
            on[i] = u.Texture != 0;
            mode[i] = GLint(u.EnvMode);
            rgba[i] = u.Rgba;
            std::memcpy(&color[i * 4], u.EnvColor, 16);
            const bool linear = u.Linear;
            clampInfo[i * 4 + 0] = linear && u.ClampS ? 1.0f : 0.0f;
            clampInfo[i * 4 + 1] = linear && u.ClampT ? 1.0f : 0.0f;
            clampInfo[i * 4 + 2] = u.Width;
            clampInfo[i * 4 + 3] = u.Height;
        }
        glUniform1iv(FUniform[uUnitOn], MaxUnits, on);
        glUniform1iv(FUniform[uEnvMode], MaxUnits, mode);
        glUniform1iv(FUniform[uRgba], MaxUnits, rgba);
        glUniform4fv(FUniform[uEnvColor], MaxUnits, color);
        glUniform4fv(FUniform[uClamp], MaxUnits, clampInfo);
    }
}

void TWebGL::Draw(const TShading& shading, const TAttribSource (&attributes)[AttributeCount], std::uint32_t mode,
                  std::size_t first, std::size_t count, const std::uint32_t* indices)
{
    if (count == 0)
        return;
    ApplyRaster(shading);
    ApplyUniforms(shading);
    FLast = shading;
    FHaveShading = true;
    for (int i = 0; i < AttributeCount; ++i) {
        const TAttribSource& a = attributes[i];
        if (a.Size == 0 || !a.Data) {
            glDisableVertexAttribArray(i);
            glVertexAttrib4fv(i, a.Constant);
            continue;
        }
        int owner = i;
        for (int j = 0; j < i; ++j)
            if (attributes[j].Size != 0 && attributes[j].Data == a.Data && attributes[j].Floats == a.Floats) {
                owner = j;
                break;
            }
        if (owner != i)
            FSlotBuffer[i] = FSlotBuffer[owner];
        else if (!a.Reuse || !FSlotBuffer[i])
            FSlotBuffer[i] = Upload(GL_ARRAY_BUFFER, a.Data, a.Floats * sizeof(float), FBuffers[i]);
        glBindBuffer(GL_ARRAY_BUFFER, FSlotBuffer[i]);
        glEnableVertexAttribArray(i);
        const int stride = a.Stride ? a.Stride : a.Size;
        glVertexAttribPointer(i, a.Size, GL_FLOAT, GL_FALSE, stride * int(sizeof(float)),
                              reinterpret_cast<const void*>(a.Offset * sizeof(float)));
    }
    if (indices) {
        Upload(GL_ELEMENT_ARRAY_BUFFER, indices, count * sizeof(std::uint32_t), FIndexBuffer);
        glDrawElements(mode, GLsizei(count), GL_UNSIGNED_INT, nullptr);
    } else {
        glDrawArrays(mode, GLint(first), GLsizei(count));
    }
}

void TWebGL::Finish() { glFinish(); }

namespace {

constexpr std::size_t CachedFrom = 64 * 1024;
constexpr std::uint64_t KeptFrames = 120;

std::uint64_t HashBytes(const void* data, std::size_t bytes)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ bytes;
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        h = (h ^ word) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    for (; i < bytes; ++i)
        h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}

} // namespace

std::uint32_t TWebGL::Upload(std::uint32_t target, const void* data, std::size_t bytes, std::uint32_t stream)
{
    if (bytes < CachedFrom) {
        glBindBuffer(target, stream);
        glBufferData(target, GLsizeiptr(bytes), data, GL_STREAM_DRAW);
        return stream;
    }
    TCachedBuffer& cached = FCache[{data, bytes}];
    const std::uint64_t hash = HashBytes(data, bytes);
    if (!cached.Buffer) {
        glGenBuffers(1, &cached.Buffer);
        cached.Hash = ~hash;
    }
    glBindBuffer(target, cached.Buffer);
    if (cached.Hash != hash) {
        glBufferData(target, GLsizeiptr(bytes), data, GL_STATIC_DRAW);
        cached.Hash = hash;
    }
    cached.LastFrame = FFrame;
    return cached.Buffer;
}

void TWebGL::NewFrame()
{
    ++FFrame;
    for (auto it = FCache.begin(); it != FCache.end();) {
        if (FFrame - it->second.LastFrame > KeptFrames) {
            glDeleteBuffers(1, &it->second.Buffer);
            it = FCache.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace vendrake::web
