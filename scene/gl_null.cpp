#include "scene/gl_null.h"

#include <type_traits>

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace vendrake {

namespace {

template <class R> R Zero()
{
    if constexpr (std::is_void_v<R>)
        return;
    else
        return R{};
}

// One do-nothing function per core and GLU entry point; extensions stay
// unbound, as on a driver that offers none.
#define VENDRAKE_GL_CORE(result, name, params, args) result Null_##name params { return Zero<result>(); }
#define VENDRAKE_GL_GLU(result, name, params, args) result Null_##name params { return Zero<result>(); }
#include "scene/gl_functions.inc"

template <class T> void FirstZero(T* params)
{
    if (params)
        params[0] = T{};
}

const GLubyte EmptyString[] = {0};

} // namespace

TNullGL::TNullGL() : FPrevious(GLBinding())
{
    TGLBinding binding;
#define VENDRAKE_GL_CORE(result, name, params, args) binding.EntryPoints.name = &Null_##name;
#define VENDRAKE_GL_GLU(result, name, params, args) binding.EntryPoints.name = &Null_##name;
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) binding.EntryPoints.name = nullptr;
#include "scene/gl_functions.inc"
    // WGL entries stay empty: there is no window to bind to.
    binding.EntryPoints.glGetBooleanv = [](GLenum, GLboolean* p) { FirstZero(p); };
    binding.EntryPoints.glGetIntegerv = [](GLenum, GLint* p) { FirstZero(p); };
    binding.EntryPoints.glGetFloatv = [](GLenum, GLfloat* p) { FirstZero(p); };
    binding.EntryPoints.glGetDoublev = [](GLenum, GLdouble* p) { FirstZero(p); };
    binding.EntryPoints.glGetString = [](GLenum) -> const GLubyte* { return EmptyString; };
    binding.EntryPoints.gluGetString = [](GLenum) -> const GLubyte* { return EmptyString; };
    SetGLBinding(binding);
}

TNullGL::~TNullGL()
{
    SetGLBinding(FPrevious);
}

} // namespace vendrake
