// Flash: a painter effect that covers the whole window with one colour,
// blended over what was painted before it with the opacity its Alpha
// property holds. A fade-to-white or a beat flash is a matter of what the
// application writes into Alpha.
//
// Properties (each value block holds a 32-bit float in its first bytes):
//   INIT     Red, Green, Blue   the colour, read by fx_init, 0..1
//   RUNTIME  Alpha              the opacity, read every frame, 0..1
//   OUTPUT   Opacity            the opacity actually painted last frame
//
// Its OpenGL calls go through the lookup the host hands over.
#include "engine/plugin_api.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

const char Descriptor[] =
    "<EFFECT NAME=\"Flash\" TYPE=\"Painter\" COMPATIBLE=\"1.0\" VERSION=\"1.0\">\n"
    "<DESCRIPTION>Covers the window with a colour of adjustable opacity.</DESCRIPTION>\n"
    "<INIT>\n"
    "<PROPERTY NAME=\"Red\" TYPE=\"FLOAT\" MIN=\"0\" MAX=\"1\">Red share of the colour</PROPERTY>\n"
    "<PROPERTY NAME=\"Green\" TYPE=\"FLOAT\" MIN=\"0\" MAX=\"1\">Green share of the colour</PROPERTY>\n"
    "<PROPERTY NAME=\"Blue\" TYPE=\"FLOAT\" MIN=\"0\" MAX=\"1\">Blue share of the colour</PROPERTY>\n"
    "</INIT>\n"
    "<RUNTIME>\n"
    "<PROPERTY NAME=\"Alpha\" TYPE=\"FLOAT\" MIN=\"0\" MAX=\"1\">Opacity, 0 paints nothing</PROPERTY>\n"
    "</RUNTIME>\n"
    "<OUTPUT>\n"
    "<PROPERTY NAME=\"Opacity\" TYPE=\"FLOAT\" MIN=\"0\" MAX=\"1\">Opacity painted last frame</PROPERTY>\n"
    "</OUTPUT>\n"
    "</EFFECT>\n";

struct TInstance {
    void* Red = nullptr;
    void* Green = nullptr;
    void* Blue = nullptr;
    void* Alpha = nullptr;
    void* Opacity = nullptr;
    float Color[3] = {1, 1, 1};
};

std::vector<TInstance> Instances;

struct TGL {
    void (*PushAttrib)(GLbitfield) = nullptr;
    void (*PopAttrib)() = nullptr;
    void (*Enable)(GLenum) = nullptr;
    void (*Disable)(GLenum) = nullptr;
    void (*BlendFunc)(GLenum, GLenum) = nullptr;
    void (*MatrixMode)(GLenum) = nullptr;
    void (*PushMatrix)() = nullptr;
    void (*PopMatrix)() = nullptr;
    void (*LoadIdentity)() = nullptr;
    void (*Color4f)(GLfloat, GLfloat, GLfloat, GLfloat) = nullptr;
    void (*Rectf)(GLfloat, GLfloat, GLfloat, GLfloat) = nullptr;

    bool Complete() const
    {
        return PushAttrib && PopAttrib && Enable && Disable && BlendFunc && MatrixMode &&
               PushMatrix && PopMatrix && LoadIdentity && Color4f && Rectf;
    }
} GL;

template <class T> void Bind(TFxGLLookup lookup, T& entry, const char* name)
{
    entry = reinterpret_cast<T>(lookup(name));
}

TInstance* Find(int32_t handle)
{
    if (handle < 0 || static_cast<std::size_t>(handle) >= Instances.size())
        return nullptr;
    return &Instances[static_cast<std::size_t>(handle)];
}

// A value the application wrote, limited to 0..1; NaN and no block count as 0.
float Unit(const void* value)
{
    if (!value)
        return 0;
    float f = 0;
    std::memcpy(&f, value, sizeof f);
    if (!(f > 0))
        return 0;
    return f < 1 ? f : 1;
}

