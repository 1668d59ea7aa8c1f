#pragma once
// OpenGL 1.x for the web: the program's entry-point table filled with an
// emulation of the fixed-function calls its painting makes, drawn through
// WebGL 2. State follows OpenGL's rules (attribute and matrix stacks, colour
// material, texture environments per unit, client arrays); what WebGL lacks
// (polygon mode, wide lines, GL_CLAMP's border) is made on the way.
#include <string>

namespace vendrake::web {

// Makes the WebGL 2 context on the canvas (a CSS selector) and installs the
// emulation as the process's OpenGL. Empty on success, else why not.
std::string InstallFixedFunctionGL(const char* canvas);

} // namespace vendrake::web
