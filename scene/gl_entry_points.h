#pragma once
// The OpenGL entry-point table. The program never links against OpenGL:
// LoadOpenGL opens the OpenGL and GLU libraries at run time and fills the
// table, ActivateContext binds the extension entry points once a context is
// current, and every OpenGL, GLU and WGL call of the program goes through it:
//
//     gl.glClear(GL_COLOR_BUFFER_BIT);
//     if (gl.glActiveTextureARB) gl.glActiveTextureARB(GL_TEXTURE0_ARB);
//
// The headers below only lend their types and constants; calling the
// functions they declare directly would bypass the table.
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wgl.h"

namespace vendrake {

// One reference per entry point, empty until bound; the list is in
// scene/gl_functions.inc.
struct TGLEntryPoints {
#define VENDRAKE_GL_CORE(result, name, params, args) result(*name) params = nullptr;
#define VENDRAKE_GL_GLU(result, name, params, args) result(*name) params = nullptr;
#define VENDRAKE_GL_WGL(result, name, params, args, target) result(*name) params = nullptr;
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) result(*name) params = nullptr;
#include "scene/gl_functions.inc"
};

// The process-wide table. It has no lock: it is filled on the main thread
// before the render thread starts, and the extension group is rewritten only
// when a context with a different pixel format is activated.
extern TGLEntryPoints gl;

struct TGLVersion {
    int Major = 0;
    int Minor = 0;
};

// What ReadExtensions found. A name counts as present when it occurs anywhere
// in the extension string, so "GL_EXT_texture" is also found inside
// "GL_EXT_texture3D".
struct TGLExtensions {
    TGLVersion GLVersion;   // glGetString(GL_VERSION)
    TGLVersion GLUVersion;  // gluGetString(GLU_VERSION)
    bool ARB_multitexture = false;
    bool NV_vertex_array_range = false;
    bool EXT_texture = false;
    bool EXT_texture3D = false;
    struct {
        bool EXT_TEXTURE = false;
        bool EXT_object_space_tess = false;
        bool EXT_nurbs_tessellator = false;
    } GLU;  // gluGetString(GLU_EXTENSIONS)
};

extern TGLExtensions glExtensions;

// The file actually opened for a library name: "opengl32.dll" and
// "glu32.dll", in any letter case, become the system's libGL and libGLU;
// any other name is used as it is.
std::string NativeLibraryName(std::string_view name);

// Unbinds everything, loads both libraries and binds the OpenGL, GLU and WGL
// references; a name a library does not export leaves its reference empty.
// When either library cannot be loaded, nothing stays loaded or bound and
// the result is false.
bool LoadOpenGL(std::string_view GLName, std::string_view GLUName);
// Why the last LoadOpenGL failed (the library and the loader's message);
// empty after a successful one.
std::string LastOpenGLError();
// Frees both libraries and empties every reference.
void CloseOpenGL();
// For test doubles: while a table is set, LoadOpenGL installs it instead of
// opening the libraries, so code that loads OpenGL itself can be driven by
// the double. Null goes back to the libraries.
void SetOpenGLStandInForTesting(const TGLEntryPoints* table);

// Makes RC current on DC and, when DC's pixel format differs from the one
// of the previous activation, binds the extension group afresh. False, with
// nothing bound or recorded, when the context could not be made current.
bool ActivateContext(HDC DC, HGLRC RC);
void DeactivateContext();
void DestroyContext(HGLRC RC);
// The context ActivateContext last made current on the calling thread, as a
// number of its own: the same on every thread and at every activation, never
// given to another context, even after DestroyContext; 0 while the thread has
// none. GL names belong to the context they were made in, so a node that
// keeps some notes this number and frees them only when it is current again;
// a context that goes takes its names with it.
std::uint64_t CurrentContextId();
// Reads the version and extension strings of the current context into
// glExtensions.
void ReadExtensions();

// Whether `name` occurs in a space-separated extension string as a whole
// word (the rule for binding extension entry points; unlike the plain
// substring test of ReadExtensions).
bool ExtensionListed(std::string_view extensions, std::string_view name);

// Everything the binder keeps besides the two libraries, as a value, so a
// test double can take the driver's place and put the previous state back.
struct TGLBinding {
    TGLEntryPoints EntryPoints;
    TGLExtensions Extensions;
    int ActivePixelFormat = 0;  // of the last activation; 0 forces a rebind
    std::uint64_t CurrentContext = 0;  // CurrentContextId of the calling thread
};
TGLBinding GLBinding();
void SetGLBinding(const TGLBinding& binding);

} // namespace vendrake
