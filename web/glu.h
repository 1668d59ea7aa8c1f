#pragma once
// The GLU calls the program's painting makes, for the web build, where no
// GLU library exists: made the way the desktop's GLU makes them and sent on
// through the OpenGL table.
#include "scene/gl_entry_points.h"

namespace vendrake::web {

void Perspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);
// Scales the image to the nearest powers of two, then uploads it and each
// halving down to 1 by 1 as mipmap levels. 0, or a GLU error code.
GLint Build2DMipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height, GLenum format, GLenum type,
                     const void* data);

} // namespace vendrake::web
