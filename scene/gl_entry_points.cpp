#include "scene/gl_entry_points.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dynamic_library.h"

namespace vendrake {

TGLEntryPoints gl;
TGLExtensions glExtensions;

namespace {

// Plain handles, not owners: nothing unloads the driver from a static
// destructor while a render thread may still be inside it at exit.
HMODULE GLLibrary = nullptr;
HMODULE GLULibrary = nullptr;
int ActivePixelFormat = 0;
std::string LoadError;
const TGLEntryPoints* StandIn = nullptr;

// Numbers for the contexts activated so far; a handle the window system
// hands out again after DestroyContext gets a new one.
std::mutex ContextIdsLock;
std::vector<std::pair<HGLRC, std::uint64_t>> ContextIds;
std::uint64_t LastContextId = 0;
thread_local std::uint64_t ThreadContext = 0;

std::uint64_t IdOf(HGLRC RC) {
    const std::lock_guard lock(ContextIdsLock);
    for (const auto& [context, id] : ContextIds)
        if (context == RC)
            return id;
    ContextIds.emplace_back(RC, ++LastContextId);
    return LastContextId;
}

template <class Function>
void Assign(Function& reference, FARPROC address) {
    reference = reinterpret_cast<Function>(address);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

std::string_view Text(const GLubyte* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits as a number, saturating rather than overflowing on nonsense.
int Number(std::string_view digits) {
    int value = 0;
    for (const char c : digits)
        value = std::min(value * 10 + (c - '0'), 99999);
    return value;
}

// "major.minor" from the digits on either side of the first dot.
TGLVersion ParseVersion(std::string_view text) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos)
        return {};
    auto begin = dot;
    while (begin > 0 && IsDigit(text[begin - 1]))
        --begin;
    auto end = dot + 1;
    while (end < text.size() && IsDigit(text[end]))
        ++end;
    return {Number(text.substr(begin, dot - begin)), Number(text.substr(dot + 1, end - dot - 1))};
}

bool AtLeast(TGLVersion version, int core) {
    if (core == 0)
        return false;
    return version.Major > core / 10 || (version.Major == core / 10 && version.Minor >= core % 10);
}

void ClearExtensionGroup() {
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) gl.name = nullptr;
#include "scene/gl_functions.inc"
    ActivePixelFormat = 0;
}

// Drivers such as Mesa hand out a dispatch stub for any name that starts
// with "gl", so an address alone proves nothing: an entry point counts only
// when its extension is listed or the context's version has it in its core.
void BindExtensionGroup() {
    ClearExtensionGroup();
    if (!gl.wglGetProcAddress || !gl.glGetString)
        return;
    const std::string_view extensions = Text(gl.glGetString(GL_EXTENSIONS));
    const TGLVersion version = ParseVersion(Text(gl.glGetString(GL_VERSION)));
    const auto provided = [&](std::string_view extension, int core) {
        return ExtensionListed(extensions, extension) || AtLeast(version, core);
    };
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) \
    if (provided(extension, core))                                    \
        Assign(gl.name, gl.wglGetProcAddress(#name));
#include "scene/gl_functions.inc"
}

void BindLibraryGroups() {
#define VENDRAKE_GL_CORE(result, name, params, args) Assign(gl.name, GetProcAddress(GLLibrary, #name));
#define VENDRAKE_GL_GLU(result, name, params, args) Assign(gl.name, GetProcAddress(GLULibrary, #name));
#define VENDRAKE_GL_WGL(result, name, params, args, target) gl.name = &target;
#include "scene/gl_functions.inc"
}

std::string LoadFailure(const char* what, const std::string& file) {
    return std::string(what) + " library \"" + file + "\" cannot be loaded: " + LastLibraryError();
}

} // namespace

void SetOpenGLStandInForTesting(const TGLEntryPoints* table) { StandIn = table; }

std::string NativeLibraryName(std::string_view name) {
    if (EqualNoCase(name, "opengl32.dll"))
        return "libGL.so.1";
    if (EqualNoCase(name, "glu32.dll"))
        return "libGLU.so.1";
    return std::string(name);
}

bool LoadOpenGL(std::string_view GLName, std::string_view GLUName) {
    CloseOpenGL();
    LoadError.clear();
    if (StandIn) {
        gl = *StandIn;
        return true;
    }
    // dlopen never shows a dialog, so there is no error mode to set and restore.
    const std::string glFile = NativeLibraryName(GLName);
    const std::string gluFile = NativeLibraryName(GLUName);
    TDynamicLibrary glLibrary(glFile.c_str());
    if (!glLibrary.Loaded())
        LoadError = LoadFailure("OpenGL", glFile);
    TDynamicLibrary gluLibrary(gluFile.c_str());
    if (!gluLibrary.Loaded())
        LoadError += (LoadError.empty() ? "" : "; ") + LoadFailure("GLU", gluFile);
    if (!glLibrary.Loaded() || !gluLibrary.Loaded())
        return false;  // whichever did load is freed on the way out
    GLLibrary = glLibrary.Release();
    GLULibrary = gluLibrary.Release();
    BindLibraryGroups();
    return true;
}

std::string LastOpenGLError() { return LoadError; }

void CloseOpenGL() {
    FreeLibrary(GLULibrary);
    FreeLibrary(GLLibrary);
    GLULibrary = nullptr;
    GLLibrary = nullptr;
    gl = TGLEntryPoints{};
    ClearExtensionGroup();
}

bool ActivateContext(HDC DC, HGLRC RC) {
    // After a failure no context is known to be current: nothing is freed
    // in one that might not be.
    ThreadContext = 0;
    if (!gl.wglGetPixelFormat || !gl.wglMakeCurrent)
        return false;  // nothing loaded: there is no context to make current
    const int pixelFormat = gl.wglGetPixelFormat(DC);
    // Without a current context the driver's strings are empty: binding now
    // would switch every extension off until the pixel format changed.
    if (!gl.wglMakeCurrent(DC, RC))
        return false;
    if (pixelFormat != ActivePixelFormat) {
        BindExtensionGroup();
        ActivePixelFormat = pixelFormat;
    }
    ThreadContext = RC ? IdOf(RC) : 0;
    return true;
}

void DeactivateContext() {
    ThreadContext = 0;
    if (gl.wglMakeCurrent)
        gl.wglMakeCurrent(nullptr, nullptr);
}

void DestroyContext(HGLRC RC) {
    if (!RC)
        return;
    {
        const std::lock_guard lock(ContextIdsLock);
        const auto known = std::ranges::find(ContextIds, RC, &std::pair<HGLRC, std::uint64_t>::first);
        if (known != ContextIds.end()) {
            // Deleting the calling thread's context releases it first.
            if (known->second == ThreadContext)
                ThreadContext = 0;
            ContextIds.erase(known);
        }
    }
    if (gl.wglDeleteContext)
        gl.wglDeleteContext(RC);
}

std::uint64_t CurrentContextId() { return ThreadContext; }

void ReadExtensions() {
    const auto glString = [](GLenum name) {
        return gl.glGetString ? Text(gl.glGetString(name)) : std::string_view();
    };
    const auto gluString = [](GLenum name) {
        return gl.gluGetString ? Text(gl.gluGetString(name)) : std::string_view();
    };
    glExtensions.GLVersion = ParseVersion(glString(GL_VERSION));
    glExtensions.GLUVersion = ParseVersion(gluString(GLU_VERSION));

    const std::string_view extensions = glString(GL_EXTENSIONS);
    const auto has = [&](std::string_view name) { return extensions.find(name) != std::string_view::npos; };
    glExtensions.ARB_multitexture = has("GL_ARB_multitexture");
    glExtensions.NV_vertex_array_range = has("GL_NV_vertex_array_range");
    glExtensions.EXT_texture = has("GL_EXT_texture");
    glExtensions.EXT_texture3D = has("GL_EXT_texture3D");

    const std::string_view gluExtensions = gluString(GLU_EXTENSIONS);
    const auto gluHas = [&](std::string_view name) { return gluExtensions.find(name) != std::string_view::npos; };
    glExtensions.GLU.EXT_TEXTURE = gluHas("GLU_EXT_TEXTURE");
    glExtensions.GLU.EXT_object_space_tess = gluHas("GLU_EXT_object_space_tess");
    glExtensions.GLU.EXT_nurbs_tessellator = gluHas("GLU_EXT_nurbs_tessellator");
}

bool ExtensionListed(std::string_view extensions, std::string_view name) {
    if (name.empty())
        return false;
    for (auto at = extensions.find(name); at != std::string_view::npos; at = extensions.find(name, at + 1)) {
        const auto end = at + name.size();
        const bool startsWord = at == 0 || extensions[at - 1] == ' ';
        const bool endsWord = end == extensions.size() || extensions[end] == ' ';
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

TGLBinding GLBinding() { return {gl, glExtensions, ActivePixelFormat, ThreadContext}; }

void SetGLBinding(const TGLBinding& binding) {
    gl = binding.EntryPoints;
    glExtensions = binding.Extensions;
    ActivePixelFormat = binding.ActivePixelFormat;
    ThreadContext = binding.CurrentContext;
}

} // namespace vendrake
