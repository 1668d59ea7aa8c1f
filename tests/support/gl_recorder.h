#pragma once
// A recording stand-in for the OpenGL driver. Constructing a TGLRecorder
// fills the entry-point table with functions that log every call as one line
// and answer queries from values the test sets; destroying it puts back the
// table, extension flags and activation state it replaced.
//
//     TGLRecorder recorder;
//     recorder.SetIntegers(GL_MAX_LIGHTS, {8});
//     node.Action();
//     EXPECT_EQ(recorder.Log(), (std::vector<std::string>{
//         "glPushMatrix()", "glGetIntegerv(3377, {8})", ...}));
//
// Line format, meant for exact comparison:
// - `name(arg, arg, ...)`, arguments separated by ", ".
// - Integers, enums, bitfields and GLboolean in decimal: glEnable(2929).
// - float in the shortest form that reads back as the same float (0.2, 1000,
//   1.3333334, 1e-05, inf, nan). A double that holds a float value exactly
//   prints as that float; any other double in the shortest form that reads
//   back as the same double (1.3333333333333333).
// - Arrays whose length the call fixes print their values in braces:
//   glLightfv(16384, 4611, {0, 0, 1, 0}). This covers glLight, glMaterial,
//   glLightModel, glTexEnv, glTexParameter, glFog and glTexGen by their
//   pname; the glVertex, glColor, glNormal, glTexCoord, glMultiTexCoord,
//   glRasterPos, glRect, glIndex, glEdgeFlag families by their name; the
//   16 values of glLoadMatrix and glMultMatrix, the 4 of glClipPlane, and
//   the n names of glDeleteTextures.
// - Values a query writes back print the same way: glGetIntegerv(3377, {8}),
//   glGenTextures(2, {1, 2}).
// - Any other pointer prints as `ptr`, a null one as `null`; a const char*
//   prints quoted.
// - wglGetProcAddress is answered but not logged. Extension binding on an
//   activation shows as its glGetString queries.
//
// One recorder is active at a time; a nested one takes over and hands the
// table back to the outer one when it goes. Loading or closing the real
// libraries while a recorder is installed is not supported.
#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "scene/gl_entry_points.h"

namespace vendrake {

namespace gl_recording {

std::string FormatFloat(float value);
std::string FormatDouble(double value);
// How many values a call reads through a const pointer argument, from the
// function's name and the integer argument just before the pointer (its
// pname or count); -1 when unknown, and the pointer prints as a token.
int ValueCount(std::string_view function, long long previousInteger);

template <class T>
std::string FormatScalar(T value) {
    if constexpr (std::is_same_v<T, float>)
        return FormatFloat(value);
    else if constexpr (std::is_same_v<T, double>)
        return FormatDouble(value);
    else if constexpr (std::is_signed_v<T>)
        return std::to_string(static_cast<long long>(value));
    else
        return std::to_string(static_cast<unsigned long long>(value));
}

template <class T>
std::string FormatValues(const T* values, std::size_t count) {
    std::string text = "{";
    for (std::size_t i = 0; i < count; ++i)
        text += (i ? ", " : "") + FormatScalar(values[i]);
    return text + "}";
}

template <class T>
struct IsSequence : std::false_type {};
template <class T>
struct IsSequence<std::vector<T>> : std::true_type {};
template <class T, std::size_t N>
struct IsSequence<std::array<T, N>> : std::true_type {};

// Builds one log line argument by argument.
class TCallLine {
public:
    explicit TCallLine(std::string_view function) : FFunction(function), FText(function) {
        FText += '(';
    }

    template <class T>
    void Add(const T& value) {
        if constexpr (std::is_arithmetic_v<T>) {
            if constexpr (std::is_integral_v<T>)
                FPreviousInteger = static_cast<long long>(value);
            Append(FormatScalar(value));
        } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
            Append(value ? "\"" + std::string(value) + "\"" : "null");
        } else if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
            AddPointer(value);
        } else if constexpr (IsSequence<T>::value) {
            Append(FormatValues(value.data(), value.size()));
        } else {
            static_assert(std::is_pointer_v<T>, "no log format for this argument type");
        }
    }

