#include "tests/support/gl_recorder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

namespace vendrake {

namespace gl_recording {

namespace {

template <class T>
std::string Shortest(T value) {
    if (std::isnan(value))
        return "nan";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool ConsumePrefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

// glVertex3fv, glColor4ubv, glMultiTexCoord2fvARB, glRectfv, glEdgeFlagv...:
// the count is the digit in the name, or fixed for the families without one.
int CountFromName(std::string_view name) {
    if (!ConsumePrefix(name, "gl"))
        return -1;
    for (const std::string_view suffix : {"ARB", "EXT"}) {
        if (name.ends_with(suffix)) {
            name.remove_suffix(suffix.size());
            break;
        }
    }
    if (!name.ends_with('v'))
        return -1;
    name.remove_suffix(1);

    struct TFamily {
        std::string_view Name;
        int Count;  // 0: the digit after the name gives it
    };
    static constexpr TFamily Families[] = {
        {"MultiTexCoord", 0}, {"SecondaryColor", 0}, {"TexCoord", 0}, {"RasterPos", 0},
        {"EvalCoord", 0},     {"Vertex", 0},         {"Normal", 0},   {"Color", 0},
        {"Index", 1},         {"EdgeFlag", 1},       {"FogCoord", 1}, {"Rect", 2},
    };
    for (const auto& family : Families) {
        std::string_view rest = name;
        if (!ConsumePrefix(rest, family.Name))
            continue;
        int count = family.Count;
        if (count == 0) {
            if (rest.empty() || rest[0] < '1' || rest[0] > '4')
                continue;
            count = rest[0] - '0';
            rest.remove_prefix(1);
        }
        static constexpr std::string_view Types[] = {"", "b", "s", "i", "f", "d", "ub", "us", "ui"};
        if (std::ranges::find(Types, rest) != std::end(Types))
            return count;
    }
    return -1;
}

int CountFromPname(std::string_view name, long long pname) {
    const auto is = [&](std::initializer_list<std::string_view> names) {
        return std::ranges::find(names, name) != names.end();
    };
    const auto among = [&](std::initializer_list<GLenum> names) {
        return std::ranges::find(names, pname) != names.end();
    };
    if (is({"glLightfv", "glLightiv"})) {
        if (among({GL_AMBIENT, GL_DIFFUSE, GL_SPECULAR, GL_POSITION}))
            return 4;
        return pname == GL_SPOT_DIRECTION ? 3 : 1;
    }
    if (is({"glMaterialfv", "glMaterialiv"})) {
        if (among({GL_AMBIENT, GL_DIFFUSE, GL_SPECULAR, GL_EMISSION, GL_AMBIENT_AND_DIFFUSE}))
            return 4;
        return pname == GL_COLOR_INDEXES ? 3 : 1;
    }
    if (is({"glLightModelfv", "glLightModeliv"}))
        return pname == GL_LIGHT_MODEL_AMBIENT ? 4 : 1;
    if (is({"glTexEnvfv", "glTexEnviv"}))
        return pname == GL_TEXTURE_ENV_COLOR ? 4 : 1;
    if (is({"glTexParameterfv", "glTexParameteriv"}))
        return pname == GL_TEXTURE_BORDER_COLOR ? 4 : 1;
    if (is({"glFogfv", "glFogiv"}))
        return pname == GL_FOG_COLOR ? 4 : 1;
    if (is({"glTexGenfv", "glTexGeniv", "glTexGendv"}))
        return among({GL_OBJECT_PLANE, GL_EYE_PLANE}) ? 4 : 1;
    if (is({"glPointParameterfvEXT"}))
        return pname == GL_DISTANCE_ATTENUATION_EXT ? 3 : 1;
    return -1;
}

} // namespace

std::string FormatFloat(float value) { return Shortest(value); }

std::string FormatDouble(double value) {
    const bool fitsFloat = std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max();
    if (fitsFloat && static_cast<double>(static_cast<float>(value)) == value)
        return Shortest(static_cast<float>(value));
    return Shortest(value);
}

int ValueCount(std::string_view function, long long previousInteger) {
    if (function == "glLoadMatrixf" || function == "glLoadMatrixd" || function == "glMultMatrixf" ||
        function == "glMultMatrixd")
        return 16;
    if (function == "glClipPlane")
        return 4;
    if (function == "glDeleteTextures" || function == "glDeleteTexturesEXT" || function == "glPrioritizeTextures" ||
        function == "glPrioritizeTexturesEXT")
        return previousInteger >= 0 ? static_cast<int>(std::min(previousInteger, 1LL << 20)) : -1;
    if (const int count = CountFromName(function); count >= 0)
        return count;
    return CountFromPname(function, previousInteger);
}

} // namespace gl_recording

using gl_recording::TCallLine;

struct TGLRecorder::TState {
    std::mutex Lock;
    std::vector<std::string> Log;
    std::map<GLenum, std::string> Strings;
    std::map<GLenum, std::string> GLUStrings;
    std::map<GLenum, std::vector<GLboolean>> Booleans;
    std::map<GLenum, std::vector<GLint>> Integers;
    std::map<GLenum, std::vector<GLfloat>> Floats;
    std::deque<GLenum> Errors;
    std::vector<PIXELFORMATDESCRIPTOR> PixelFormats;
    int PixelFormat = 0;
    bool FailSetPixelFormat = false;
    bool FailMakeCurrent = false;
    GLuint NextList = 1;
    GLuint NextTexture = 1;
    std::set<std::string, std::less<>> Provided;
    bool ProvideAnyName = false;

