#pragma once
// What the host hands to plug-ins besides the entry-point calls themselves.
#include "engine/plugin_api.h"

namespace vendrake {

// The OpenGL lookup given to every plug-in through "fx_setgl". For an OpenGL
// or GLU function of the entry-point table it returns an entry that forwards
// each call to the table as it is at the time of the call, so plug-in calls
// take the same road as the host's own (and a recording double sees them).
// An entry whose table slot is empty does nothing and returns 0. Null for a
// name the table does not have, and for the window-system functions, which
// belong to the host alone.
TFxGLProc PluginGLLookup(const char* name);

} // namespace vendrake
