// A plug-in that logs every call the host makes, read back through
// "probe_log". Built several times with exports left out:
//   PROBE_NO_CREATE        no "fx_create"
//   PROBE_GETINFO_ONLY     "getinfo" but no "getfxinfo"
//   PROBE_NO_ADDOUTPUT     "fx_addprop" but no "fx_addoutput"
//   PROBE_NEGATIVE_HANDLE  "fx_create" answers -1
// Effects named "AtLimit" and "OverLimit" get a descriptor of FX_MAX_DESCRIPTOR
// bytes and of one byte more.
#include "engine/plugin_api.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

std::string Log;

__attribute__((format(printf, 1, 2))) void Append(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Log += line;
    Log += '\n';
}

const char Descriptor[] =
    "<EFFECT NAME=\"Probe\" TYPE=\"Probe\" COMPATIBLE=\"1\" VERSION=\"1\"><DESCRIPTION/>"
    "<INIT><PROPERTY NAME=\"Speed\" TYPE=\"FLOAT\" MIN=\"0.5\" MAX=\"10\"/></INIT>"
    "<RUNTIME><PROPERTY NAME=\"Count\" TYPE=\"INT\" MIN=\"-5\" MAX=\"5\"/></RUNTIME>"
    "<OUTPUT><PROPERTY NAME=\"Level\" TYPE=\"FLOAT\"/></OUTPUT></EFFECT>";

} // namespace

extern "C" {

VENDRAKE_FX_EXPORT const char* probe_log() { return Log.c_str(); }
VENDRAKE_FX_EXPORT void probe_reset() { Log.clear(); }

VENDRAKE_FX_EXPORT void fx_setgl(TFxGLLookup lookup)
{
    Append("fx_setgl(%s)", lookup && lookup("glClear") ? "lookup" : "null");
}

#ifndef PROBE_NO_CREATE
VENDRAKE_FX_EXPORT int32_t fx_create(const char* effectName)
{
    Append("fx_create(%s)", effectName);
#ifdef PROBE_NEGATIVE_HANDLE
    return -1;
#else
    return 7;
#endif
}
#endif

// Next to "getfxinfo" it answers another type, so a test sees which was read.
VENDRAKE_FX_EXPORT const char* getinfo(const char*)
{
    Append("getinfo");
#ifdef PROBE_GETINFO_ONLY
    return Descriptor;
#else
    return "<EFFECT TYPE=\"Painter\"/>";
#endif
}

#ifndef PROBE_GETINFO_ONLY
VENDRAKE_FX_EXPORT const char* getfxinfo(const char* effectName)
{
    Append("getfxinfo(%s)", effectName);
    static std::string padded;
    const std::string_view name = effectName;
    if (name == "AtLimit" || name == "OverLimit") {
        padded = "<EFFECT TYPE=\"Painter\"/>";
        padded.resize(FX_MAX_DESCRIPTOR + (name == "OverLimit" ? 1 : 0), ' ');
        return padded.c_str();
    }
    return Descriptor;
}
#endif

VENDRAKE_FX_EXPORT void fx_init(int32_t handle, int32_t reserved)
{
    Append("fx_init(%d, %d)", handle, reserved);
}

VENDRAKE_FX_EXPORT void fx_render(int32_t handle, float time, float delta)
{
    Append("fx_render(%d, %g, %g)", handle, double(time), double(delta));
}

VENDRAKE_FX_EXPORT void fx_addprop(int32_t handle, const char* name, void* value)
{
    Append("fx_addprop(%d, %s, %p)", handle, name, value);
}

#ifndef PROBE_NO_ADDOUTPUT
VENDRAKE_FX_EXPORT void fx_addoutput(int32_t handle, const char* name, void* value)
{
    Append("fx_addoutput(%d, %s, %p)", handle, name, value);
}
#endif

VENDRAKE_FX_EXPORT void fx_start(int32_t handle) { Append("fx_start(%d)", handle); }
VENDRAKE_FX_EXPORT void fx_dispose(int32_t handle) { Append("fx_dispose(%d)", handle); }

} // extern "C"