    void Append(std::string line) {
        std::lock_guard guard(Lock);
        Log.push_back(std::move(line));
    }
};

namespace {

std::mutex ActiveLock;
TGLRecorder::TState* Active = nullptr;

TGLRecorder::TState& State() {
    std::lock_guard guard(ActiveLock);
    if (!Active)
        throw std::logic_error("a recording GL function was called with no recorder installed");
    return *Active;
}

// Logs a call and answers it with a default value: used for every entry
// point that has no answer of its own below.
template <class R>
struct TRecord {
    const char* Function;

    template <class... A>
    R operator()(A... args) const {
        State().Append(RecordedCall(Function, args...));
        if constexpr (!std::is_void_v<R>)
            return R{};
    }
};

#define VENDRAKE_GL_CORE(result, name, params, args) \
    result Rec_##name params { return TRecord<result>{#name} args; }
#define VENDRAKE_GL_GLU(result, name, params, args) \
    result Rec_##name params { return TRecord<result>{#name} args; }
#define VENDRAKE_GL_WGL(result, name, params, args, target) \
    result Rec_##name params { return TRecord<result>{#name} args; }
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) \
    result Rec_##name params { return TRecord<result>{#name} args; }
#include "scene/gl_functions.inc"

// Queries answered from what the test set.

template <class T>
std::vector<T> Answer(const std::map<GLenum, std::vector<T>>& answers, GLenum pname) {
    const auto found = answers.find(pname);
    return found != answers.end() && !found->second.empty() ? found->second : std::vector<T>{T{}};
}

template <class T, class Stored>
void WriteBack(const char* function, GLenum pname, T* params, const std::vector<Stored>& values) {
    std::vector<T> written(values.begin(), values.end());
    if (params)
        std::copy(written.begin(), written.end(), params);
    TCallLine line(function);
    line.Add(pname);
    line.Add(written);
    State().Append(line.Take());
}

void GetBooleanv(GLenum pname, GLboolean* params) {
    auto& state = State();
    std::unique_lock guard(state.Lock);
    auto values = Answer(state.Booleans, pname);
    guard.unlock();
    WriteBack("glGetBooleanv", pname, params, values);
}

void GetIntegerv(GLenum pname, GLint* params) {
    auto& state = State();
    std::unique_lock guard(state.Lock);
    auto values = Answer(state.Integers, pname);
    guard.unlock();
    WriteBack("glGetIntegerv", pname, params, values);
}

void GetFloatv(GLenum pname, GLfloat* params) {
    auto& state = State();
    std::unique_lock guard(state.Lock);
    auto values = Answer(state.Floats, pname);
    guard.unlock();
    WriteBack("glGetFloatv", pname, params, values);
}

void GetDoublev(GLenum pname, GLdouble* params) {
    auto& state = State();
    std::unique_lock guard(state.Lock);
    auto values = Answer(state.Floats, pname);
    guard.unlock();
    WriteBack("glGetDoublev", pname, params, values);
}

GLboolean IsEnabled(GLenum cap) {
    auto& state = State();
    state.Append(RecordedCall("glIsEnabled", cap));
    std::lock_guard guard(state.Lock);
    return Answer(state.Booleans, cap).front();
}

const GLubyte* StringAnswer(const char* function, const std::map<GLenum, std::string> TGLRecorder::TState::*strings,
                            GLenum name) {
    auto& state = State();
    state.Append(RecordedCall(function, name));
    std::lock_guard guard(state.Lock);
    const auto& answers = state.*strings;
    const auto found = answers.find(name);
    return found == answers.end() ? nullptr : reinterpret_cast<const GLubyte*>(found->second.c_str());
}

const GLubyte* GetString(GLenum name) { return StringAnswer("glGetString", &TGLRecorder::TState::Strings, name); }

const GLubyte* GLUGetString(GLenum name) {
    return StringAnswer("gluGetString", &TGLRecorder::TState::GLUStrings, name);
}

GLenum GetError() {
    auto& state = State();
    state.Append("glGetError()");
    std::lock_guard guard(state.Lock);
    if (state.Errors.empty())
        return GL_NO_ERROR;
    const GLenum error = state.Errors.front();
    state.Errors.pop_front();
    return error;
}

GLuint GenLists(GLsizei range) {
    auto& state = State();
    state.Append(RecordedCall("glGenLists", range));
    std::lock_guard guard(state.Lock);
    if (range <= 0)
        return 0;
    const GLuint first = state.NextList;
    state.NextList += static_cast<GLuint>(range);
    return first;
}

void GenTextures(GLsizei n, GLuint* textures) {
    auto& state = State();
    std::vector<GLuint> names;
    {
        std::lock_guard guard(state.Lock);
        for (GLsizei i = 0; i < n; ++i)
            names.push_back(state.NextTexture++);
    }
    if (textures)
        std::copy(names.begin(), names.end(), textures);
    state.Append(RecordedCall("glGenTextures", n, names));
}

int DescribeFormat(const char* function, HDC dc, int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd) {
    auto& state = State();
    state.Append(RecordedCall(function, dc, index, size, pfd));
    std::lock_guard guard(state.Lock);
    const int count = static_cast<int>(state.PixelFormats.size());
    if (pfd && index >= 1 && index <= count)
        std::memcpy(pfd, &state.PixelFormats[static_cast<std::size_t>(index - 1)],
                    std::min<std::size_t>(size, sizeof(PIXELFORMATDESCRIPTOR)));
    return count;
}

int WglDescribePixelFormat(HDC dc, int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd) {
    return DescribeFormat("wglDescribePixelFormat", dc, index, size, pfd);
}

int DescribePixelFormat(HDC dc, int index, unsigned size, PIXELFORMATDESCRIPTOR* pfd) {
    return DescribeFormat("DescribePixelFormat", dc, index, size, pfd);
}

int WglGetPixelFormat(HDC dc) {
    auto& state = State();
    state.Append(RecordedCall("wglGetPixelFormat", dc));
    std::lock_guard guard(state.Lock);
    return state.PixelFormat;
}

bool SetPixelFormat(HDC dc, int index, const PIXELFORMATDESCRIPTOR* pfd) {
    auto& state = State();
    state.Append(RecordedCall("SetPixelFormat", dc, index, pfd));
    std::lock_guard guard(state.Lock);
    if (state.FailSetPixelFormat)
        return false;
    state.PixelFormat = index;
    return true;
}

HGLRC WglCreateContext(HDC dc) {
    State().Append(RecordedCall("wglCreateContext", dc));
    return TGLRecorder::Context();
}

bool WglMakeCurrent(HDC dc, HGLRC context) {
    auto& state = State();
    state.Append(RecordedCall("wglMakeCurrent", dc, context));
    std::lock_guard guard(state.Lock);
    return !(context && state.FailMakeCurrent);
}

bool WglDeleteContext(HGLRC context) {
    State().Append(RecordedCall("wglDeleteContext", context));
    return true;
}

bool WglSwapBuffers(HDC dc) {
    State().Append(RecordedCall("wglSwapBuffers", dc));
    return true;
}

// What an unknown name resolves to when every name is answered.
void DispatchStub() {}

struct TExtensionFunction {
    std::string_view Name;
    PROC Address;
    void (*Bind)(TGLEntryPoints& table);
};

const TExtensionFunction ExtensionFunctions[] = {
#define VENDRAKE_GL_EXT(result, name, params, args, extension, core) \
    {#name, reinterpret_cast<PROC>(&Rec_##name), [](TGLEntryPoints& table) { table.name = &Rec_##name; }},
#include "scene/gl_functions.inc"
};

const TExtensionFunction* FindExtensionFunction(std::string_view name) {
    const auto found = std::ranges::find(ExtensionFunctions, name, &TExtensionFunction::Name);
    return found == std::end(ExtensionFunctions) ? nullptr : found;
}

PROC WglGetProcAddress(const char* name) {
    if (!name)
        return nullptr;
    auto& state = State();
    std::lock_guard guard(state.Lock);
    const TExtensionFunction* function = FindExtensionFunction(name);
    if (state.ProvideAnyName)
        return function ? function->Address : &DispatchStub;
    return function && state.Provided.contains(function->Name) ? function->Address : nullptr;
}

TGLEntryPoints RecordingTable() {
    TGLEntryPoints table;
#define VENDRAKE_GL_CORE(result, name, params, args) table.name = &Rec_##name;
#define VENDRAKE_GL_GLU(result, name, params, args) table.name = &Rec_##name;
#define VENDRAKE_GL_WGL(result, name, params, args, target) table.name = &Rec_##name;
#include "scene/gl_functions.inc"
    table.glGetBooleanv = &GetBooleanv;
    table.glGetIntegerv = &GetIntegerv;
    table.glGetFloatv = &GetFloatv;
    table.glGetDoublev = &GetDoublev;
    table.glIsEnabled = &IsEnabled;
    table.glGetString = &GetString;
    table.gluGetString = &GLUGetString;
    table.glGetError = &GetError;
    table.glGenLists = &GenLists;
    table.glGenTextures = &GenTextures;
    table.wglDescribePixelFormat = &WglDescribePixelFormat;
    table.DescribePixelFormat = &DescribePixelFormat;
    table.wglGetPixelFormat = &WglGetPixelFormat;
    table.SetPixelFormat = &SetPixelFormat;
    table.wglCreateContext = &WglCreateContext;
    table.wglMakeCurrent = &WglMakeCurrent;
    table.wglDeleteContext = &WglDeleteContext;
    table.wglSwapBuffers = &WglSwapBuffers;
    table.wglGetProcAddress = &WglGetProcAddress;
    return table;
}

} // namespace

TGLRecorder::TGLRecorder() : FState(std::make_unique<TState>()), FPrevious(GLBinding()) {
    {
        std::lock_guard guard(ActiveLock);
        FOuter = std::exchange(Active, FState.get());
    }
    TGLBinding binding;
    binding.EntryPoints = RecordingTable();
    SetGLBinding(binding);
}

TGLRecorder::~TGLRecorder() {
    if (FStandIn)
        SetOpenGLStandInForTesting(nullptr);
    SetGLBinding(FPrevious);
    std::lock_guard guard(ActiveLock);
    Active = FOuter;
}

std::vector<std::string> TGLRecorder::Log() const {
    std::lock_guard guard(FState->Lock);
    return FState->Log;
}

void TGLRecorder::ClearLog() {
    std::lock_guard guard(FState->Lock);
    FState->Log.clear();
}

void TGLRecorder::SetString(GLenum name, std::string value) {
    std::lock_guard guard(FState->Lock);
    FState->Strings[name] = std::move(value);
}

void TGLRecorder::SetGLUString(GLenum name, std::string value) {
    std::lock_guard guard(FState->Lock);
    FState->GLUStrings[name] = std::move(value);
}

void TGLRecorder::SetBooleans(GLenum pname, std::vector<GLboolean> values) {
    std::lock_guard guard(FState->Lock);
    FState->Booleans[pname] = std::move(values);
}

void TGLRecorder::SetIntegers(GLenum pname, std::vector<GLint> values) {
    std::lock_guard guard(FState->Lock);
    FState->Integers[pname] = std::move(values);
}

void TGLRecorder::SetFloats(GLenum pname, std::vector<GLfloat> values) {
    std::lock_guard guard(FState->Lock);
    FState->Floats[pname] = std::move(values);
}

void TGLRecorder::PushError(GLenum error) {
    std::lock_guard guard(FState->Lock);
    FState->Errors.push_back(error);
}

void TGLRecorder::SetPixelFormats(std::vector<PIXELFORMATDESCRIPTOR> formats) {
    std::lock_guard guard(FState->Lock);
    FState->PixelFormats = std::move(formats);
}

void TGLRecorder::SetPixelFormat(int format) {
    std::lock_guard guard(FState->Lock);
    FState->PixelFormat = format;
}

void TGLRecorder::FailSetPixelFormat(bool fail) {
    std::lock_guard guard(FState->Lock);
    FState->FailSetPixelFormat = fail;
}

void TGLRecorder::FailMakeCurrent(bool fail) {
    std::lock_guard guard(FState->Lock);
    FState->FailMakeCurrent = fail;
}

void TGLRecorder::StandInForLibraries() {
    FStandIn = std::make_unique<TGLEntryPoints>(RecordingTable());
    SetOpenGLStandInForTesting(FStandIn.get());
}

void TGLRecorder::Provide(std::initializer_list<std::string_view> names) {
    for (const auto name : names) {
        const TExtensionFunction* function = FindExtensionFunction(name);
        if (!function)
            throw std::invalid_argument("not an extension entry point: " + std::string(name));
        function->Bind(gl);
        std::lock_guard guard(FState->Lock);
        FState->Provided.emplace(name);
    }
}

void TGLRecorder::ProvideAnyName(bool on) {
    std::lock_guard guard(FState->Lock);
    FState->ProvideAnyName = on;
}

HGLRC TGLRecorder::Context() {
    static char token;
    return reinterpret_cast<HGLRC>(&token);
}

} // namespace vendrake
