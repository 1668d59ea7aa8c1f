#pragma once
// A GL table whose functions do nothing, for loading and walking scenes where
// no context exists (command-line tools, fuzzers). Queries answer zero:
// glGet* write 0 to their first value, glGetString answers "", glGen*
// hand out nothing.
#include "scene/gl_entry_points.h"

namespace vendrake {

// Installs the null table for its lifetime and puts the previous one back.
class TNullGL {
public:
    TNullGL();
    ~TNullGL();
    TNullGL(const TNullGL&) = delete;
    TNullGL& operator=(const TNullGL&) = delete;

private:
    TGLBinding FPrevious;
};

} // namespace vendrake