void** Slot(TInstance& instance, std::string_view name)
{
    if (name == "Red")
        return &instance.Red;
    if (name == "Green")
        return &instance.Green;
    if (name == "Blue")
        return &instance.Blue;
    if (name == "Alpha")
        return &instance.Alpha;
    if (name == "Opacity")
        return &instance.Opacity;
    return nullptr;
}

void Keep(int32_t handle, const char* name, void* value)
{
    TInstance* instance = Find(handle);
    if (!instance || !name)
        return;
    if (void** slot = Slot(*instance, name))
        *slot = value;
}

} // namespace

extern "C" {

VENDRAKE_FX_EXPORT void fx_setgl(TFxGLLookup lookup)
{
    if (!lookup)
        return;
    Bind(lookup, GL.PushAttrib, "glPushAttrib");
    Bind(lookup, GL.PopAttrib, "glPopAttrib");
    Bind(lookup, GL.Enable, "glEnable");
    Bind(lookup, GL.Disable, "glDisable");
    Bind(lookup, GL.BlendFunc, "glBlendFunc");
    Bind(lookup, GL.MatrixMode, "glMatrixMode");
    Bind(lookup, GL.PushMatrix, "glPushMatrix");
    Bind(lookup, GL.PopMatrix, "glPopMatrix");
    Bind(lookup, GL.LoadIdentity, "glLoadIdentity");
    Bind(lookup, GL.Color4f, "glColor4f");
    Bind(lookup, GL.Rectf, "glRectf");
}

VENDRAKE_FX_EXPORT int32_t fx_create(const char* effectName)
{
    if (!effectName || std::string_view(effectName) != "Flash")
        return -1;
    Instances.emplace_back();
    return static_cast<int32_t>(Instances.size() - 1);
}

VENDRAKE_FX_EXPORT const char* getfxinfo(const char* effectName)
{
    if (!effectName || std::string_view(effectName) != "Flash")
        return nullptr;
    return Descriptor;
}

VENDRAKE_FX_EXPORT void fx_addprop(int32_t handle, const char* name, void* value)
{
    Keep(handle, name, value);
}

VENDRAKE_FX_EXPORT void fx_addoutput(int32_t handle, const char* name, void* value)
{
    Keep(handle, name, value);
}

VENDRAKE_FX_EXPORT void fx_init(int32_t handle, int32_t)
{
    TInstance* instance = Find(handle);
    if (!instance)
        return;
    instance->Color[0] = Unit(instance->Red);
    instance->Color[1] = Unit(instance->Green);
    instance->Color[2] = Unit(instance->Blue);
}

VENDRAKE_FX_EXPORT void fx_render(int32_t handle, float, float)
{
    TInstance* instance = Find(handle);
    if (!instance)
        return;
    const float alpha = Unit(instance->Alpha);
    if (instance->Opacity)
        std::memcpy(instance->Opacity, &alpha, sizeof alpha);
    if (alpha <= 0 || !GL.Complete())
        return;

    // Everything changed here comes back with the attribute and matrix pops.
    GL.PushAttrib(GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT |
                  GL_TRANSFORM_BIT);
    GL.Disable(GL_DEPTH_TEST);
    GL.Disable(GL_LIGHTING);
    GL.Disable(GL_TEXTURE_2D);
    GL.Disable(GL_CULL_FACE);
    GL.Enable(GL_BLEND);
    GL.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    GL.MatrixMode(GL_PROJECTION);
    GL.PushMatrix();
    GL.LoadIdentity();
    GL.MatrixMode(GL_MODELVIEW);
    GL.PushMatrix();
    GL.LoadIdentity();
    GL.Color4f(instance->Color[0], instance->Color[1], instance->Color[2], alpha);
    GL.Rectf(-1, -1, 1, 1);
    GL.PopMatrix();
    GL.MatrixMode(GL_PROJECTION);
    GL.PopMatrix();
    GL.PopAttrib();
}

} // extern "C"
