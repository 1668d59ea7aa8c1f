#include "engine/plugin_host.h"

#include "scene/gl_entry_points.h"

#include <string_view>
#include <type_traits>
#include <unordered_map>

namespace vendrake {

namespace {

template <class T> T Nothing()
{
    if constexpr (!std::is_void_v<T>)
        return T{};
}

// One forwarder per table entry: it reads the slot at every call, so a plug-in
// that looked its entries up once still follows a table filled later.
#define VENDRAKE_GL_FORWARD(result, name, params, args)                                           \
    result Forward_##name params                                                                  \
    {                                                                                             \
        if (!gl.name)                                                                             \
            return Nothing<result>();                                                             \
        return gl.name args;                                                                      \
    }
#define VENDRAKE_GL_CORE(result, name, params, args) VENDRAKE_GL_FORWARD(result, name, params, args)
#define VENDRAKE_GL_GLU(result, name, params, args) VENDRAKE_GL_FORWARD(result, name, params, args)
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core)                             \
    VENDRAKE_GL_FORWARD(result, name, params, args)
#include "scene/gl_functions.inc"
#undef VENDRAKE_GL_FORWARD

const std::unordered_map<std::string_view, TFxGLProc>& Forwarders()
{
    static const std::unordered_map<std::string_view, TFxGLProc> forwarders{
#define VENDRAKE_GL_CORE(result, name, params, args)                                              \
    {#name, reinterpret_cast<TFxGLProc>(&Forward_##name)},
#define VENDRAKE_GL_GLU(result, name, params, args)                                               \
    {#name, reinterpret_cast<TFxGLProc>(&Forward_##name)},
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core)                             \
    {#name, reinterpret_cast<TFxGLProc>(&Forward_##name)},
#include "scene/gl_functions.inc"
    };
    return forwarders;
}

} // namespace

TFxGLProc PluginGLLookup(const char* name)
{
    if (!name)
        return nullptr;
    const auto& forwarders = Forwarders();
    const auto found = forwarders.find(name);
    return found == forwarders.end() ? nullptr : found->second;
}

} // namespace vendrake