    std::string Take() { return std::move(FText) + ')'; }

private:
    template <class T>
    void AddPointer(T value) {
        if constexpr (std::is_pointer_v<T>) {
            using Pointee = std::remove_pointer_t<T>;
            if constexpr (std::is_const_v<Pointee> && std::is_arithmetic_v<std::remove_const_t<Pointee>>) {
                const int count = value ? ValueCount(FFunction, FPreviousInteger) : -1;
                if (count >= 0) {
                    Append(FormatValues(value, static_cast<std::size_t>(count)));
                    return;
                }
            }
        }
        Append(value ? "ptr" : "null");
    }

    void Append(const std::string& text) {
        if (!FFirst)
            FText += ", ";
        FFirst = false;
        FText += text;
    }

    std::string FFunction;
    std::string FText;
    bool FFirst = true;
    long long FPreviousInteger = -1;
};

} // namespace gl_recording

// The line the recorder logs for this call, for writing expectations with GL
// constants: RecordedCall("glEnable", GL_DEPTH_TEST) == "glEnable(2929)".
// std::vector and std::array arguments print as brace lists.
template <class... A>
std::string RecordedCall(std::string_view function, A... args) {
    gl_recording::TCallLine line(function);
    (line.Add(args), ...);
    return line.Take();
}

class TGLRecorder {
public:
    TGLRecorder();
    ~TGLRecorder();
    TGLRecorder(const TGLRecorder&) = delete;
    TGLRecorder& operator=(const TGLRecorder&) = delete;

    std::vector<std::string> Log() const;
    void ClearLog();

    // Answers to queries. A string never set answers null; a glGet* of a
    // pname never set writes one 0.
    void SetString(GLenum name, std::string value);     // glGetString
    void SetGLUString(GLenum name, std::string value);  // gluGetString
    void SetBooleans(GLenum pname, std::vector<GLboolean> values);  // glGetBooleanv, glIsEnabled
    void SetIntegers(GLenum pname, std::vector<GLint> values);      // glGetIntegerv
    void SetFloats(GLenum pname, std::vector<GLfloat> values);      // glGetFloatv, glGetDoublev
    // glGetError answers these in order, then GL_NO_ERROR.
    void PushError(GLenum error);
    // glGenLists and glGenTextures count up from 1.

    // Pixel formats: wglDescribePixelFormat (and DescribePixelFormat) counts
    // and describes these, numbered from 1. wglGetPixelFormat answers the
    // format last set with SetPixelFormat, or the one given here (0 at start).
    void SetPixelFormats(std::vector<PIXELFORMATDESCRIPTOR> formats);
    void SetPixelFormat(int format);
    void FailSetPixelFormat(bool fail);  // SetPixelFormat then reports false
    void FailMakeCurrent(bool fail);     // binding a context then reports false
    // LoadOpenGL, until this recorder goes, installs the recording table
    // instead of the driver's libraries, so code that loads OpenGL itself
    // (the device) runs against the recorder.
    void StandInForLibraries();

    // Extension entry points. Provide binds the named ones in the table at
    // once and lets wglGetProcAddress answer them, so an activation binds
    // them again when their extension or core version is reported. Throws
    // std::invalid_argument for a name outside the extension group.
    void Provide(std::initializer_list<std::string_view> names);
    // Make wglGetProcAddress answer every name, like drivers that hand out a
    // dispatch stub for any name.
    void ProvideAnyName(bool on);

    // The context handle wglCreateContext returns.
    static HGLRC Context();

    struct TState;

private:
    std::unique_ptr<TState> FState;
    TGLBinding FPrevious;
    TState* FOuter = nullptr;  // the recorder this one took over from
    std::unique_ptr<TGLEntryPoints> FStandIn;
};

} // namespace vendrake
